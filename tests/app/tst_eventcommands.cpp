#include "AppTestSupport.h"
#include "QuorlaTest.h"
#include "TScriptedServices.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TDayView.h"
#include "TDayViewList.h"
#include "TEventCommands.h"
#include "TQuorlaDB.h"
#include "TWeekView.h"
#include "TestEnvironment.h"
#include "TfrmMain.h"

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

using namespace AppTest;
using Kind = TServices::MessageKind;
using Answer = TServices::MessageAnswer;

namespace {

// Wednesday; the week shows Monday 13 May 2024 first.
const QDateTime Now(QDate(2024, 5, 15), QTime(10, 30));
const QStringList Users{"ME", "A", "B", "C", "D"};
const QString First = QStringLiteral("0000000001");
const QString EditLocked = QStringLiteral("Unable to edit event properties. Another user has locked it");
const QString AlarmLocked = QStringLiteral("Unable to delete alarm. Another user has locked it");

QString key(const QString& user)
{
    return RecordKey::format(Users.indexOf(user) + 1);
}

void startAs(Shell& shell, const QString& name, const QList<int>& rights)
{
    {
        TQuorlaDB db;
        for (int i = 0; i < rights.size(); ++i)
            addUser(db, Users[i], QString(), rights[i]);
    }
    answerModal([name](QWidget* dialog) { typeLogin(dialog, name, QString()); });
    shell.main->show();
    shell.main->FormActivate();
    // Polls run only when a test asks for them.
    shell.main->findChild<QTimer*>(QStringLiteral("tmrMain"))->stop();
}

QAction* act(const Shell& shell, const char* name)
{
    shell.main->UpdateActions();
    return shell.main->findChild<QAction*>(QLatin1String(name));
}

// Makes the week's day `index` current and selects its first event.
void select(const Shell& shell, int index)
{
    TDayViewList* list = shell.main->WeekView()->Days()[std::size_t(index)]->List();
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(list, &in);
    list->setItemIndex(0);
}

// The editor stands in for the dialog: it writes these choices and answers
// `result`; it reports what it was offered.
void edit(const Shell& shell, const QStringList& names, bool alarm, int result = 1, qint32 flags = 0,
          bool* chose = nullptr, QString* offered = nullptr)
{
    shell.main->EventCommands()->Editor = [=](bool, bool userSelection, DayEntryRecord& e, AlarmRecord& a) {
        if (chose)
            *chose = userSelection;
        if (offered)
            *offered = a.AlarmTime();
        QStringList keys;
        for (const QString& n : names)
            keys << key(n);
        if (!names.isEmpty())
            e.setAssigneeKeys(keys);
        e.setFlags(flags);
        e.setDescription(result == 1 ? QStringLiteral("new") : QStringLiteral("dropped"));
        a.setFlags(alarm ? 1 : 0);
        a.setAlarmTime(RecordKey::format(RecordKey::parse(a.AlarmTime()) + 60));
        return result;
    };
}

// "user@time" of every alarm of the first entry; the time relative to `base`.
QStringList alarmsOf(TQuorlaDB& db, qint64 base)
{
    QStringList found;
    AlarmRecord a;
    for (bool more = db.Alarms().GetEqual(a.bytes(), 3, First); more;
         more = db.Alarms().Get(a.bytes(), 3, First, TXIsamFile::ScanPrefix))
        found << Users.value(int(RecordKey::parse(a.UserKey())) - 1) + QLatin1Char('@')
                     + QString::number(RecordKey::parse(a.AlarmTime()) - base)
                     + (a.UserAlarmKey() == a.UserKey() + a.AlarmTime() ? "" : "!");
    return found;
}

qint64 mondayAt1030()
{
    TStamp stamp;
    stamp.SetDateTime(2024, 5, 13, 10, 30, 0);
    return stamp.Seconds();
}

} // namespace

class TestEventCommands : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshWorkstation(); }
    void storeEntriesAndAlarms_data();
    void storeEntriesAndAlarms();
    void realEditorForRightOne();
    void offeredAlarmTime_data();
    void offeredAlarmTime();
    void lockedElsewhereChangesNothing_data();
    void lockedElsewhereChangesNothing();
    void roadOfOneEvent();
};

void TestEventCommands::storeEntriesAndAlarms_data()
{
    QTest::addColumn<int>("rights");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("alarm");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("assignees");
    QTest::addColumn<QStringList>("alarms");
    const QStringList none;
    QTest::newRow("right 1: his own") << 1 << false << none << true << 0 << 1 << QStringList{"ME"} << QStringList{"ME@60"};
    QTest::newRow("new, three alarmed") << 9 << false << QStringList{"A", "B", "C"} << true << 0 << 1
                                        << QStringList{"A", "B", "C"} << QStringList{"A@60", "B@60", "C@60"};
    QTest::newRow("new, nobody assigned") << 9 << false << none << true << 0 << 1 << none << none;
    QTest::newRow("private for another") << 9 << false << QStringList{"A"} << false << 2 << 1 << QStringList{"A"}
                                         << none;
    QTest::newRow("alarm off") << 9 << true << none << false << 0 << 1 << QStringList{"A", "B", "C"} << none;
    QTest::newRow("assignees replaced") << 9 << true << QStringList{"D", "B"} << true << 0 << 1
                                        << QStringList{"D", "B"} << QStringList{"D@120", "B@120"};
    QTest::newRow("cancel") << 9 << true << QStringList{"D"} << false << 0 << 2 << QStringList{"A", "B", "C"}
                            << QStringList{"A@60", "B@60", "C@60"};
}

void TestEventCommands::storeEntriesAndAlarms()
{
    QFETCH(int, rights);
    QFETCH(bool, existing);
    QFETCH(QStringList, names);
    QFETCH(bool, alarm);
    QFETCH(int, flags);
    QFETCH(int, result);
    QFETCH(QStringList, assignees);
    QFETCH(QStringList, alarms);
    TScriptedServices services;
    services.setNow(Now);
    if (flags & DayEntryRecord::Private)
        services.expectMessage(Kind::Information, TEventCommands::NotDisplayed, Answer::Ok);
    Shell shell;
    startAs(shell, QStringLiteral("ME"), {rights, 1, 1, 1, 1});
    bool chose = false;
    if (existing) {
        edit(shell, {"A", "B", "C"}, true);
        act(shell, "actEventNew")->trigger();
        select(shell, 0);
    }
    edit(shell, names, alarm, result, flags, &chose);
    act(shell, existing ? "actEventProperties" : "actEventNew")->trigger();

    TQuorlaDB other;
    DayEntryRecord entry;
    QVERIFY(other.DayEntries().GetEqual(entry.bytes(), 0, First));
    QCOMPARE(entry.OwnerKey(), key("ME"));
    QCOMPARE(chose, (rights & 8) != 0);
    QStringList stored;
    for (const QString& k : entry.AssigneeKeys())
        stored << Users.value(int(RecordKey::parse(k)) - 1);
    QCOMPARE(stored, assignees);
    QCOMPARE(alarmsOf(other, mondayAt1030()), alarms);
    QCOMPARE(shell.main->WeekView()->Days()[0]->DayEntries().Count(), (flags & DayEntryRecord::Private) ? 0 : 1);
    QVERIFY(other.DayEntries().Lock(First));
    QCOMPARE(services.busyDepth(), 0);
}

void TestEventCommands::realEditorForRightOne()
{
    TScriptedServices services;
    services.setNow(Now);
    services.expectMessage(Kind::Confirmation,
                           QStringLiteral("You have not chosen a category for this event. Is this ok?"), Answer::Yes);
    Shell shell;
    startAs(shell, QStringLiteral("ME"), {1, 1});
    bool listEnabled = true;
    answerModal([&](QWidget* dialog) {
        listEnabled = dialog->findChild<QListWidget*>(QStringLiteral("lstUsers"))->isEnabled();
        dialog->findChild<QLineEdit*>(QStringLiteral("edtDescription"))->setText(QStringLiteral("Mine"));
        dialog->findChild<QAction*>(QStringLiteral("actOk"))->trigger();
    });
    act(shell, "actEventNew")->trigger();
    DayEntryRecord entry;
    QVERIFY(shell.main->Database()->DayEntries().GetEqual(entry.bytes(), 0, First));
    QCOMPARE(entry.AssigneeKeys(), QStringList{key("ME")});
    QVERIFY(!listEnabled);
}

void TestEventCommands::offeredAlarmTime_data()
{
    QTest::addColumn<bool>("dayView");
    QTest::newRow("week view, Thursday selected") << false;
    QTest::newRow("day view on Friday") << true;
}

void TestEventCommands::offeredAlarmTime()
{
    QFETCH(bool, dayView);
    TScriptedServices services;
    services.setNow(Now);
    Shell shell;
    startAs(shell, QStringLiteral("ME"), {9});
    select(shell, 3);
    if (dayView) {
        act(shell, "actToolsViewDay")->trigger();
        act(shell, "actNext")->trigger();
    }
    edit(shell, {"ME"}, false);
    act(shell, "actEventNew")->trigger();
    if (dayView)
        shell.main->DayView()->List()->setItemIndex(0);
    else
        select(shell, 3);
    QString offered;
    edit(shell, {}, false, 2, 0, nullptr, &offered);
    act(shell, "actEventProperties")->trigger();
    QCOMPARE(RecordKey::parse(offered) - mondayAt1030(), 86400 * (dayView ? 4 : 3));
}

void TestEventCommands::lockedElsewhereChangesNothing_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("lockAlarm");
    QTest::addColumn<QString>("message");
    QTest::newRow("properties, entry open elsewhere") << "actEventProperties" << false << EditLocked;
    QTest::newRow("properties, alarm locked") << "actEventProperties" << true << AlarmLocked;
    QTest::newRow("delete, entry open elsewhere")
        << "actEventDelete" << false << "Unable to delete event. Another user has locked it";
    QTest::newRow("delete, alarm locked") << "actEventDelete" << true << AlarmLocked;
}

void TestEventCommands::lockedElsewhereChangesNothing()
{
    QFETCH(QString, command);
    QFETCH(bool, lockAlarm);
    QFETCH(QString, message);
    TScriptedServices services;
    services.setNow(Now);
    Shell shell;
    startAs(shell, QStringLiteral("ME"), {9, 1, 1, 1});
    edit(shell, {"A", "B", "C"}, true);
    act(shell, "actEventNew")->trigger();
    select(shell, 0);
    TQuorlaDB other;
    const QString held = lockAlarm ? QStringLiteral("0000000002") : First;
    QVERIFY((lockAlarm ? other.Alarms() : other.DayEntries()).Lock(held));
    if (command == QLatin1String("actEventDelete"))
        services.expectMessage(Kind::Confirmation, QStringLiteral("Delete event \"new\". Are you sure?"), Answer::Yes);
    services.expectMessage(Kind::Information, message, Answer::Ok);
    edit(shell, {"D"}, false);
    act(shell, command.toLatin1().constData())->trigger();

    (lockAlarm ? other.Alarms() : other.DayEntries()).Unlock(held);
    DayEntryRecord entry;
    QVERIFY(other.DayEntries().GetEqual(entry.bytes(), 0, First));
    QCOMPARE(entry.AssigneeKeys().size(), 3);
    QCOMPARE(alarmsOf(other, mondayAt1030()), (QStringList{"A@60", "B@60", "C@60"}));
    QVERIFY(other.DayEntries().Lock(First));
    for (const char* k : {"0000000001", "0000000002", "0000000003"})
        QVERIFY(other.Alarms().Lock(QLatin1String(k)));
    QCOMPARE(services.busyDepth(), 0);
}

void TestEventCommands::roadOfOneEvent()
{
    TScriptedServices services;
    services.setNow(Now);
    Shell a;
    startAs(a, QStringLiteral("A"), {1, 9, 1, 1});
    qputenv("TMPDIR", QFile::encodeName(TestEnvironment::freshFolder(QStringLiteral("tmpB"))));
    Shell b;
    startAs(b, QStringLiteral("B"), {});
    qputenv("TMPDIR", QFile::encodeName(TestEnvironment::freshFolder(QStringLiteral("tmpC"))));
    Shell c;
    startAs(c, QStringLiteral("C"), {});

    edit(a, {"B", "C"}, true);
    act(a, "actEventNew")->trigger();
    for (const Shell* s : {&b, &c}) {
        s->main->RefreshView();
        QCOMPARE(s->main->WeekView()->Days()[0]->DayEntries().Count(), 1);
    }
    QStringList seen;
    const auto popups = answerPopups({"1 hour", "off"}, seen);
    b.main->tmrMainTimer();
    c.main->tmrMainTimer();
    QCOMPARE(seen, (QStringList{"new", "new"}));
    for (const Shell* s : {&b, &c}) {
        QVERIFY(s->main->findChild<QTimer*>(QStringLiteral("tmrMain"))->isActive());
        s->main->findChild<QTimer*>(QStringLiteral("tmrMain"))->stop();
    }

    // While A has it open, B's workstation may neither edit nor delete it.
    services.expectMessage(Kind::Information, EditLocked, Answer::Ok);
    services.expectMessage(Kind::Confirmation, QStringLiteral("Delete event \"new\". Are you sure?"), Answer::Yes);
    services.expectMessage(Kind::Information, QStringLiteral("Unable to delete event. Another user has locked it"),
                           Answer::Ok);
    select(a, 0);
    select(b, 0);
    a.main->EventCommands()->Editor = [&](bool, bool, DayEntryRecord&, AlarmRecord&) {
        b.main->EventCommands()->actEventPropertiesExecute();
        b.main->EventCommands()->actEventDeleteExecute();
        return 2;
    };
    act(a, "actEventProperties")->trigger();
    QCOMPARE(alarmsOf(*a.main->Database(), mondayAt1030()).size(), 1);

    services.expectMessage(Kind::Confirmation, QStringLiteral("Delete event \"new\". Are you sure?"), Answer::Yes);
    select(a, 0);
    act(a, "actEventDelete")->trigger();
    QCOMPARE(a.main->Database()->DayEntries().RecordCount(), 0);
    QCOMPARE(a.main->Database()->Alarms().RecordCount(), 0);
    services.setNow(Now.addDays(1));
    b.main->tmrMainTimer();
    QCOMPARE(seen.size(), 2);
}

QUORLA_TEST_GUI_MAIN(TestEventCommands)
#include "tst_eventcommands.moc"
