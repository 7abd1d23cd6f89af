#include "TViewAnswers.h"

#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TCategoryCache.h"
#include "TCommand.h"
#include "TDayEntries.h"
#include "TDayView.h"
#include "TEntryQuery.h"
#include "TMonthView.h"
#include "TQuorlaDB.h"
#include "TSession.h"
#include "TUserCache.h"
#include "TViewNavigator.h"
#include "TWeekView.h"
#include "TXIsamFile.h"
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

void TViewAnswers::WantDayEntries(QObject* /*sender*/, const QString& datePkVal, TDayEntries& dayEntries)
{
    if (!session_.LoggedIn())
        return;
    TEntryQuery::ReadDay(session_.Database()->DayEntries(), datePkVal,
                         [&](const DayEntryRecord& entry, const QString& key) {
                             if (session_.EntryVisible(entry))
                                 dayEntries.Add(entry, key);
                         });
    // The day's entries stand; alarms that cannot be read leave the marks
    // unread, and each painted line then asks again (drawn "?" while that fails).
    try {
        refreshAlarmMarks();
    } catch (const std::exception&) {
    }
}

void TViewAnswers::refreshAlarmMarks()
{
    TQuorlaDB* database = session_.Database();
    TXIsamFile& alarms = database->Alarms();
    // The mark before the read: a change made while reading shows next time.
    QByteArray mark;
    const bool marked = alarms.ChangeMark(mark);
    if (marked && alarmsOf_ == database && mark == alarmsMark_)
        return;
    alarmsOf_ = nullptr;
    alarmed_ = TEntryQuery::AlarmedEntries(alarms, RecordKey::format(1), RecordKey::format(9999999999));
    alarmsOf_ = database;
    alarmsMark_ = marked ? mark : QByteArray();
}

void TViewAnswers::WantUserName(QObject* /*sender*/, const QString& pk, QString& name)
{
    if (!session_.LoggedIn())
        return;
    UserRecord user;
    session_.UserCache()->Lookup(pk, user);
    name = user.Abbreviation();
}

void TViewAnswers::WantAlarmedFlag(QObject* /*sender*/, const QString& pk, bool& alarmed)
{
    if (!session_.LoggedIn())
        return;
    if (alarmsOf_ != session_.Database())
        refreshAlarmMarks();
    alarmed = alarmed_.contains(pk);
}

void TViewAnswers::WantCategoryDescription(QObject* /*sender*/, const QString& pk, QString& description)
{
    if (!session_.LoggedIn())
        return;
    CategoryRecord category;
    session_.CategoryCache()->Lookup(pk, category);
    description = category.Description();
}
