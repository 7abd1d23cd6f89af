#include "TViewAnswers.h"

#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TBookingStore.h"
#include "TCategoryCache.h"
#include "TCommand.h"
#include "TDayEntries.h"
#include "TDayView.h"
#include "TDetailsStore.h"
#include "TEntryQuery.h"
#include "TFilterRules.h"
#include "TMonthView.h"
#include "TOutageWatch.h"
#include "TQuorlaDB.h"
#include "TSeriesWriter.h"
#include "TSession.h"
#include "TStamp.h"
#include "TUserCache.h"
#include "TViewNavigator.h"
#include "TWeekView.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QTimer>

#include <algorithm>
#include <utility>

TViewAnswers::TViewAnswers(TServices services, TSession& session)
    : services_(services), session_(session)
{
}

void TViewAnswers::Wire(TViewNavigator& views)
{
    auto wire = [this](auto* view) {
        view->OnWantDayEntries = [this](QObject* s, const QString& k, TDayEntries& e) { WantDayEntries(s, k, e); };
        view->OnWantReachingEntries = [this](QObject* s, const QString& first, const QString& last, TDayEntries& e) {
            WantReachingEntries(s, first, last, e);
        };
        view->OnWantUserName = [this](QObject* s, const QString& k, QString& n) { WantUserName(s, k, n); };
        view->OnWantAlarmedFlag = [this](QObject* s, const QString& k, bool& a) { WantAlarmedFlag(s, k, a); };
        view->OnWantRepeatingFlag = [this](QObject* s, const QString& k, TRepeatMark& m) { WantRepeatingFlag(s, k, m); };
        view->OnWantCategoryDescription
            = [this](QObject* s, const QString& k, QString& d) { WantCategoryDescription(s, k, d); };
        // A drawing failure is reported like a failed command.
        view->OnError = [this](QObject*, const QString& message) {
            TCommand::Run(services_.person(), [&message] { throw EQuorla(message); });
        };
    };
    wire(views.DayView());
    wire(views.WeekView());
    wire(views.MonthView());
}

namespace {

// Days kept from earlier reads at most; beyond it the oldest are forgotten
// all at once (a workstation rarely pages through more).
constexpr qsizetype DaysKept = 400;

} // namespace

template <typename Read, typename FallBack>
void TViewAnswers::readOrKeep(Read read, FallBack fallBack)
{
    try {
        read();
    } catch (const EQuorla& e) {
        // Only the server out of reach is met with what was read before.
        if (!TOutageWatch::IsOutage(e.message()))
            throw;
        fallBack();
        report(e.message());
    }
}

void TViewAnswers::report(const QString& message)
{
    // Told once the view has moved and drawn what it could: a box raised in
    // the middle of a move would stand over a view half on the new days, and
    // one raised while painting would stop the paint. The failures of one
    // move are one outage: the first stands for them all.
    if (!unreported_.isEmpty())
        return;
    unreported_ = message;
    QTimer::singleShot(0, &reports_, [this] {
        const QString told = std::exchange(unreported_, QString());
        TCommand::Run(services_.person(), [&told] { throw EQuorla(told); });
    });
}

std::optional<QSet<QString>> TViewAnswers::bookedOver(const QString& firstDayKey, const QString& lastDayKey)
{
    const TFilterRules& rules = session_.FilterRules();
    if (rules.Mode != TFilterRules::ShowResource)
        return std::nullopt;
    QSet<QString> entries;
    const QString end = RecordKey::format(RecordKey::parse(lastDayKey) + 86400);
    for (const TBookingStore::TBooking& booking :
         TBookingStore(*session_.Database()).OfResource(rules.Resource, firstDayKey, end))
        entries.insert(booking.entry);
    return entries;
}

void TViewAnswers::WantDayEntries(QObject* /*sender*/, const QString& datePkVal, TDayEntries& dayEntries)
{
    answerEntries(datePkVal, dayEntries, [&] {
        TReadEntries read;
        const std::optional<QSet<QString>> booked = bookedOver(datePkVal, datePkVal);
        TEntryQuery::ReadDay(session_.Database()->DayEntries(), datePkVal,
                             [&](const DayEntryRecord& entry, const QString& key) {
                                 if (session_.EntryVisible(entry) && (!booked || booked->contains(key)))
                                     read.append({QByteArray(entry.bytes().data(), qsizetype(entry.bytes().size())),
                                                  key, {}});
                             });
        return read;
    });
}

namespace {

QDate dayOfKey(const QString& key)
{
    TStamp stamp;
    stamp.SetSeconds(qint32(RecordKey::parse(key)));
    return QDate(stamp.Year(), stamp.Month(), stamp.Day());
}

} // namespace

void TViewAnswers::WantReachingEntries(QObject* /*sender*/, const QString& firstDayKey, const QString& lastDayKey,
                                       TDayEntries& entries)
{
    answerEntries(firstDayKey + QLatin1Char('-') + lastDayKey, entries, [&] {
        TQuorlaDB& db = *session_.Database();
        TReadEntries read;
        const std::optional<QSet<QString>> booked = bookedOver(firstDayKey, lastDayKey);
        for (const auto& [key, entry] :
             TDetailsStore(db).ReachingEntries(dayOfKey(firstDayKey), dayOfKey(lastDayKey))) {
            // Another's private one is not shown.
            if (session_.EntryVisible(entry) && (!booked || booked->contains(key)))
                read.append({QByteArray(entry.bytes().data(), qsizetype(entry.bytes().size())), key, {}});
        }
        return read;
    });
    // The days and the entries reaching into them are read: the next
    // view's read looks at the marks again.
    viewRead_ = 0;
}

void TViewAnswers::continueViewRead(quint64 read)
{
    if (viewRead_ == 0)
        QTimer::singleShot(0, &reports_, [this] { viewRead_ = 0; });
    viewRead_ = read;
}

void TViewAnswers::answerEntries(const QString& kept, TDayEntries& entries, const std::function<TReadEntries()>& read)
{
    if (!session_.LoggedIn())
        return;
    const QString reader = session_.CurrentUserKey() + QLatin1Char('/') + QString::number(session_.CurrentUser().Rights());
    if (std::exchange(daysFor_, reader) != reader)
        days_.clear();
    TReadEntries answer;
    readOrKeep(
        [&] {
            TDetailsStore store(*session_.Database());
            const TDetailsStore::TOneRead shared(store, viewRead_);
            continueViewRead(shared.Read());
            answer = read();
            QStringList keys;
            for (const TReadEntry& one : std::as_const(answer))
                keys << one.key;
            const QList<TEntryDetails> details = store.EntriesInOrder(keys);
            for (qsizetype i = 0; i < answer.size(); ++i)
                answer[i].details = details[i];
            if (days_.size() >= DaysKept)
                days_.clear();
            days_.insert(kept, answer);
        },
        [&] {
            // A day never read is marked so, rather than shown free.
            if (const auto found = days_.constFind(kept); found != days_.constEnd())
                answer = *found;
            else
                entries.MarkNotLoaded();
        });
    for (const TReadEntry& one : std::as_const(answer)) {
        DayEntryRecord entry;
        std::copy(one.bytes.begin(), one.bytes.end(), entry.bytes().begin());
        entries.Add(entry, one.key, one.details);
    }
    // A list read anew is painted anew: its repeat marks are looked at again
    // with it.
    repeatStale_ = true;
    lookUpsStale_ = true;
    // The day's entries stand; alarms that cannot be read leave the marks
    // as they were last read, and each painted line then asks again.
    for (const TReadEntry& one : std::as_const(answer))
        unmarked_.insert(one.key);
    try {
        refreshAlarmMarks();
    } catch (const std::exception&) {
    }
}

void TViewAnswers::refreshAlarmMarks()
{
    TQuorlaDB* database = session_.Database();
    if (alarmsOf_ != database) {
        alarmed_.clear();
        alarmsOf_ = database;
    }
    if (unmarked_.isEmpty())
        return;
    const QSet<QString> found = TEntryQuery::AlarmedEntries(database->Alarms(), unmarked_.values());
    for (const QString& key : std::as_const(unmarked_)) {
        if (found.contains(key))
            alarmed_.insert(key);
        else
            alarmed_.remove(key);
    }
    unmarked_.clear();
}

bool TViewAnswers::lookedUp(const QString& key)
{
    if (std::exchange(lookUpsStale_, false))
        lookedUp_.clear();
    const qsizetype before = lookedUp_.size();
    lookedUp_.insert(key);
    return lookedUp_.size() == before;
}

void TViewAnswers::WantUserName(QObject* /*sender*/, const QString& pk, QString& name)
{
    if (!session_.LoggedIn())
        return;
    if (lookedUp(pk) && names_.contains(pk)) {
        name = names_.value(pk);
        return;
    }
    readOrKeep(
        [&] {
            UserRecord user;
            session_.UserCache()->Lookup(pk, user);
            name = user.Abbreviation();
            names_.insert(pk, name);
        },
        [&] { name = names_.value(pk, name); });
}

void TViewAnswers::WantAlarmedFlag(QObject* /*sender*/, const QString& pk, bool& alarmed)
{
    if (!session_.LoggedIn())
        return;
    if (!unmarked_.isEmpty())
        readOrKeep([&] { refreshAlarmMarks(); }, [] {});
    alarmed = alarmed_.contains(pk);
}

void TViewAnswers::WantCategoryDescription(QObject* /*sender*/, const QString& pk, QString& description)
{
    if (!session_.LoggedIn())
        return;
    if (lookedUp(QLatin1Char('C') + pk) && categories_.contains(pk)) {
        description = categories_.value(pk);
        return;
    }
    readOrKeep(
        [&] {
            CategoryRecord category;
            session_.CategoryCache()->Lookup(pk, category);
            description = category.Description();
            categories_.insert(pk, description);
        },
        [&] { description = categories_.value(pk, description); });
}

void TViewAnswers::refreshRepeatMarks()
{
    TQuorlaDB* database = session_.Database();
    TXIsamFile* links = database->SeriesLinks();
    QByteArray mark;
    const bool marked = links != nullptr && links->ChangeMark(mark);
    if (marked && linksOf_ == database && mark == linksMark_)
        return;
    linksOf_ = nullptr;
    ++repeatReads_;
    // Left as it was when the read fails: the marks last read stand.
    QSet<QString> detached;
    repeating_ = TSeriesWriter(*database).OccurrenceKeys(&detached);
    detached_ = detached;
    linksOf_ = database;
    linksMark_ = marked ? mark : QByteArray();
}

void TViewAnswers::WantRepeatingFlag(QObject* /*sender*/, const QString& pk, TRepeatMark& mark)
{
    if (!session_.LoggedIn())
        return;
    // Once for each list read anew (a week's days at once): the links'
    // change mark, and the links themselves only when they changed.
    if (std::exchange(repeatStale_, false) || linksOf_ != session_.Database())
        readOrKeep([&] { refreshRepeatMarks(); }, [] {});
    mark = detached_.contains(pk) ? TRepeatMark::Detached
        : repeating_.contains(pk)  ? TRepeatMark::Follows
                                   : TRepeatMark::None;
}
