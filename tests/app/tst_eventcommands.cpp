#include "AppTestSupport.h"
#include "FaultVfs.h"
#include "IsamCode.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TScriptedServices.h"

#include "AlarmRecord.h"
#include "EQuorla.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TDayView.h"
#include "TDayViewHeader.h"
#include "TDayEntries.h"
#include "TDayViewList.h"
#include "TCommand.h"
#include "TDetailsStore.h"
#include "TEventCommands.h"
#include "TEventWriter.h"
#include "TRecordLock.h"
#include "SeriesRecord.h"
#include "TSeriesWriter.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TWeekView.h"
#include "TViewAnswers.h"
#include "TestEnvironment.h"
#include "TfrmEvent.h"
#include "TfrmMain.h"

#include <QAction>
#include <QElapsedTimer>
#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTimer>

#include <sqlite3.h>

using namespace AppTest;

namespace {

// Wednesday; the week shows Monday 13 May 2024 first.
const QDateTime Now(QDate(2024, 5, 15), QTime(10, 30));
const QStringList Users{"ME", "A", "B", "C", "D"};
const QString First = QStringLiteral("0000000001");
const QString EditLocked = QStringLiteral("Unable to edit event properties. Another user has locked it");
const QString DeleteLocked = QStringLiteral("Unable to delete event. Another user has locked it");
const QString AlarmLocked = QStringLiteral("Unable to delete alarm. Another user has locked it");
const QString EditAlarmLocked = QStringLiteral(
    "Unable to save event properties. Another user has locked the alarm of A\r\r"
    "Nothing was saved: the event and its alarms are as they were.");
const QString DeleteNew = QStringLiteral("Delete event \"new\". Are you sure?");

// With QUORLA_TEST_ENGINE=postgres every case runs on a new database of a
// private server.
std::unique_ptr<PostgresCluster> server;

// Adds the users with these rights (ME, A, ...), then logs in as `name`.
void startAs(Shell& shell, const QString& name, const QList<int>& rights)
{
    TQuorlaDB db(TScriptedServices::ofTest());
    for (int i = 0; i < rights.size(); ++i)
        addUser(db, Users[i], QString(), rights[i]);
    logIn(shell, name);
}

void run(const Shell& shell, const char* action)
{
    shell.main->UpdateActions();
    shell.main->findChild<QAction*>(QLatin1String(action))->trigger();
}

// Makes the week's day `index` current and selects its first event.
void select(const Shell& shell, int index)
{
    TDayViewList* list = shell.main->WeekView()->Days()[std::size_t(index)]->List();
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(list, &in);
    list->setItemIndex(0);
}

// Stands in for the editor: `choice` names the assignees (none: left as they
// are) and may hold "alarm" and "private"; the alarm time moves on a minute.
// Reports whether the user list was enabled.
void edit(const Shell& shell, const QString& choice, int result = 1, bool* chose = nullptr)
{
    shell.main->EventCommands()->Editor = [=](bool, bool userSelection, DayEntryRecord& e, AlarmRecord& a,
                                               TDesktopServices::MailMessage& mail) {
        if (choice.contains(QLatin1String("mail")))
            mail = {{QStringLiteral("A")}, QStringLiteral("New Quorla Event"), {}};
        if (chose)
            *chose = userSelection;
        QStringList keys;
        for (const QString& name : choice.split(' ', Qt::SkipEmptyParts))
            if (Users.contains(name))
                keys << RecordKey::format(Users.indexOf(name) + 1);
        if (!keys.isEmpty())
            e.setAssigneeKeys(keys);
        e.setFlags(choice.contains(QLatin1String("private")) ? DayEntryRecord::Private : 0);
        e.setDescription(QStringLiteral("new"));
        a.setFlags(choice.contains(QLatin1String("alarm")) ? 1 : 0);
        a.setAlarmTime(RecordKey::format(RecordKey::parse(a.AlarmTime()) + 60));
        return result;
    };
}

QString names(const QStringList& keys)
{
    QStringList found;
    for (const QString& k : keys)
        found << Users.value(int(RecordKey::parse(k)) - 1);
    return found.join(' ');
}

// The first entry's assignees, then each of its alarms as "user@seconds after
// 10:30 on `day` of May 2024".
QString stored(TQuorlaDB& db, int day = 13)
{
    DayEntryRecord e;
    AlarmRecord a;
    QString text = db.DayEntries().GetEqual(e.bytes(), 0, First) ? names(e.AssigneeKeys()) + " |" : "none |";
    const qint64 monday = RecordKey::parse(keyOf(2024, 5, day, 10, 30));
    for (bool more = db.Alarms().GetEqual(a.bytes(), 3, First); more;
         more = db.Alarms().Get(a.bytes(), 3, First, TXIsamFile::ScanPrefix))
        text += ' ' + names({a.UserKey()}) + '@' + QString::number(RecordKey::parse(a.AlarmTime()) - monday)
                + (a.UserAlarmKey() == a.UserKey() + a.AlarmTime() ? "" : "!");
    return text;
}

const QString Still = QStringLiteral("The database is still unreachable (since ");

// Runs `told` as the next message shows; counts the error boxes taken back.
struct Watching : TScriptedServices
{
    std::function<void()> told;
    int withdrawn = 0;
    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override
    {
        if (told)
            std::exchange(told, nullptr)();
        return TScriptedServices::message(kind, buttons, text);
    }
    void withdrawApplicationError() override { ++withdrawn; }
};

// Notes how many entries were stored when the e-mail was handed over.
struct MailingServices : TScriptedServices
{
    int storedWhenSent = -1;
    void sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished) override
    {
        storedWhenSent = TQuorlaDB(TScriptedServices::ofTest()).DayEntries().RecordCount();
        TScriptedServices::sendMail(mail, std::move(finished));
    }
};

} // namespace

class TestEventCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }
    void init()
    {
        static int serial = 0;
        freshWorkstation(server ? server->createDatabase(QStringLiteral("case%1").arg(++serial)) : QString());
    }
    void storeEntriesAndAlarms_data();
    void storeEntriesAndAlarms();
    void roadOfOneEvent();
    void serverGoesAwayAndComesBack_data();
    void serverGoesAwayAndComesBack();
    void startDuringOutage();
    void staleScreen_data();
    void staleScreen();
    void seriesQuestion_data();
    void seriesQuestion();
};

void TestEventCommands::storeEntriesAndAlarms_data()
{
    QTest::addColumn<int>("rights");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("expected");
    QTest::newRow("right 1: his own") << 1 << "new" << "alarm" << "ME | ME@60";
    QTest::newRow("new, three alarmed") << 9 << "new" << "A B C alarm" << "A B C | A@60 B@60 C@60";
    // Not even to one who may change others' entries.
    QTest::newRow("private for another") << 13 << "new" << "A private" << "A |";
    QTest::newRow("alarm off") << 9 << "edit" << "" << "A B C |";
    QTest::newRow("assignees replaced") << 9 << "edit" << "D B alarm" << "D B | D@120 B@120";
    QTest::newRow("cancel") << 9 << "cancel" << "D" << "A B C | A@60 B@60 C@60";
    // The e-mail goes once the entry is stored; a hand-off that fails says why.
    QTest::newRow("mail that fails") << 9 << "new" << "A mail" << "A |";
    // Two tries meet a full disk: the error box says what the dataset said
    // (the editor's questions are not asked again), the editor stays open
    // with what was typed, nothing is stored; the next command works.
    QTest::newRow("new after a full disk") << 9 << "full disk" << "A B alarm" << "A B | A@60 B@60";
    // Offered for an entry without alarm: the day shown (Friday).
    QTest::newRow("alarm on, day view") << 9 << "day on" << "alarm" << "A B C | A@86460 B@86460 C@86460";
}

void TestEventCommands::storeEntriesAndAlarms()
{
    QFETCH(int, rights);
    QFETCH(QString, command);
    QFETCH(QString, choice);
    const bool adding = command == QLatin1String("new") || command == QLatin1String("full disk");
    if (server && command == QLatin1String("full disk"))
        QSKIP("a full disk is made through the folder engine's file layer only");
    FaultVfs::install();
    const auto uninstall = qScopeGuard([] { FaultVfs::uninstall(); });
    MailingServices services;
    services.setNow(Now);
    if (choice.contains(QLatin1String("private")))
        services.expectMessage(Kind::Information, TEventCommands::NotDisplayed, Answer::Ok);
    const QString noMail = QStringLiteral("No mail program is set up on this workstation");
    services.setHandOffResult({TDesktopServices::Outcome::Failed, noMail});
    if (choice.contains(QLatin1String("mail")))
        services.expectMessage(Kind::Information, TEventCommands::MailFailed + QStringLiteral("\r\r") + noMail, Answer::Ok);
    Shell shell;
    startAs(shell, QStringLiteral("ME"), {rights, 1, 1, 1, 1});
    const bool dayView = command.startsWith(QLatin1String("day"));
    TDayView* shown = dayView ? shell.main->DayView() : shell.main->WeekView()->Days()[3];
    select(shell, 3);
    if (dayView) {
        run(shell, "actToolsViewDay");
        run(shell, "actNext");
    }
    if (command == QLatin1String("full disk")) {
        // The real editor, where the user gives up after the failed save.
        shell.main->EventCommands()->UseEditor(*shell.main->findChild<TfrmEvent*>());
        QString kept;
        whenModal([&kept](QWidget* dialog) {
            DialogTest::child<QLineEdit>(dialog, "edtDescription")->setText(QStringLiteral("typed"));
            FaultVfs::arm(FaultVfs::Write, 1, SQLITE_FULL, -1);
            DialogTest::child<QAction>(dialog, "actOk")->trigger();
            DialogTest::child<QAction>(dialog, "actOk")->trigger();
            FaultVfs::disarm();
            kept = dialog->isVisible() ? DialogTest::child<QLineEdit>(dialog, "edtDescription")->text() : QString();
            DialogTest::child<QAction>(dialog, "actCancel")->trigger();
        });
        for (const char* none : {"a category", "any users"})
            services.expectMessage(Kind::Confirmation,
                                   QStringLiteral("You have not chosen %1 for this event. Is this ok?").arg(none), Answer::Yes);
        for (int tries = 0; tries < 2; ++tries)
            services.expectMessage(Kind::Error, TXIsamFile::ErrorText(IsamDiskFull), Answer::Ok);
        run(shell, "actEventNew");
        QCOMPARE(kept, QStringLiteral("typed"));
        TQuorlaDB other(TScriptedServices::ofTest());
        QCOMPARE(stored(other), QStringLiteral("none |"));
    } else if (!adding) {
        edit(shell, command.endsWith(QLatin1String("on")) ? "A B C" : "A B C alarm");
        run(shell, "actEventNew");
        dayView ? shown->List()->setItemIndex(0) : select(shell, 3);
    }
    bool chose = false;
    edit(shell, choice, command == QLatin1String("cancel") ? 2 : 1, &chose);
    run(shell, adding ? "actEventNew" : "actEventProperties");

    TQuorlaDB other(TScriptedServices::ofTest());
    QTEST(stored(other, 16), "expected");
    DayEntryRecord entry;
    other.DayEntries().GetEqual(entry.bytes(), 0, First);
    QCOMPARE(entry.OwnerKey(), First);
    QCOMPARE(chose, (rights & 8) != 0);
    QCOMPARE(shown->DayEntries().Count(), choice.contains(QLatin1String("private")) ? 0 : 1);
    QVERIFY(other.DayEntries().Lock(First));
    QCOMPARE(services.storedWhenSent, choice.contains(QLatin1String("mail")) ? 1 : -1);
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

    edit(a, QStringLiteral("B alarm"));
    run(a, "actEventNew");
    QStringList seen;
    const auto popups = answerPopups({"3"}, seen);
    b.main->RefreshView();
    QCOMPARE(b.main->WeekView()->Days()[0]->DayEntries().Count(), 1);
    b.main->tmrMainTimer();
    QVERIFY(b.main->findChild<QTimer*>(QStringLiteral("tmrMain"))->isActive());
    b.main->findChild<QTimer*>(QStringLiteral("tmrMain"))->stop();
    QCOMPARE(seen, QStringList{"new"});
    QCOMPARE(stored(*a.main->Database()), QStringLiteral("B | B@176400"));

    // While A has the event open, B's workstation may neither edit nor delete
    // it, and is told who has it open.
    const QString heldByA = QStringLiteral("\rA (workstation ws-test) has had it open since 10:30");
    services.expectMessage(Kind::Information, EditLocked + heldByA, Answer::Ok);
    services.expectMessage(Kind::Confirmation, DeleteNew, Answer::Yes);
    services.expectMessage(Kind::Information, DeleteLocked + heldByA, Answer::Ok);
    select(a, 0);
    select(b, 0);
    a.main->EventCommands()->Editor = [&](bool, bool, DayEntryRecord&, AlarmRecord&, TDesktopServices::MailMessage&) {
        b.main->EventCommands()->actEventPropertiesExecute();
        b.main->EventCommands()->actEventDeleteExecute();
        return 2;
    };
    run(a, "actEventProperties");
    QCOMPARE(stored(*b.main->Database()), QStringLiteral("B | B@176400"));

    services.expectMessage(Kind::Confirmation, DeleteNew, Answer::Yes);
    select(a, 0);
    run(a, "actEventDelete");
    QCOMPARE(stored(*a.main->Database()), QStringLiteral("none |"));
    services.setNow(Now.addDays(1));
    b.main->tmrMainTimer();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(services.busyDepth(), 0);
}

// The server stops (a crash, or a fast shutdown) or stalls, and comes back,
// under two workstations: this one's window and another one writing through
// the store. While it is away the views keep what they last read and a line
// says since when; one message per outage; no call blocks for long; a save
// that fails is told, and tried again with what was typed; the other
// workstation's command fails whole. Once the server is back a poll
// refreshes the view by itself, and every acknowledged change is there with
// its trail record.
void TestEventCommands::serverGoesAwayAndComesBack_data()
{
    // 0: stopped at once (a crash), 1: a fast shutdown, 2: stopped with
    // SIGSTOP (a stalled server that never answers).
    QTest::addColumn<int>("how");
    QTest::newRow("crash") << 0;
    QTest::newRow("fast shutdown") << 1;
    QTest::newRow("stalled") << 2;
}

void TestEventCommands::serverGoesAwayAndComesBack()
{
    if (!server)
        QSKIP("on a database server only (QUORLA_TEST_ENGINE=postgres)");
    QFETCH(int, how);
    // No call may block the window for long, however the server went.
    qint64 longest = 0;
    QString slowest;
    const auto bounded = [&](const char* what, const std::function<void()>& call) {
        QElapsedTimer took;
        took.start();
        call();
        if (took.elapsed() > longest)
            std::tie(longest, slowest) = std::pair(took.elapsed(), QString::fromLatin1(what));
    };
    // A stalled server is let go whatever happens here.
    const auto resume = qScopeGuard([how] {
        if (how == 2)
            server->freeze(false);
    });
    const QString lost = TXIsamFile::ErrorText(IsamServerLost) + QStringLiteral("\r\r");
    Watching services;
    services.setNow(Now);
    Shell a;
    startAs(a, QStringLiteral("ME"), {1, 1});
    select(a, 3);
    edit(a, QStringLiteral("alarm"));
    run(a, "actEventNew");
    TQuorlaDB b(TScriptedServices::ofTest());
    b.SetActingUser(RecordKey::format(2));
    const auto addAtB = [&b](const QString& description) {
        DayEntryRecord e;
        b.InitDayEntryRecord(e);
        const QString day = keyOf(2024, 5, 16, 9);
        e.setStartTime(day);
        e.setDescription(description);
        e.setAssigneeKeys({RecordKey::format(1), RecordKey::format(2)});
        AlarmRecord alarm;
        b.InitAlarmRecord(alarm);
        alarm.setFlags(AlarmRecord::AlarmWanted);
        alarm.setAlarmTime(day);
        TEventWriter(b).insertEntryWithAlarms(e, alarm);
    };
    addAtB(QStringLiteral("before"));
    const TDayView* thursday = a.main->WeekView()->Days()[3];
    const auto shown = [thursday] { return thursday->DayEntries().Count(); };
    TCommand::Run(a.main->Services().person(), [&] { a.main->RefreshView(); });
    QCOMPARE(shown(), 2);
    auto* outage = a.main->findChild<QLabel*>(QStringLiteral("lblOutage"));
    QVERIFY(outage && outage->isHidden());

    QVERIFY2(how == 2 ? server->freeze(true) : server->stop(how == 1), qPrintable(server->error()));
    // One message, once the week has moved whole: a week never read shows
    // its days "not loaded", never free; the week read before shows what it
    // held.
    services.expectMessageStartingWith(Kind::Error, lost, Answer::Ok);
    QStringList headers;
    services.told = [&] {
        for (const TDayView* day : a.main->WeekView()->Days())
            headers << day->Header()->HeaderText().right(TDayEntries::NotLoadedMark.size());
    };
    bounded("next week", [&] {
        run(a, "actNext");
        QCoreApplication::processEvents();
    });
    QCOMPARE(headers, QStringList(7, TDayEntries::NotLoadedMark));
    run(a, "actPrev");
    QCOMPARE(shown(), 2);
    QVERIFY(!outage->isHidden());
    QCOMPARE(outage->text().left(41), QStringLiteral("The database is unreachable since 10:30:0"));
    const QString reason = services.messages().constLast().text.mid(lost.size());
    QVERIFY2(!reason.isEmpty() && !reason.contains(QLatin1Char('\n')), qPrintable(reason));
    auto* timer = a.main->findChild<QTimer*>(QStringLiteral("tmrMain"));
    for (int poll = 0; poll < 3; ++poll) {
        bounded("poll", [&] { TCommand::Run(a.main->Services().person(), [&] { a.main->tmrMainTimer(); }); });
        QVERIFY(timer->isActive());
    }
    timer->stop();
    // A save that fails is told however often (the outage told already: in
    // one short line), and the editor comes back with what was typed.
    QStringList opened;
    a.main->EventCommands()->Editor = [&](bool, bool, DayEntryRecord& e, AlarmRecord&, TDesktopServices::MailMessage&) {
        opened << e.Description();
        e.setDescription(QStringLiteral("typed"));
        return opened.size() == 1 ? 1 : 2;
    };
    services.expectMessageStartingWith(Kind::Error, Still, Answer::Ok);
    bounded("save", [&] { run(a, "actEventNew"); });
    QCOMPARE(opened, (QStringList{QString(), QStringLiteral("typed")}));
    bounded("the other's save", [&] { QVERIFY_THROWS_EXCEPTION(EQuorla, addAtB(QStringLiteral("lost"))); });
    QCOMPARE(services.takePendingScript(), QStringList());
    QVERIFY2(longest < 15'000, qPrintable(QStringLiteral("%1 blocked for %2 ms").arg(slowest).arg(longest)));

    // Insert, when not even the editor can be filled, says so in one short
    // line; the server comes back while it shows, and a poll takes it away.
    a.main->EventCommands()->UseEditor(*a.main->findChild<TfrmEvent*>());
    services.expectMessageStartingWith(Kind::Error, Still, Answer::Ok);
    services.told = [&] {
        QVERIFY2(how == 2 ? server->freeze(false) : server->start(), qPrintable(server->error()));
        // A workstation that waited for a stalled server's limit tries again
        // only after a rest.
        // (QTRY evaluates its condition again after it held: added once only.)
        bool added = false;
        QTRY_VERIFY_WITH_TIMEOUT(added = added || thrown([&] { addAtB(QStringLiteral("after")); }).isEmpty(), 20'000);
        QCOMPARE(shown(), 2);
        // So does the views' connection, which met the stall last.
        DayEntryRecord read;
        QTRY_VERIFY_WITH_TIMEOUT(a.main->Database()->DayEntries().GetEqual(read.bytes(), 0, First), 20'000);
        // A poll finds the server back: the line goes and the view shows the
        // other workstation's entry without a command.
        services.setNow(Now.addSecs(60));
        QTRY_VERIFY_WITH_TIMEOUT((a.main->tmrMainTimer(), timer->stop(), outage->isHidden()), 20'000);
    };
    run(a, "actEventNew");
    QCOMPARE(services.withdrawn, 1);
    QCOMPARE(shown(), 3);
    TQuorlaDB other(TScriptedServices::ofTest());
    QCOMPARE(other.DayEntries().RecordCount(), 3);
    QCOMPARE(other.Alarms().RecordCount(), 5);
    QCOMPARE(other.Trail().Latest({}, QString(), 100).size(), 3);
    QCOMPARE(services.busyDepth(), 0);
}

// A workstation started while the server is away says so and offers to try
// again; once the server is back, trying again starts it as usual.
void TestEventCommands::startDuringOutage()
{
    if (!server)
        QSKIP("on a database server only (QUORLA_TEST_ENGINE=postgres)");
    struct Retrying : TScriptedServices
    {
        QStringList asked;
        MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override
        {
            if (!text.startsWith(QLatin1String("The Quorla database cannot be reached at the moment.\r\r")))
                return TScriptedServices::message(kind, buttons, text);
            asked << text;
            if (asked.size() == 2 && !server->start())
                return MessageAnswer::No;
            return MessageAnswer::Yes;
        }
    } services;
    services.setNow(Now);
    {
        TQuorlaDB db(TScriptedServices::ofTest());
        addUser(db, Users[0], QString(), 1);
    }
    QVERIFY2(server->stop(true), qPrintable(server->error()));
    Shell shell;
    logIn(shell, Users[0]);
    QCOMPARE(services.asked.size(), 2);
    QVERIFY2(services.asked[0].contains(TXIsamFile::ErrorText(IsamServerUnreachable)), qPrintable(services.asked[0]));
    QVERIFY(services.asked[0].endsWith(QLatin1String("\r\rTry again?")));
    QVERIFY(!shell.main->Terminating());
    QCOMPARE(shell.main->CurrentUser().UserName(), Users[0]);
    QCOMPARE(services.takeUnexpected(), QStringList());
}

// A screen still shows "new" after another workstation deleted it (and added
// "Board meeting") or renamed it, or while it holds a lock on one of its
// alarms: the command says so, touches neither entry nor alarms, and the view
// catches up.
void TestEventCommands::staleScreen_data()
{
    QTest::addColumn<QString>("elsewhere");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");
    QTest::newRow("delete, deleted elsewhere") << "deleted" << "actEventDelete"
                                               << "Unable to delete event. Another user has deleted it";
    QTest::newRow("delete, renamed elsewhere") << "renamed" << "actEventDelete"
                                               << "Unable to delete event. Another user has changed it";
    QTest::newRow("properties, deleted elsewhere") << "deleted" << "actEventProperties"
                                                   << "Unable to edit event properties. Another user has deleted it";
    // The edit says that nothing of it was kept, and whose alarm.
    QTest::newRow("properties, an alarm locked elsewhere") << "locked" << "actEventProperties" << EditAlarmLocked;
    QTest::newRow("delete, an alarm locked elsewhere") << "locked" << "actEventDelete" << AlarmLocked;
}

void TestEventCommands::staleScreen()
{
    QFETCH(QString, elsewhere);
    QFETCH(QString, command);
    QFETCH(QString, message);
    TScriptedServices services;
    services.setNow(Now);
    Shell shell;
    startAs(shell, QStringLiteral("ME"), {9, 1, 1, 1, 1});
    select(shell, 3);
    edit(shell, "A B alarm");
    run(shell, "actEventNew");
    select(shell, 3);

    TQuorlaDB other(TScriptedServices::ofTest());
    TEventWriter writer(other);
    DayEntryRecord entry;
    QVERIFY(other.DayEntries().GetEqual(entry.bytes(), 0, First));
    AlarmRecord alarm;
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(entry.StartTime());
    if (elsewhere == QLatin1String("locked")) {
        QVERIFY(other.Alarms().Lock(First));
    } else if (elsewhere == QLatin1String("deleted")) {
        QCOMPARE(writer.deleteEntryWithAlarms(First), TEventWriter::Result::Done);
        entry.setDescription(QStringLiteral("Board meeting"));
        writer.insertEntryWithAlarms(entry, alarm);
    } else {
        entry.setDescription(QStringLiteral("Board meeting"));
        QCOMPARE(writer.updateEntryWithAlarms(First, entry, alarm, QString()), TEventWriter::Result::Done);
    }
    const int alarms = other.Alarms().RecordCount();
    const QString before = stored(other, 16);

    if (command == QLatin1String("actEventDelete"))
        services.expectMessage(Kind::Confirmation, DeleteNew, Answer::Yes);
    services.expectMessage(Kind::Information, message, Answer::Ok);
    edit(shell, "C alarm");
    run(shell, command.toLatin1().constData());

    QCOMPARE(other.DayEntries().RecordCount(), 1);
    QCOMPARE(other.Alarms().RecordCount(), alarms);
    QCOMPARE(stored(other, 16), before);
    QCOMPARE(shell.main->WeekView()->Days()[3]->DayEntries().Count(), 1);
    QCOMPARE(shell.main->WeekView()->Days()[3]->DayEntries().Entry(0).Description(),
             elsewhere == QLatin1String("locked") ? QStringLiteral("new") : QStringLiteral("Board meeting"));
}

// Every stored entry as "<day of May or June>:<description>", in day order.
QString days(TQuorlaDB& db)
{
    QMap<QString, QString> byStart;
    DayEntryRecord e;
    TLookup::Each(db.DayEntries(), e.bytes(), [&](const QString&) {
        byStart.insert(e.StartTime(), QString::number(dayOf(e.StartTime()).day()) + ':' + e.Description());
    });
    return QStringList(byStart.values()).join(' ');
}

// A weekly event from Monday 6 May, four times; the week shows its second
// occurrence (13 May) first. Event properties and Delete event on it ask
// which events they act on; each answer changes what it says, and an
// occurrence open elsewhere is left and named.
void TestEventCommands::seriesQuestion_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("answer");     // -1 cancels
    QTest::addColumn<int>("held");       // the day of May whose entry another workstation has open; 0: none;
                                         // -1: none, the series' template made private to A
                                         // -13: deleted with those after it elsewhere while open here
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("shown");  // the repeat the editor showed, and whether it could be changed
    const QString all = QStringLiteral("6:new 13:new 20:new 27:new");
    const QString four = QStringLiteral("Every Monday at 10:30, 4 times");
    // With a plain entry on Tuesday beside the series.
    QTest::newRow("change, cancelled") << "actEventProperties" << -1 << 0 << "6:new 13:new 14:plain 20:new 27:new" << "";
    QTest::newRow("change this one") << "actEventProperties" << 0 << 0 << "6:new 13:moved 20:new 27:new"
                                     << "shut: " + four;
    // The rest of the series: the three occurrences left, from 13 May.
    // Left as a plain entry by the deletion, and saved as one.
    QTest::newRow("change this one, deleted from here on elsewhere meanwhile") << "actEventProperties" << 0 << -13
                                                                               << "6:new 13:moved" << "shut: " + four;
    QTest::newRow("change this and following") << "actEventProperties" << 1 << 0
                                               << "6:new 13:moved 20:moved 27:moved"
                                               << "open: Every Monday at 10:30, 3 times";
    QTest::newRow("change all") << "actEventProperties" << 2 << 0 << "6:moved 13:moved 20:moved 27:moved"
                                << "open: " + four;
    QTest::newRow("change all, one open elsewhere") << "actEventProperties" << 2 << 27
                                                    << "6:moved 13:moved 20:moved 27:new" << "open: " + four;
    QTest::newRow("delete this one") << "actEventDelete" << 0 << 0 << "6:new 20:new 27:new" << "";
    QTest::newRow("delete all, one open elsewhere") << "actEventDelete" << 2 << 27 << "27:new" << "";
    QTest::newRow("delete this one, open elsewhere") << "actEventDelete" << 0 << 13 << all << "";
    // The occurrence is ME's to see, its series' template is not: neither
    // its repeat nor the template in the editor.
    QTest::newRow("change this one, template private") << "actEventProperties" << 0 << -1
                                                       << "6:new 13:moved 20:new 27:new" << "shut: ";
    QTest::newRow("change all, template private") << "actEventProperties" << 2 << -1 << all << "";
    // Split from 20 May on elsewhere first: all is both parts.
    QTest::newRow("change all, split") << "actEventProperties split" << 2 << 0 << "6:moved 13:moved 20:moved 27:moved"
                                       << "open: Every Monday at 10:30 until 19 May 2024";
    QTest::newRow("delete all, split") << "actEventDelete split" << 2 << 0 << "" << "";
}

void TestEventCommands::seriesQuestion()
{
    QFETCH(QString, command);
    QFETCH(int, answer);
    QFETCH(int, held);
    const bool split = command.endsWith(QLatin1String(" split"));
    command = command.section(QLatin1Char(' '), 0, 0);
    TScriptedServices services;
    services.setNow(Now);
    Shell shell;
    startAs(shell, QStringLiteral("ME"), {9, 1});
    TEventCommands& commands = *shell.main->EventCommands();
    const auto rule = TRecurrenceRule::FromRRule(QStringLiteral("FREQ=WEEKLY;COUNT=4"), QDate(2024, 5, 6), QTime(10, 30));
    QString seen;
    commands.Editor = [&](bool, bool, DayEntryRecord& e, AlarmRecord& a, TDesktopServices::MailMessage&) {
        seen = commands.Repeat.editable ? "open" : "shut";
        e.setDescription(QStringLiteral("new"));
        e.setAssigneeKeys({RecordKey::format(2)});
        a.setFlags(AlarmRecord::AlarmWanted);
        commands.Repeat.rule = rule;
        commands.Details.location = QStringLiteral("Hall");
        return 1;
    };
    select(shell, 0);
    run(shell, "actEventNew");
    TQuorlaDB other(TScriptedServices::ofTest());
    QCOMPARE(days(other), QStringLiteral("6:new 13:new 20:new 27:new"));
    QCOMPARE(seen, QStringLiteral("open"));
    QCOMPARE(other.Alarms().RecordCount(), 4);
    QCOMPARE(TDetailsStore(other).Series(First).location, QStringLiteral("Hall"));
    if (answer == -1) {
        // The week marks its occurrence and not a plain entry beside it,
        // with one read of the links for the whole week.
        addEntry(other, keyOf(2024, 5, 14, 9), First, {}, 0, QStringLiteral("plain"));
        shell.main->RefreshView();
        const int reads = shell.main->ViewAnswers()->RepeatReads();
        QStringList marks;
        for (int day : {0, 1}) {
            TRepeatMark mark = TRepeatMark::None;
            shell.main->WeekView()->OnWantRepeatingFlag(nullptr, shell.main->WeekView()->Days()[day]->DayEntries().PkAt(0),
                                                        mark);
            marks << QString::number(int(mark));
        }
        QCOMPARE(marks, (QStringList{"1", "0"}));
        QCOMPARE(shell.main->ViewAnswers()->RepeatReads(), reads + 1);
    }

    SeriesRecord series;
    if (split && TSeriesWriter(other).ReadSeries(RecordKey::format(1), series)) {
        TRecurrenceRule later = *rule;
        later.setCount(2);
        series.setRule(later);
        TSeriesWriter(other).Change(RecordKey::format(1), TSeriesWriter::Scope::ThisAndFollowing, QDate(2024, 5, 20),
                                    series, Now.date(), TSeriesWriter::HeldOccurrences::Leave);
    }
    std::optional<TRecordLock> lock;
    if (held == -1) {
        SeriesRecord series;
        QVERIFY(TSeriesWriter(other).ReadSeries(First, series));
        series.setFlags(series.Flags() | SeriesRecord::Private);
        QVERIFY(other.Series()->Update(series.bytes(), First));
    } else if (held > 0) {
        for (const auto& [key, link] : TSeriesWriter(other).Links(RecordKey::format(1)))
            if (link.DayKey() == keyOf(2024, 5, held))
                lock.emplace(other.DayEntries(), link.EntryKey());
        QVERIFY(lock);
    }
    const QString which = command == QLatin1String("actEventDelete") ? TEventCommands::DeleteWhich
                                                                     : TEventCommands::ChangeWhich;
    services.expectChoice(which.arg(QStringLiteral("new")), answer);
    if (held == 27)
        services.expectMessage(Kind::Information, TEventCommands::SeriesLeft + "\r27/05/24: open on another workstation",
                               Answer::Ok);
    if (held == 13)
        services.expectMessage(Kind::Information, DeleteLocked, Answer::Ok);
    if (held == -1 && answer > 0)
        services.expectMessage(Kind::Information, TEventCommands::SeriesPrivate, Answer::Ok);
    seen.clear();
    commands.Editor = [&](bool, bool, DayEntryRecord& e, AlarmRecord&, TDesktopServices::MailMessage&) {
        seen = (commands.Repeat.editable ? "open: " : "shut: ") + commands.Repeat.rule.value_or(TRecurrenceRule()).Summary();
        if (held < -1)
            TSeriesWriter(other).Delete(RecordKey::format(1), TSeriesWriter::Scope::ThisAndFollowing,
                                        QDate(2024, 5, -held), TSeriesWriter::HeldOccurrences::Leave);
        e.setDescription(QStringLiteral("moved"));
        return 1;
    };
    select(shell, 0);
    run(shell, command.toLatin1().constData());
    QTEST(days(other), "expected");
    QTEST(seen, "shown");
    QCOMPARE(services.busyDepth(), 0);
}

QUORLA_TEST_GUI_MAIN(TestEventCommands)
#include "tst_eventcommands.moc"
