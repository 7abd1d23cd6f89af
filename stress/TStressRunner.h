#pragma once

#include "TServices.h"

#include <QString>

class TQuorlaDB;

// Runs a stress round: makes a fresh database - in the folder, or on the
// server `database` names, whose database must be empty - with one user per
// worker and one guest each (every third worker from the first an
// administrator, the others plain users, some with the right to change
// others' entries); on a server every user is a server role of his own, as
// an administrator sets them up, and each worker logs in as his own
// (WorkerPassword), never as the role `database` names, starts the worker processes (this program again, in
// worker mode) on it for the given time, kills a random worker with SIGKILL
// the given number of times at random moments - checking from here that the
// killed worker's record locks are free at once - and starts it again, then
// waits for the workers and runs the checker. Prints the figures.
class TStressRunner
{
public:
    // `database` empty: the database is the folder itself.
    TStressRunner(TServices services, QString program, QString folder, QString database, int workers, int seconds, int kills);

    // 0 when every check held.
    int run();

    // The name and rights of worker `user`'s user, and his role's password.
    // The rooms the workers book, made with the users.
    static constexpr int Rooms = 3;
    static QString WorkerName(int user);
    static qint32 WorkerRights(int user);
    static QString WorkerPassword(int user);

private:
    TServices services_;
    bool prepareFolder();
    // The database holds nothing, and has held nothing: the checker must be
    // able to explain every record by the logs.
    bool databaseEmpty(TQuorlaDB& database);
    // The workers' users and their guests, logged as the runner's writes;
    // on a server each one's role too.
    bool addUsers(TQuorlaDB& database);
    qint64 spawn(int user, int incarnation, qint64 until);

    QString program_;
    QString folder_;
    QString database_;
    int workers_;
    int seconds_;
    int kills_;
};
