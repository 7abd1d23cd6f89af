#pragma once

#include "EQuorlaDB.h"
#include "TDatabaseLocation.h"
#include "TServices.h"
#include "TStamp.h"
#include "TXIsamFile.h"

#include <QString>

#include <memory>

class AlarmRecord;
class DayEntryRecord;
class TChangeTrail;
class TDetailHeads;
class THolderNotes;
class PostgresConnection;
class TIsamConnection;
class UserRecord;

// The connection of this workstation to the shared database: it finds the
// database folder, creates whichever of the four datasets is missing there,
// and holds all four open for its lifetime. A folder chosen for the first time
// becomes a new, empty database simply by being chosen.
//
// The database is a folder, or a PostgreSQL database when the stored location
// is a libpq connection URI ("postgresql://..." or "postgres://..."); the
// four datasets are then tables there, created the same way when missing, and
// the object's four datasets share one server session.
//
// Every object has its own handles and so its own scan positions: the alarm
// poll uses a second object so that its reads never move the views' scans.
//
// Beside the four datasets it keeps two that only look on: the change trail
// (TChangeTrail) and the notes of who holds a lock for editing
// (THolderNotes), created when missing like the others. A database where
// either cannot be made or opened still connects and works without it; the
// trail's absence is told once.
//
// It is handed the services it works with: the person, whom it warns and
// asks for a folder, and the machine, whose host name names this
// workstation. They must outlive it.
class TQuorlaDB
{
public:
    // Connects. The folder is the workstation's "RootPath" value; when there is
    // none the person is warned and asked for a folder, and
    // the choice is stored at once, before any dataset is touched, so that it
    // stays even if a later step fails. Then each dataset - users, alarms,
    // categories, day entries - is created when its file is missing and
    // opened; one that another workstation created a moment before is just
    // opened. Then the datasets' key marks are made sure of (TKeyMarks), so
    // that no new record takes a key an old one points at. Throws EQuorlaDB
    // on the first failure; nothing after it is created or opened. Last, a
    // folder whose file system does not honour record locks is reported once
    // in a warning, and the connection stands.
    explicit TQuorlaDB(TServices services);
    enum class Opening {
        CreateMissing, // as a workstation connects: a missing dataset is made
        ExistingOnly,  // only reads what is there: no dataset is made, a
                       // database without one of the four is refused, and
                       // no lock warning is given
    };
    // Connects to the database at `location` without reading or writing the
    // workstation's settings: for the command-line tools, which are told
    // where the database is. Throws EQuorlaDB for a refused location too.
    TQuorlaDB(TServices services, const TDatabaseLocation& location, Opening opening = Opening::CreateMissing);

    // A person's own log-in to a server: his server role (TServerRoles) and
    // password open the session, in place of the user the URI would give.
    struct TLogin
    {
        QString role;
        QString password;
        // Whether this machine's zone becomes the office's when the database
        // has none: a workstation's does, a service's (which may run
        // anywhere) never.
        bool keepsZone = true;
    };
    // Connects to the server at `location` as `login`; when the server refuses
    // who he is, throws ERefused (no session is left open). Creates what is
    // missing and, as `login` says, keeps the office's zone, as the desktop
    // program's connection without a location does.
    TQuorlaDB(TServices services, const TDatabaseLocation& location, const TLogin& login);
    class ERefused;

    // The location this workstation stores, asking for one (and storing the
    // choice) when there is none; as the default constructor finds it.
    static TDatabaseLocation StoredLocation(TServices services);

    // Whether `location` is a server used with each person's own role: its
    // URI names no user. One that names one is used by that role for every
    // person, and the program checks the log-in (tools, and databases set up
    // before roles).
    static bool LogsInAsPerson(const TDatabaseLocation& location);
    ~TQuorlaDB();
    TQuorlaDB(const TQuorlaDB&) = delete;
    TQuorlaDB& operator=(const TQuorlaDB&) = delete;

    // Stamps new alarm records with the current moment.
    TStamp& Stamp() { return stamp_; }
    // Where the database is.
    const TDatabaseLocation& Location() const { return location_; }
    // The database folder, always ending in "/"; or the server's URI as it
    // is stored.
    const QString& RootPath() const { return location_.Path(); }

    TXIsamFile& Users() { return *users_; }
    TXIsamFile& Alarms() { return *alarms_; }
    TXIsamFile& Categories() { return *categories_; }
    TXIsamFile& DayEntries() { return *dayEntries_; }

    // The repeating events (SeriesRecord) and the links of their
    // occurrences (SeriesLinkRecord), created when missing like the others;
    // null when either cannot be had (this database then has no repeating
    // events, and the store's writers say so). Written synchronously like
    // the four datasets.
    TXIsamFile* Series() { return series_.get(); }
    TXIsamFile* SeriesLinks() { return seriesLinks_.get(); }
    // Why Series() is null; empty when it is not.
    const QString& SeriesUnavailable() const { return seriesReason_; }

    // The map of imported calendar events (ImportRecord), created when
    // missing like the trail; a connection that opens only what exists
    // opens it, and creates it when missing, on the first call (an import,
    // which writes anyway). Null, with `reason` saying why, when it cannot
    // be had.
    TXIsamFile* ImportMap(QString& reason);

    // The details of entries and series' templates (DetailRecord), created
    // when missing like the series; null when it cannot be had (entries then
    // have none, and TDetailsStore answers empty details). Written
    // synchronously like the four datasets.
    TXIsamFile* Details() { return details_.get(); }
    // Makes the details dataset where it is missing, as a connection that
    // opens only what exists leaves it: for whoever sets up a database for
    // others (a server's roles, which cannot make a dataset themselves).
    void MakeDetails();
    // The details' heads as this connection last read them (TDetailsStore's
    // batch reads for the views go by them while they are current).
    TDetailHeads& DetailHeads();

    // The bin of deleted entries and series (BinRecord, TBin), created when
    // missing like the details; null when it cannot be had (deletions then
    // keep nothing). Its writes do not wait for the disk, as the trail's.
    TXIsamFile* Bin() { return bin_.get(); }
    // Makes the bin where it is missing, as MakeDetails does the details.
    void MakeBin();
    // The resources events book (ResourceRecord) and their bookings
    // (BookingRecord), created when missing like the details; both null when
    // either cannot be had (this database then books nothing). Written
    // synchronously like the four datasets. On a server, the bookings'
    // table refuses two overlapping bookings of one resource
    // (TServerBookings), set up by whoever creates it.
    TXIsamFile* Resources() { return resources_.get(); }
    TXIsamFile* Bookings() { return bookings_.get(); }
    // Makes both where they are missing, as MakeDetails does.
    void MakeBookingDatasets();

    TChangeTrail& Trail() { return *trail_; }
    THolderNotes& Holders() { return *holders_; }
    // Makes the holder notes where they are missing, as a connection that
    // opens only what exists leaves them: for whoever sets up a database
    // for others (a server's roles, which cannot make a dataset themselves).
    void MakeHolderNotes();
    // The user in whose name the trail and the holder notes record changes
    // and locks: the logged-in user's key ("0000000000" until one is set).
    void SetActingUser(const QString& userKey) { actingUser_ = userKey; }
    const QString& ActingUser() const { return actingUser_; }
    // This workstation's host name, as the machine gives it (asked once,
    // when first needed).
    const QString& Workstation();
    // Names the workstation in the trail and the holder notes in place of
    // the host name: a service names itself and its client.
    void SetWorkstation(const QString& name) { workstation_ = name; }
    // Shows `text` in a warning, once per database folder or server and
    // first line of text for the whole process.
    void WarnOnce(const QString& text);

    // The office's time zone, an IANA name ("Europe/Berlin"): the zone of the
    // entries' wall-clock times for the calendar export and its feed, kept in
    // the users dataset for every workstation. A database without one yet
    // answers this workstation's zone; the desktop program's connection (the
    // constructor without a folder) stores it then, so a database takes the
    // zone of the first workstation that uses it, never that of a server
    // running a command-line tool.
    QByteArray OfficeZone();
    // Stores `zone`, a name QTimeZone knows, for every workstation. Throws
    // EQuorlaDB when the name is unknown or the value cannot be written.
    void SetOfficeZone(const QByteArray& zone);
    // The name under which the users dataset keeps the office's zone.
    static constexpr QLatin1StringView OfficeZoneSetting{"officezone"};

    // Closes and reopens the users and then the categories dataset, so that
    // changes made through other handles are seen and the positions start
    // afresh. Throws EQuorlaDB when one cannot be opened again.
    void ReopenUsersAndCategories();

    // The server session the datasets share; null for a folder.
    PostgresConnection* ServerConnection() const;
    // Whether the database keeps its users as server roles (TServerRoles):
    // asked once, then remembered until ForgetRoles; false, and asked again
    // next time, when the server cannot answer.
    bool KeepsRoles();
    void ForgetRoles() { keepsRoles_ = -1; }

    // Lets a server session that has been idle for `idleMs` go (see
    // TIsamConnection::releaseIfIdle): a workstation left alone then holds
    // only its alarm poll's session. Nothing for a folder.
    void ReleaseIdleSession(int idleMs);

    // What the datasets share (a server session); null for a folder.
    const std::shared_ptr<TIsamConnection>& Connection() const { return connection_; }

    // Fill a caller's buffer with the contents of a new record: a user all
    // zero; an alarm all zero but for `AlarmTime`, the key of the current
    // moment; a day entry as DayEntryRecord::initialise() makes it.
    void InitUserRecord(UserRecord& record);
    void InitAlarmRecord(AlarmRecord& record);
    void InitDayEntryRecord(DayEntryRecord& record);

private:
    // Only finds the location (StoredLocation).
    TQuorlaDB(TServices services, std::nullptr_t);
    void locateRootPath();
    // Creates what is missing (unless only existing datasets are opened) and
    // opens the four datasets, then the change trail and the holder notes.
    void connectAll();
    // Warns, and goes on, when the folder's file system ignores record locks.
    void warnUnlessLocksWork();
    std::unique_ptr<TXIsamFile> connect(const QString& fileName, const QString& format,
                                        const QString& createMessage, const QString& openMessage);
    void reopen(TXIsamFile& dataset, const QString& fileName, const QString& openMessage);
    // As connect, for a dataset the database works without: null, and
    // `reason` telling why, when it cannot be had.
    // Opened unsynced unless `synced` (data the program works from, not only
    // looks on).
    std::unique_ptr<TXIsamFile> connectOptional(const QString& fileName, const QString& format, QString& reason,
                                                bool synced = false);
    // connectOptional of a dataset made where missing, however this
    // connection opens.
    std::unique_ptr<TXIsamFile> makeOptional(const QString& fileName, const QString& format, bool synced);
    void connectSeries();
    void connectBookings();
    void connectImportMap(QString& reason);
    void connectRecordKeeping();
    // Keeps this workstation's zone as the office's when there is none yet;
    // a database that cannot take it works on without.
    void adoptOfficeZone();

    // The name under which dataset `fileName` of this database is opened.
    QString datasetPath(const QString& fileName) const;

    TServices services_;
    TStamp stamp_;
    TDatabaseLocation location_;
    Opening opening_ = Opening::CreateMissing;
    // What the four datasets share (a server session); null for a folder.
    std::shared_ptr<TIsamConnection> connection_;
    std::unique_ptr<TXIsamFile> users_;
    std::unique_ptr<TXIsamFile> alarms_;
    std::unique_ptr<TXIsamFile> categories_;
    std::unique_ptr<TXIsamFile> dayEntries_;
    QString actingUser_;
    QString workstation_;
    int keepsRoles_ = -1;
    std::unique_ptr<TChangeTrail> trail_;
    std::unique_ptr<THolderNotes> holders_;
    std::unique_ptr<TXIsamFile> series_;
    std::unique_ptr<TXIsamFile> seriesLinks_;
    QString seriesReason_;
    std::unique_ptr<TXIsamFile> importMap_;
    std::unique_ptr<TXIsamFile> details_;
    std::unique_ptr<TXIsamFile> bin_;
    std::unique_ptr<TXIsamFile> resources_;
    std::unique_ptr<TXIsamFile> bookings_;
    std::unique_ptr<TDetailHeads> detailHeads_;
};

// The server refused the person's log-in: no such role, or a wrong password
// (the server does not say which). The message is the server's.
class TQuorlaDB::ERefused : public EQuorlaDB
{
public:
    using EQuorlaDB::EQuorlaDB;
};
