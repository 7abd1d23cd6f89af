#pragma once

#include <QString>
#include <QStringList>

// The load of an office on a database server: N workstations, each with a
// server session of its own (the alarm poll's database object), each polling
// its user's alarms every 10 seconds as the program's timer does - the whole
// poll (TAlarmPoller: the repeating events' extension, the user's rights where
// the server keeps roles, the look-up on the user-and-time index), which is
// what is timed - and adding an event with an alarm once a minute. Each session polls once before the timing starts, as a
// running workstation has long done. The workstations are spread over a few load processes (this
// program again, in worker mode), at random phases, so that polls meet at the
// server as they would from many machines.
//
// Only for a private server on this machine (a UNIX socket or the loopback
// address): the load is bounded by the given count and time and stops by
// itself.
class TOfficeLoad
{
public:
    struct Figures
    {
        int workstations = 0;
        qint64 polls = 0;
        qint64 writes = 0;
        qint64 failures = 0;
        double medianMs = 0;
        double p99Ms = 0;
        double maxMs = 0;
        // The baseline, timed beside each poll in the same load process: a
        // bare "SELECT 1" round trip to the same server on a session of its
        // own, which shows what the machine itself adds to the tail.
        double rawMedianMs = 0;
        double rawP99Ms = 0;
        // The server's sessions on the database, sampled every second while
        // the load ran: the most at once, and the most of them busy at once.
        int sessions = 0;
        int busySessions = 0;
        QString error;
    };

    // Runs `workstations` workstations for `seconds` against the Quorla
    // database at `uri` (which must hold the users "1" to `workstations`, as
    // prepare() makes them) in `processes` load processes started as
    // `program` "officeload-worker" ... With a `password`, each workstation
    // logs in as its user's own server role with it (`uri` names no user):
    // the server's row policies then bind every call.
    static Figures run(const QString& program, const QString& uri, int workstations, int seconds, int processes,
                       const QString& password = QString());

    // Makes the users of `workstations` workstations in the Quorla database at
    // `uri`, named U1, U2 ..., each with an alarm an hour ahead and
    // `password`. False on failure.
    static bool prepare(const QString& uri, int workstations, const QString& password = QString());

    // Makes each of the `workstations` users prepare() made a server role of
    // his own, with the password his record holds, as the database's owner
    // (the URI's role) adopts them. False on failure, said on standard error.
    static bool adoptRoles(const QString& uri, int workstations);

    // The load process: `arguments` are what run() passes after
    // "officeload-worker". Answers the exit status.
    static int workerMain(const QStringList& arguments);

    // Prints one line of figures.
    static void print(const Figures& figures);
};
