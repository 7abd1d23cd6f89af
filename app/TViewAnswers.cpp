#include "TViewAnswers.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "TCategoryCache.h"
#include "TCommand.h"
#include "TDayEntries.h"
#include "TDayView.h"
#include "TEntryQuery.h"
#include "TLookup.h"
#include "TMonthView.h"
#include "TOutageWatch.h"
#include "TQuorlaDB.h"
#include "TSession.h"
#include "TUserCache.h"
#include "TViewNavigator.h"
#include "TWeekView.h"
#include "UserRecord.h"

TViewAnswers::TViewAnswers(TSession& session)
    : session_(session)
{
}

void TViewAnswers::Wire(TViewNavigator& views)
{
    auto wire = [this](auto* view) {
        view->OnWantDayEntries = [this](QObject* s, const QString& k, TDayEntries& e) { WantDayEntries(s, k, e); };
        view->OnWantUserName = [this](QObject* s, const QString& k, QString& n) { WantUserName(s, k, n); };
        view->OnWantAlarmedFlag = [this](QObject* s, const QString& k, bool& a) { WantAlarmedFlag(s, k, a); };
        view->OnWantCategoryDescription
            = [this](QObject* s, const QString& k, QString& d) { WantCategoryDescription(s, k, d); };
        // A drawing failure is reported like a failed command.
        view->OnError = [](QObject*, const QString& message) {
            TCommand::Run([&message] { throw EQuorla(message); });
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
        const QString message = e.message();
        TCommand::Run([&message] { throw EQuorla(message); });
    }
}

void TViewAnswers::WantDayEntries(QObject* /*sender*/, const QString& datePkVal, TDayEntries& dayEntries)
{
    if (!session_.LoggedIn())
        return;
    QList<std::pair<QByteArray, QString>> read;
    readOrKeep(
        [&] {
            TEntryQuery::ReadDay(session_.Database()->DayEntries(), datePkVal,
                                 [&](const DayEntryRecord& entry, const QString& key) {
                                     if (session_.EntryVisible(entry))
                                         read.append({QByteArray(entry.bytes().data(), qsizetype(entry.bytes().size())),
                                                      key});
                                 });
            if (days_.size() >= DaysKept)
                days_.clear();
            days_.insert(datePkVal, read);
        },
        [&] { read = days_.value(datePkVal); });
    for (const auto& [bytes, key] : read) {
        DayEntryRecord entry;
        std::copy(bytes.begin(), bytes.end(), entry.bytes().begin());
        dayEntries.Add(entry, key);
    }
}

void TViewAnswers::WantUserName(QObject* /*sender*/, const QString& pk, QString& name)
{
    if (!session_.LoggedIn())
        return;
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
    readOrKeep(
        [&] {
            AlarmRecord alarm;
            alarmed = TLookup::Equal(session_.Database()->Alarms(), alarm.bytes(), AlarmRecord::DayEntryKeyIndex, pk);
            alarms_.insert(pk, alarmed);
        },
        [&] { alarmed = alarms_.value(pk, alarmed); });
}

void TViewAnswers::WantCategoryDescription(QObject* /*sender*/, const QString& pk, QString& description)
{
    if (!session_.LoggedIn())
        return;
    readOrKeep(
        [&] {
            CategoryRecord category;
            session_.CategoryCache()->Lookup(pk, category);
            description = category.Description();
            categories_.insert(pk, description);
        },
        [&] { description = categories_.value(pk, description); });
}
