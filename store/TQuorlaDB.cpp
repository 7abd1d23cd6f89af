#include "TQuorlaDB.h"

#include "AlarmRecord.h"
#include "BinRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorlaDB.h"
#include "HolderNoteRecord.h"
#include "BookingRecord.h"
#include "DetailRecord.h"
#include "ResourceRecord.h"
#include "TServerBookings.h"
#include "ImportRecord.h"
#include "IsamCode.h"
#include "TIsamConnection.h"
#include "TIsamEngine.h"
#include "PostgresConnection.h"
#include "RecordKey.h"
#include "RecordLockFile.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TChangeTrail.h"
#include "TClientNames.h"
#include "TDetailHeads.h"
#include "THolderNotes.h"
#include "TKeyMarks.h"
#include "TServices.h"
#include "TWorkstationStore.h"
#include "TrailRecord.h"
#include "UserRecord.h"

#include <QMutex>
#include <QSet>
#include <QTimeZone>

namespace {

const QString RootPathValue = QStringLiteral("RootPath");

const QString MissingPathWarning = QStringLiteral(
    "The Quorla Database path could not be found\r\r"
    "You will now be asked for the location of the Quorla Database,\r"
    "If you would like to create a NEW Database, simply select the folder\r"
    "you would like the Database created in.\r\r"
    "If you wish to connect to an existing Database, Please choose the Folder that contains the Quorla Database.");

const QString LocksIgnored = QStringLiteral(
    "Record locks do not work in the Quorla Database folder.\r\r"
    "Changes made by two workstations at the same moment are not protected there.");

const QString PickerCaption = QStringLiteral("Select Quorla Database Location?");

constexpr qint16 KeyLength = 10;

const QString NotSet = QStringLiteral("Quorla root path has not been set in registry");

// Refuses a location that is neither a folder nor a server's URI (an empty one
// with the old words for it).
void checkLocation(const QString& text, const TDatabaseLocation& location)
{
    if (text.isEmpty())
        throw EQuorlaDB(NotSet);
    if (!location.IsValid())
        throw EQuorlaDB(QStringLiteral("Unable to use the Quorla Database location\r\r") + location.Error());
}

} // namespace

TQuorlaDB::TQuorlaDB(TServices services)
    : services_(services)
{
    locateRootPath();
    connectAll();
    adoptOfficeZone();
}

TDatabaseLocation TQuorlaDB::StoredLocation(TServices services)
{
    TQuorlaDB located(services, nullptr);
    return located.location_;
}

TQuorlaDB::TQuorlaDB(TServices services, std::nullptr_t)
    : services_(services)
{
    locateRootPath();
}

bool TQuorlaDB::LogsInAsPerson(const TDatabaseLocation& location)
{
    return location.IsServer() && !PostgresConnection::namesUser(location.Path().toUtf8());
}

TQuorlaDB::TQuorlaDB(TServices services, const TDatabaseLocation& location, const TLogin& login)
    : services_(services), location_(location)
{
    checkLocation(location.Path(), location);
    connection_ = TIsamEngine::forName(RootPath()).connect(RootPath());
    auto* server = ServerConnection();
    if (server == nullptr)
        throw EQuorlaDB(QStringLiteral("Unable to log in: the database is no server's"));
    server->setLogin(login.role.toUtf8(), login.password.toUtf8());
    server->beginCall();
    if (server->ensure() != IsamOk) {
        const QString reason = server->reason();
        if (server->refusedLogin())
            throw ERefused(reason);
        throw EQuorlaDB(QStringLiteral("Unable to open user isam\r\r") + reason);
    }
    connectAll();
    // The desktop program's connection, as the one without a location.
    if (login.keepsZone)
        adoptOfficeZone();
}

PostgresConnection* TQuorlaDB::ServerConnection() const
{
    return dynamic_cast<PostgresConnection*>(connection_.get());
}

bool TQuorlaDB::KeepsRoles()
{
    PostgresConnection* server = ServerConnection();
    if (server == nullptr)
        return false;
    if (keepsRoles_ < 0) {
        server->beginCall();
        PostgresConnection::Result result;
        // Not known now (the server away): the write that follows fails in
        // its own words, and a password could never be stored, since a
        // database that keeps roles refuses one.
        if (server->exec({}, "SELECT to_regclass('quorla_roles') IS NOT NULL", nullptr, 0, result) != IsamOk
            || result.rows() != 1)
            return false;
        keepsRoles_ = result.number(0, 0) != 0 ? 1 : 0;
    }
    return keepsRoles_ == 1;
}

TQuorlaDB::TQuorlaDB(TServices services, const TDatabaseLocation& location, Opening opening)
    : services_(services), location_(location), opening_(opening)
{
    checkLocation(location.Path(), location);
    connectAll();
}

void TQuorlaDB::connectAll()
{
    if (!connection_)
        connection_ = TIsamEngine::forName(RootPath()).connect(RootPath());
    users_ = connect(UserRecord::FileName, UserRecord::Format, QStringLiteral("Unable to create user isam\r\r"),
                     QStringLiteral("Unable to open user isam\r\r"));
    alarms_ = connect(AlarmRecord::FileName, AlarmRecord::Format, QStringLiteral("Unable to create alarm isam\r\r"),
                      QStringLiteral("Unable to open alarm isam\r\r"));
    categories_ = connect(CategoryRecord::FileName, CategoryRecord::Format,
                          QStringLiteral("Unable to create category isam\r\r"),
                          QStringLiteral("Unable to open category isam\r\r"));
    dayEntries_ = connect(DayEntryRecord::FileName, DayEntryRecord::Format,
                          QStringLiteral("Unable to create day entry isam\r\r"),
                          QStringLiteral("Unable to open day entry isam\r\r"));
    if (opening_ == Opening::CreateMissing) {
        // Before anything is added: no new record may take a key that an
        // old record still points at. A reader adds nothing and writes no
        // mark.
        TKeyMarks::Seed(*this);
        warnUnlessLocksWork();
    }
    connectRecordKeeping();
    connectSeries();
    // Made with the others, so that a copy of the database carries it; a
    // connection that makes nothing opens it when an import asks.
    if (opening_ == Opening::CreateMissing) {
        QString ignored;
        connectImportMap(ignored);
    }
    QString noDetails;
    details_ = connectOptional(DetailRecord::FileName, DetailRecord::Format, noDetails, true);
    QString noBin;
    bin_ = connectOptional(BinRecord::FileName, BinRecord::Format, noBin);
    connectBookings();
}

void TQuorlaDB::connectBookings()
{
    QString reason;
    resources_ = connectOptional(ResourceRecord::FileName, ResourceRecord::Format, reason, true);
    if (resources_)
        bookings_ = connectOptional(BookingRecord::FileName, BookingRecord::Format, reason, true);
    if (!bookings_) {
        resources_.reset();
        return;
    }
    // A reader books nothing; a session that cannot set the guard up (no
    // right to, no btree_gist on the server) says so, once, and books with
    // the resources' locks alone.
    if (opening_ == Opening::CreateMissing && !(reason = TServerBookings::Ensure(*this)).isEmpty())
        WarnOnce(QStringLiteral("The server does not refuse overlapping bookings of a resource by itself: its "
                                "guard cannot be set up (the extension btree_gist is needed).\r\r")
                 + reason);
}

void TQuorlaDB::MakeBookingDatasets()
{
    if (bookings_)
        return;
    const Opening opening = opening_;
    opening_ = Opening::CreateMissing;
    connectBookings();
    opening_ = opening;
}

void TQuorlaDB::connectImportMap(QString& reason)
{
    importMap_ = connectOptional(ImportRecord::FileName, ImportRecord::Format, reason, true);
    // Clients' names written while they were shared become their users'
    // own here, where no server's set-up does it (TServerRoles). What
    // cannot be done now is done at the next opening: an old row only
    // goes once its user's row is written.
    if (importMap_ && !KeepsRoles()) {
        try {
            TClientNames::AdoptShared(*this);
        } catch (const EQuorla&) {
        }
    }
}

void TQuorlaDB::connectSeries()
{
    series_ = connectOptional(SeriesRecord::FileName, SeriesRecord::Format, seriesReason_, true);
    if (series_)
        seriesLinks_ = connectOptional(SeriesLinkRecord::FileName, SeriesLinkRecord::Format, seriesReason_, true);
    if (!seriesLinks_)
        series_.reset();
}

TXIsamFile* TQuorlaDB::ImportMap(QString& reason)
{
    if (!importMap_) {
        const Opening opening = opening_;
        opening_ = Opening::CreateMissing;
        connectImportMap(reason);
        opening_ = opening;
    }
    return importMap_.get();
}

void TQuorlaDB::connectRecordKeeping()
{
    actingUser_ = QString(RecordKey::None);
    QString reason;
    trail_ = std::make_unique<TChangeTrail>(*this, connectOptional(TrailRecord::FileName, TrailRecord::Format, reason),
                                            reason);
    // A reader records nothing: a trail it lacks is no news.
    if (opening_ == Opening::CreateMissing)
        trail_->TellIfUnavailable();
    QString ignored;
    holders_ = std::make_unique<THolderNotes>(
        *this, connectOptional(HolderNoteRecord::FileName, HolderNoteRecord::Format, ignored));
}

std::unique_ptr<TXIsamFile> TQuorlaDB::makeOptional(const QString& fileName, const QString& format, bool synced)
{
    const Opening opening = opening_;
    opening_ = Opening::CreateMissing;
    QString ignored;
    auto made = connectOptional(fileName, format, ignored, synced);
    opening_ = opening;
    return made;
}

void TQuorlaDB::MakeDetails()
{
    if (!details_)
        details_ = makeOptional(DetailRecord::FileName, DetailRecord::Format, true);
}

void TQuorlaDB::MakeBin()
{
    if (!bin_)
        bin_ = makeOptional(BinRecord::FileName, BinRecord::Format, false);
}

TDetailHeads& TQuorlaDB::DetailHeads()
{
    if (!detailHeads_)
        detailHeads_ = std::make_unique<TDetailHeads>();
    return *detailHeads_;
}

void TQuorlaDB::MakeHolderNotes()
{
    if (holders_->Available())
        return;
    const Opening opening = opening_;
    opening_ = Opening::CreateMissing;
    QString ignored;
    auto notes = connectOptional(HolderNoteRecord::FileName, HolderNoteRecord::Format, ignored);
    opening_ = opening;
    if (notes)
        holders_ = std::make_unique<THolderNotes>(*this, std::move(notes));
}

std::unique_ptr<TXIsamFile> TQuorlaDB::connectOptional(const QString& fileName, const QString& format, QString& reason,
                                                       bool synced)
{
    auto dataset = std::make_unique<TXIsamFile>();
    dataset->ShareConnection(connection_);
    const QString path = datasetPath(fileName);
    if (!dataset->Exists(path)) {
        if (dataset->LastError() != IsamNotFound) {
            reason = QStringLiteral("Unable to open %1\r\r%2").arg(fileName, dataset->ErrorText());
            return nullptr;
        }
        if (opening_ == Opening::ExistingOnly) {
            reason = QStringLiteral("%1 is missing").arg(fileName);
            return nullptr;
        }
        if (!dataset->CreateDataset(path, KeyLength, format) && dataset->LastError() != IsamNameInUse) {
            reason = QStringLiteral("Unable to create %1\r\r%2").arg(fileName, dataset->ErrorText());
            return nullptr;
        }
    }
    if (!dataset->Open(path, synced ? IsamOpenShared : (IsamOpenShared | IsamOpenUnsynced))) {
        reason = QStringLiteral("Unable to open %1\r\r%2").arg(fileName, dataset->ErrorText());
        return nullptr;
    }
    return dataset;
}

const QString& TQuorlaDB::Workstation()
{
    if (workstation_.isNull())
        workstation_ = services_.machine().hostName();
    return workstation_;
}

void TQuorlaDB::WarnOnce(const QString& text)
{
    // Connections may be opened from several threads at once (quorla_dav).
    static QMutex guard;
    static QSet<QString> warned;
    const QString topic = RootPath() + QLatin1Char('\n') + text.section(QLatin1Char('\r'), 0, 0);
    {
        const QMutexLocker lock(&guard);
        if (warned.contains(topic))
            return;
        warned.insert(topic);
    }
    services_.person().message(TPersonServices::MessageKind::Warning, TPersonServices::MessageButtons::Ok, text);
}

void TQuorlaDB::warnUnlessLocksWork()
{
    // Once per folder and process: the program connects twice (views and alarm
    // poll), and the answer is the folder's.
    static QMutex guard;
    static QString warnedFolder;
    // A server's record locks are its own, not a file system's.
    if (location_.IsServer())
        return;
    QMutexLocker lock(&guard);
    if (warnedFolder == RootPath()
        || RecordLockFile::locksWork(datasetPath(UserRecord::FileName) + QStringLiteral(".lck")))
        return;
    warnedFolder = RootPath();
    lock.unlock();
    services_.person().message(TPersonServices::MessageKind::Warning, TPersonServices::MessageButtons::Ok, LocksIgnored);
}

TQuorlaDB::~TQuorlaDB()
{
    trail_.reset();
    holders_.reset();
    seriesLinks_.reset();
    series_.reset();
    bookings_.reset();
    resources_.reset();
    users_.reset();
    alarms_.reset();
    categories_.reset();
    dayEntries_.reset();
    connection_.reset();
}

void TQuorlaDB::adoptOfficeZone()
{
    // Read first: a write at every start would wait on other workstations.
    QString kept;
    if (users_->ReadSetting(QString(OfficeZoneSetting), kept) || users_->LastError() != IsamNotFound)
        return;
    kept = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    if (!kept.isEmpty())
        users_->WriteSetting(QString(OfficeZoneSetting), kept, true);
}

QByteArray TQuorlaDB::OfficeZone()
{
    QString zone;
    if (users_->ReadSetting(QString(OfficeZoneSetting), zone) && QTimeZone::isTimeZoneIdAvailable(zone.toUtf8()))
        return zone.toUtf8();
    return QTimeZone::systemTimeZoneId();
}

void TQuorlaDB::SetOfficeZone(const QByteArray& zone)
{
    if (!QTimeZone::isTimeZoneIdAvailable(zone))
        throw EQuorlaDB(QStringLiteral("Unknown time zone %1").arg(QString::fromUtf8(zone)));
    QString value = QString::fromUtf8(zone);
    if (!users_->WriteSetting(QString(OfficeZoneSetting), value, false))
        throw EQuorlaDB(QStringLiteral("Unable to store the office's time zone\r\r") + users_->ErrorText());
}

void TQuorlaDB::locateRootPath()
{
    TWorkstationStore store;
    // The settings are loaded before the database at start-up and create the
    // key; a missing key means the workstation's store itself is unusable.
    if (!store.OpenKey(false))
        throw EQuorlaDB(QStringLiteral("Unable to locate Quorla root path in registry"));

    QString stored = store.ReadString(RootPathValue, QString());
    if (stored.isEmpty()) {
        TPersonServices& person = services_.person();
        person.message(TPersonServices::MessageKind::Warning, TPersonServices::MessageButtons::Ok, MissingPathWarning);
        const QString chosen = person.pickFolder(PickerCaption);
        if (chosen.isEmpty())
            throw EQuorlaDB(QStringLiteral("Unable to locate Quorla Database!"));
        stored = chosen;
        // Stored before any dataset is touched, so that a failure below does not
        // make the next start ask again. A store that cannot be written only
        // means the next start asks again; this run goes on with the choice.
        store.WriteString(RootPathValue, stored);
    }
    store.CloseKey();

    // Only the path in memory gains the separator; the stored value stays as
    // it was written. A value this build cannot use (one an older build took
    // from the command line) is refused here, by name, rather than met as a
    // strange folder.
    location_ = TDatabaseLocation(stored);
    checkLocation(stored, location_);
}

QString TQuorlaDB::datasetPath(const QString& fileName) const
{
    return location_.DatasetName(fileName);
}

std::unique_ptr<TXIsamFile> TQuorlaDB::connect(const QString& fileName, const QString& format,
                                               const QString& createMessage, const QString& openMessage)
{
    auto dataset = std::make_unique<TXIsamFile>();
    dataset->ShareConnection(connection_);

    const QString path = datasetPath(fileName);
    // Only a missing dataset is created: a database holding some of them
    // keeps them, and one that is there but cannot be opened is reported,
    // never replaced. One that another workstation created between the look
    // and the creation is simply there.
    if (!dataset->Exists(path)) {
        if (dataset->LastError() != IsamNotFound)
            throw EQuorlaDB(openMessage + dataset->ErrorText());
        if (opening_ == Opening::ExistingOnly)
            throw EQuorlaDB(
                QStringLiteral("%1 holds no %2: it is no Quorla database").arg(location_.Printable(), fileName));
        if (!dataset->CreateDataset(path, KeyLength, format) && dataset->LastError() != IsamNameInUse)
            throw EQuorlaDB(createMessage + dataset->ErrorText());
    }
    if (!dataset->Open(path, IsamOpenShared))
        throw EQuorlaDB(openMessage + dataset->ErrorText());
    return dataset;
}

void TQuorlaDB::reopen(TXIsamFile& dataset, const QString& fileName, const QString& openMessage)
{
    dataset.Close();
    if (!dataset.Open(datasetPath(fileName), IsamOpenShared))
        throw EQuorlaDB(openMessage + dataset.ErrorText());
}

void TQuorlaDB::ReleaseIdleSession(int idleMs)
{
    if (connection_)
        connection_->releaseIfIdle(idleMs);
}

void TQuorlaDB::ReopenUsersAndCategories()
{
    reopen(*users_, UserRecord::FileName, QStringLiteral("Unable to open user isam\r\r"));
    reopen(*categories_, CategoryRecord::FileName, QStringLiteral("Unable to open category isam\r\r"));
}

void TQuorlaDB::InitUserRecord(UserRecord& record)
{
    record.clear();
}

void TQuorlaDB::InitAlarmRecord(AlarmRecord& record)
{
    record.clear();
    stamp_.SetNow();
    record.setAlarmTime(stamp_.Key());
}

void TQuorlaDB::InitDayEntryRecord(DayEntryRecord& record)
{
    record.initialise();
}
