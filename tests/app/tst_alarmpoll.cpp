#include "AppTestSupport.h"
#include "DialogTest.h"
#include "QuorlaTest.h"
#include "TScriptedServices.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "FaultVfs.h"
#include "IsamCode.h"
#include "TAlarmPoller.h"
#include "TCommand.h"
#include "TfrmNotify.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QScopeGuard>
#include <QTimer>

#include <sqlite3.h>

using namespace AppTest;

namespace {

// Wednesday 15 May 2024, 10:17:42; every event starts at 09:30 that day.
const QDateTime Now(QDate(2024, 5, 15), QTime(10, 17, 42));
const QString Me = QStringLiteral("0000000001");

// Adds my alarm "event@seconds from now" for an event starting at `start`
// (09:30 today when not given); the event "gone" does not exist.
void addAlarm(TQuorlaDB& db, const QString& wanted, const QString& start = QString())
{
    const bool gone = wanted.startsWith(QLatin1String("gone"));
    DayEntryRecord entry;
    entry.setStartTime(start.isEmpty() ? RecordKey::format(TStamp().Seconds() - 2862) : start);
    entry.setDescription(wanted.section('@', 0, 0));
    if (!gone)
        db.DayEntries().Insert(entry.bytes());
    AppTest::addAlarm(db, RecordKey::format(TStamp().Seconds() + wanted.section('@', 1).toInt()), Me,
                      gone ? QStringLiteral("0000000999") : db.DayEntries().CurrentKey());
}

// Every alarm left, as "event@seconds from Now", by key.
QString alarmsLeft(TQuorlaDB& db)
{
    QStringList left;
    AlarmRecord a;
    DayEntryRecord e;
    db.Alarms().Rewind(0);
    while (db.Alarms().Get(a.bytes(), 0, QString(), TXIsamFile::ScanNext)) {
        db.DayEntries().GetEqual(e.bytes(), 0, a.DayEntryKey());
        left << e.Description() + '@' + QString::number(RecordKey::parse(a.AlarmTime()) - TStamp().Seconds())
                    + (a.UserAlarmKey() == Me + a.AlarmTime() ? "" : "!");
    }
    return left.join(' ');
}

} // namespace

class TestAlarmPoll : public QObject
{
    Q_OBJECT

private slots:
    void poll_data()
    {
        // alarms | answers (6 = "1 day", snoozed from the click) | pop-ups | alarms left
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("unreadable"); // the event's read fails
        QTest::newRow("due this very second") << "a@0 | off | a | " << false;
        QTest::newRow("a second early") << "a@1 | | | a@1" << false;
        QTest::newRow("earliest first, one poll") << "b@-100 a@-200 | off off | a b | " << false;
        QTest::newRow("close box brings it back") << "a@-9 | close off | a a | " << false;
        QTest::newRow("1 day, choice kept, Enter") << "a@-9 b@-5 | 6 enter | a b | a@86400 b@86400" << false;
        QTest::newRow("event vanished") << "gone@-9 a@50 | | | a@50" << false;
        // A read error on the share is an error, not a missing event: the
        // alarm stays for the next poll.
        QTest::newRow("event unreadable") << "a@-9 | | | a@-9" << true;
    }
    void poll()
    {
        QFETCH(QString, script);
        QFETCH(bool, unreadable);
        const QStringList part = script.split('|');
        TScriptedServices services;
        services.setNow(Now);
        if (script.startsWith(QLatin1String("gone")))
            services.expectMessage(Kind::Information,
                                   "An alarm has triggered for an event that cannot be found. The alarm will be deleted",
                                   Answer::Ok);
        if (unreadable)
            services.expectMessage(Kind::Error, TXIsamFile::ErrorText(IsamIoError), Answer::Ok);
        FaultVfs::install();
        const auto uninstall = qScopeGuard([] { FaultVfs::uninstall(); });
        auto db = DialogTest::database(QStringLiteral("db"), {QStringLiteral("ME")});
        for (const QString& wanted : part[0].split(' ', Qt::SkipEmptyParts))
            addAlarm(*db, wanted);
        TfrmNotify notify(TScriptedServices::ofTest());
        TAlarmPoller poller([&notify, unreadable](AlarmRecord& alarm, const QString& key, TQuorlaDB& database) {
            if (unreadable)
                FaultVfs::arm(FaultVfs::Read, 1, SQLITE_IOERR_READ, -1);
            return notify.Execute(alarm, key, database);
        });
        QStringList seen;
        auto popups = answerPopups(part[1].split(' ', Qt::SkipEmptyParts), seen);
        QCOMPARE(TCommand::Run(services, [&] { poller.Poll(*db, Me); }), !unreadable);
        FaultVfs::disarm();
        QCOMPARE(seen.join(' '), part[2].trimmed());
        QCOMPARE(alarmsLeft(*db), part[3].trimmed());
        QCOMPARE(services.beeps(), 2 * int(seen.size()));
        QCOMPARE(services.sleptMilliseconds(), 500 * seen.size());
        // Each pop-up also went to the desktop's notifications, taken back when it closed.
        QStringList notified;
        for (const auto& shown : services.notifications())
            notified << shown.note.summary + (shown.withdrawn ? "" : "(left)");
        QCOMPARE(notified.join(' '), part[2].trimmed());
        if (!seen.isEmpty())
            QCOMPARE(services.notifications().constLast().note.body, "Due Wednesday May 15, 09:30");
    }

    // The program's window is hidden (in the notification area) when the alarm
    // comes due; a click on the notification brings it and the pop-up back. The
    // pop-up's fields are read-only in the normal text colours, the due text fits
    // whole with the longest weekday and month names, and a long description
    // reads whole, wrapped.
    void popUpFromTheNotificationArea()
    {
        TScriptedServices services;
        services.setNow(Now);
        auto db = DialogTest::database(QStringLiteral("popup"), {QStringLiteral("ME")});
        const QString description
            = QStringLiteral("Quarterly review of the budget with every head of department, the board and the auditors");
        addAlarm(*db, description + QStringLiteral("@-9"), keyOf(2024, 9, 25, 23, 55));
        QWidget window;
        auto* notify = new TfrmNotify(TScriptedServices::ofTest(), &window);
        bool shown = false;
        bool readable = true;
        QString due, whole;
        int room = 0;
        int needed = 1;
        int hidden = 1;
        whenModal([&](QWidget* popup) {
            shown = services.activateNotification(0) && window.isVisible() && popup->isVisible();
            auto* text = popup->findChild<QTextEdit*>(QStringLiteral("edtDescription"));
            auto* line = popup->findChild<QLineEdit*>(QStringLiteral("edtDue"));
            readable = text->isEnabled() && text->isReadOnly() && line->isEnabled() && line->isReadOnly();
            // A line edit keeps two pixels on either side of its text.
            const auto roomIn = [](const QLineEdit* field) {
                return field->contentsRect().width() - field->textMargins().left() - field->textMargins().right() - 4;
            };
            auto* field = popup->findChild<QLineEdit*>(QStringLiteral("edtDue"));
            due = field->text();
            room = roomIn(field);
            needed = QFontMetrics(field->font()).horizontalAdvance(due);
            whole = text->toPlainText();
            hidden = text->verticalScrollBar()->maximum();
            popup->findChild<QPushButton*>(QStringLiteral("btnRemove"))->click();
        });
        TAlarmPoller([notify](AlarmRecord& alarm, const QString& key, TQuorlaDB& database) {
            return notify->Execute(alarm, key, database);
        }).Poll(*db, Me);
        QVERIFY(shown);
        QVERIFY(!services.activateNotification(0));
        QVERIFY(readable);
        QCOMPARE(due, QStringLiteral("Wednesday September 25, 23:55"));
        QVERIFY2(needed <= room, qPrintable(QStringLiteral("%1 > %2").arg(needed).arg(room)));
        // No line of the description is scrolled out of its field.
        QCOMPARE(whole, description);
        QCOMPARE(hidden, 0);
    }
};

QUORLA_TEST_GUI_MAIN(TestAlarmPoll)
#include "tst_alarmpoll.moc"
