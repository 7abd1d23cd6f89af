#include "TChangeTrail.h"

#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TClock.h"
#include "TChangeSummary.h"
#include "TCommandScope.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TStamp.h"
#include "TTextCapacity.h"
#include "TXIsamFile.h"
#include "TrailRecord.h"

#include <QThread>

#include <exception>

namespace {

const QString NotRecording = QStringLiteral(
    "Changes to the Quorla Database are not being recorded in its change trail.\r\r");
const QString NotSaved = QStringLiteral(
    "The change was not saved: its record in the change trail could not be written.\r\r");

// Keys tried by one record while other workstations record changes too.
constexpr int KeyAttempts = 50;
constexpr qint64 SecondsPerDay = 86400;
const QString Nines = QStringLiteral("9999999999");
const QString Zeros = QStringLiteral("0000000000");

QString fitted(const QString& text, int capacity)
{
    if (TTextCapacity::fits(text, capacity))
        return text;
    return TTextCapacity::cut(text, capacity - 3) + QStringLiteral("…");
}

// The current moment as a stamp of the writer's local time, and the offset
// from UTC that local time has then.
struct TNow
{
    qint64 seconds;
    int utcOffset;
};

TNow now()
{
    const QDateTime at = TClock::now();
    TStamp stamp;
    stamp.SetDateTime(at);
    return {stamp.Seconds(), at.offsetFromUtc()};
}

} // namespace

TChangeTrail::TChangeTrail(TQuorlaDB& database, std::unique_ptr<TXIsamFile> trail, QString reason)
    : database_(database), trail_(std::move(trail)), reason_(std::move(reason))
{
}

TChangeTrail::~TChangeTrail() = default;

QString TChangeTrail::ActionText(Action action)
{
    switch (action) {
    case Action::Setting:
        return QStringLiteral("Setting");
    case Action::EventAdded:
        return QStringLiteral("Event added");
    case Action::EventChanged:
        return QStringLiteral("Event changed");
    case Action::EventDeleted:
        return QStringLiteral("Event deleted");
    case Action::AlarmSnoozed:
        return QStringLiteral("Alarm snoozed");
    case Action::AlarmSwitchedOff:
        return QStringLiteral("Alarm switched off");
    case Action::UserAdded:
        return QStringLiteral("User added");
    case Action::UserChanged:
        return QStringLiteral("User changed");
    case Action::UserRemoved:
        return QStringLiteral("User removed by the wizard");
    case Action::CategoryAdded:
        return QStringLiteral("Category added");
    case Action::CategoryRenamed:
        return QStringLiteral("Category renamed");
    case Action::CategoryDeleted:
        return QStringLiteral("Category deleted");
    case Action::EventChangedByRemoval:
        return QStringLiteral("Event changed by a user's removal");
    case Action::EventDeletedByRemoval:
        return QStringLiteral("Event deleted by a user's removal");
    case Action::DaysKeptChanged:
        return QStringLiteral("Days kept changed");
    case Action::SeriesAdded:
        return QStringLiteral("Repeating event added");
    case Action::SeriesChanged:
        return QStringLiteral("Repeating event changed");
    case Action::SeriesDeleted:
        return QStringLiteral("Repeating event deleted");
    case Action::ResourceAdded:
        return QStringLiteral("Resource added");
    case Action::ResourceChanged:
        return QStringLiteral("Resource changed");
    case Action::ResourceDeleted:
        return QStringLiteral("Resource deleted");
    }
    return QStringLiteral("Change %1").arg(qint32(action));
}

void TChangeTrail::failed(const QString& why)
{
    database_.WarnOnce(NotRecording + why);
}

void TChangeTrail::writeFailed(const QString& why)
{
    // On a server the record is part of the change's transaction: the
    // change goes with it, undone, and nothing is acknowledged unrecorded.
    // A server lost on the way says so in its own words, as any other write
    // would (the outage's message).
    if (database_.Connection()) {
        const int code = trail_ ? trail_->LastError() : IsamOk;
        throw EQuorla(code == IsamServerLost || code == IsamServerUnreachable ? why : NotSaved + why);
    }
    failed(why);
}

void TChangeTrail::TellIfUnavailable()
{
    if (!trail_)
        failed(reason_);
}

void TChangeTrail::Record(const TChange& change)
{
    if (!trail_) {
        failed(reason_);
        return;
    }
    try {
        TrailRecord record;
        record.setAction(qint32(change.action));
        // A host name longer than the field (none on this platform) is
        // shortened: the trail only describes.
        record.setWorkstation(fitted(database_.Workstation(), TrailRecord::WorkstationCapacity));
        record.setTarget(change.dataset ? DatasetName(*change.dataset) : QString(), change.key, change.subject);
        record.setSummary(fitted(change.summary, TrailRecord::SummaryCapacity));
        const TNow moment = now();
        record.setUtcOffset(moment.utcOffset);
        for (int attempt = 0; attempt < KeyAttempts; ++attempt) {
            const QString key = trail_->NextKey();
            if (key.isEmpty())
                throw EQuorla(trail_->ErrorText());
            // The key is part of the record's order; another workstation that
            // took it meanwhile makes this one try the next.
            record.setMoment(moment.seconds, database_.ActingUser(), key);
            if (writer_.insertUnder(*trail_, key, record.bytes()))
                return;
            QThread::usleep(200);
        }
        throw EQuorla(trail_->ErrorText());
    } catch (const std::exception& e) {
        writeFailed(QString::fromUtf8(e.what()));
    }
}

void TChangeTrail::RecordAll(const QList<TChange>& changes)
{
    if (changes.isEmpty())
        return;
    if (!trail_) {
        failed(reason_);
        return;
    }
    try {
        const TNow moment = now();
        for (int attempt = 0; attempt < KeyAttempts; ++attempt) {
            const qint64 first = RecordKey::parse(trail_->NextKey());
            if (first <= 0)
                throw EQuorla(trail_->ErrorText());
            // Keys from the next one on, as Record takes one; another
            // workstation that took one of them meanwhile makes the whole
            // batch try again further on.
            QList<TXIsamFile::TBatchWrite> writes;
            writes.reserve(changes.size());
            for (qsizetype i = 0; i < changes.size(); ++i) {
                const TChange& change = changes[i];
                TrailRecord record;
                record.setAction(qint32(change.action));
                record.setWorkstation(fitted(database_.Workstation(), TrailRecord::WorkstationCapacity));
                record.setTarget(change.dataset ? DatasetName(*change.dataset) : QString(), change.key, change.subject);
                record.setSummary(fitted(change.summary, TrailRecord::SummaryCapacity));
                record.setUtcOffset(moment.utcOffset);
                const QString key = RecordKey::format(first + i);
                record.setMoment(moment.seconds, database_.ActingUser(), key);
                writes << TXIsamFile::TBatchWrite{TXIsamFile::TBatchWrite::Add, key, TRecordWriter::bytesOf(record.bytes())};
            }
            try {
                writer_.writeBatch(*trail_, writes);
                return;
            } catch (const EQuorla&) {
                if (trail_->LastError() != IsamUpdateMode)
                    throw;
            }
            QThread::usleep(200);
        }
        throw EQuorla(trail_->ErrorText());
    } catch (const std::exception& e) {
        writeFailed(QString::fromUtf8(e.what()));
    }
}

QString TChangeTrail::DatasetName(const TXIsamFile& dataset)
{
    const QString& name = dataset.FileName();
    return name.mid(std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('#'))) + 1);
}

TChangeTrail::TEntry TChangeTrail::entryOf(const TrailRecord& record, const QString& key)
{
    TEntry entry;
    entry.key = key;
    entry.action = Action(record.Action());
    entry.when = record.When();
    entry.userKey = record.UserKey();
    entry.workstation = record.Workstation();
    entry.dataset = record.Dataset();
    entry.recordKey = record.Key();
    entry.subject = record.Subject();
    entry.summary = record.Summary();
    entry.utcOffset = record.UtcOffset();
    return entry;
}

QDateTime TChangeTrail::Moment(const QString& when, std::optional<int> utcOffset)
{
    // A stamp counts wall-clock seconds as if they were UTC's.
    const qint64 wall = RecordKey::parse(when);
    if (utcOffset)
        return QDateTime::fromSecsSinceEpoch(wall - *utcOffset, Qt::UTC);
    TStamp stamp;
    stamp.SetSeconds(qint32(wall));
    return stamp.AsDateTime();
}

QList<TChangeTrail::TEntry> TChangeTrail::History(const QString& subject)
{
    return History(subject, subject);
}

QList<TChangeTrail::TEntry> TChangeTrail::History(const QString& first, const QString& last)
{
    QList<TEntry> found;
    if (!trail_)
        return found;
    TrailRecord record;
    const bool read = trail_->Range(record.bytes(), TrailRecord::SubjectIndex, first, last, [&] {
        found << entryOf(record, trail_->CurrentKey());
        return true;
    });
    if (!read && trail_->LastError() != IsamNotFound)
        throw EQuorla(trail_->ErrorText());
    return found;
}

QHash<QString, QString> TChangeTrail::UserNames()
{
    QHash<QString, QString> names;
    if (!trail_)
        return names;
    TrailRecord record;
    // A user's records in the order written: the last name found stays.
    const bool read = trail_->Range(record.bytes(), TrailRecord::SubjectIndex, UserSubject(Zeros), UserSubject(Nines),
                                    [&] {
                                        if (const auto name = TChangeSummary::NameIn(record.Summary()))
                                            names.insert(record.Subject().mid(1), *name);
                                        return true;
                                    });
    if (!read && trail_->LastError() != IsamNotFound)
        throw EQuorla(trail_->ErrorText());
    return names;
}

QList<TChangeTrail::TEntry> TChangeTrail::Latest(const TFilter& filter, const QString& after, int count)
{
    QList<TEntry> found;
    if (!trail_ || count <= 0)
        return found;
    const bool byUser = !filter.userKey.isEmpty();
    const QString prefix = byUser ? filter.userKey : QString();
    // Inverted times: the latest moment of the range is the lowest value.
    QString from = prefix + (filter.to.isEmpty() ? Zeros : TrailRecord::inverted(RecordKey::parse(filter.to)));
    const QString to
        = prefix + (filter.from.isEmpty() ? Nines : TrailRecord::inverted(RecordKey::parse(filter.from))) + Nines;
    if (!after.isEmpty() && after > from)
        from = after;
    TrailRecord record;
    const qint16 index = byUser ? TrailRecord::UserNewestIndex : TrailRecord::NewestIndex;
    const bool read = trail_->Range(record.bytes(), index, from, to, [&] {
        const QString position = byUser ? record.UserNewest() : record.Newest();
        if (position == after)
            return true;
        TEntry entry = entryOf(record, trail_->CurrentKey());
        entry.position = position;
        found << entry;
        return found.size() < count;
    });
    if (!read && trail_->LastError() != IsamNotFound)
        throw EQuorla(trail_->ErrorText());
    return found;
}

int TChangeTrail::DaysKept()
{
    TrailRecord setting;
    if (trail_ && trail_->GetEqual(setting.bytes(), TXIsamFile::PrimaryIndex, QString(TrailRecord::SettingKey))) {
        const qint64 days = RecordKey::parse(setting.Key());
        if (days > 0)
            return int(days);
    }
    return DefaultDaysKept;
}

bool TChangeTrail::SetDaysKept(int days)
{
    if (!trail_ || days < 1)
        return false;
    try {
        const QString key(TrailRecord::SettingKey);
        const TRecordLock lock(*trail_, key);
        if (!lock.Held())
            return false;
        const TCommandScope command(database_);
        const int before = DaysKept();
        TrailRecord setting;
        const bool stored = trail_->GetEqual(setting.bytes(), TXIsamFile::PrimaryIndex, key);
        setting.makeSetting(days);
        if (stored)
            writer_.update(*trail_, key, setting.bytes());
        else if (!writer_.insertUnder(*trail_, key, setting.bytes()))
            return false;
        Record({Action::DaysKeptChanged, trail_.get(), key, QStringLiteral("T") + key,
                QStringLiteral("days kept %1 → %2").arg(before).arg(days)});
        return true;
    } catch (const std::exception& e) {
        failed(QString::fromUtf8(e.what()));
        return false;
    }
}

int TChangeTrail::Prune(int batch)
{
    if (!trail_ || batch <= 0)
        return 0;
    try {
        // Older than the cut: a larger inverted time than the cut's.
        const qint64 cut = now().seconds - qint64(DaysKept()) * SecondsPerDay;
        QStringList old;
        TrailRecord record;
        const bool read = trail_->Range(record.bytes(), TrailRecord::NewestIndex, TrailRecord::inverted(cut) + Nines,
                                        Nines + Nines, [&] {
                                            if (record.When() < RecordKey::format(cut))
                                                old << trail_->CurrentKey();
                                            return old.size() < batch;
                                        });
        if (!read && trail_->LastError() != IsamNotFound)
            throw EQuorla(trail_->ErrorText());
        for (const QString& key : old)
            writer_.remove(*trail_, key);
        return int(old.size());
    } catch (const std::exception& e) {
        failed(QString::fromUtf8(e.what()));
        return 0;
    }
}
