#include "AppTestSupport.h"
#include "DialogTest.h"
#include "QuorlaTest.h"
#include "TScriptedServices.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TAlarmPoller.h"
#include "TfrmNotify.h"

#include <QTimer>

using Kind = TServices::MessageKind;
using Answer = TServices::MessageAnswer;

namespace {

// Wednesday 15 May 2024, 10:17:42; every event starts at 09:30 that day.
const QDateTime Now(QDate(2024, 5, 15), QTime(10, 17, 42));
const QString EntryMissing
    = QStringLiteral("An alarm has triggered for an event that cannot be found. The alarm will be deleted");

qint32 nowSeconds()
{
    return TStamp().Seconds();
}

// Adds an alarm for user 1 at `spec` = "description@seconds from now"; the
// description "gone" has no event.
void addAlarm(TQuorlaDB& db, const QString& spec)
{
    DayEntryRecord entry;
    db.InitDayEntryRecord(entry);
    entry.setStartTime(RecordKey::format(nowSeconds() - 2862));
    entry.setDescription(spec.section(QLatin1Char('@'), 0, 0));
    const bool gone = entry.Description() == QLatin1String("gone");
    if (!gone)
        db.DayEntries().Insert(entry.bytes());
    AlarmRecord alarm;
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(RecordKey::format(nowSeconds() + spec.section(QLatin1Char('@'), 1).toInt()));
    alarm.setDayEntryKey(gone ? QStringLiteral("0000000999") : db.DayEntries().CurrentKey());
    alarm.setUserKey(QStringLiteral("0000000001"));
    alarm.rebuildUserAlarmKey();
    db.Alarms().Insert(alarm.bytes());
}

// The alarms left, each as "event@seconds from the pinned now" (Now), by key.
QStringList alarmsLeft(TQuorlaDB& db, qint32 base)
{
    QStringList left;
    AlarmRecord alarm;
    DayEntryRecord entry;
    db.Alarms().Rewind(0);
    while (db.Alarms().Get(alarm.bytes(), 0, QString(), TXIsamFile::ScanNext)) {
        if (alarm.UserAlarmKey() != alarm.UserKey() + alarm.AlarmTime())
            left << QStringLiteral("bad user-and-time key");
        db.DayEntries().GetEqual(entry.bytes(), 0, alarm.DayEntryKey());
        left << entry.Description() + QLatin1Char('@') + QString::number(RecordKey::parse(alarm.AlarmTime()) - base);
    }
    return left;
}

} // namespace

class TestAlarmPoll : public QObject
{
    Q_OBJECT

private slots:
    void poll_data();
    void poll();
    void twoWorkstationsSeeEachOthersChanges();
};

void TestAlarmPoll::poll_data()
{
    QTest::addColumn<QStringList>("alarms");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<QStringList>("left");
    const auto l = [](const char* text) { return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts); };
    QTest::newRow("due this very second") << l("a@0") << l("off") << l("a") << l("");
    QTest::newRow("a second early") << l("a@1") << l("") << l("") << l("a@1");
    QTest::newRow("earliest first, one poll") << l("b@-100 a@-200") << l("off off") << l("a b") << l("");
    QTest::newRow("close box brings it back") << l("a@-9") << l("close off") << l("a a") << l("");
    QTest::newRow("1 hour from the click") << l("a@-900") << QStringList{"1 hour"} << l("a") << l("a@3600");
    QTest::newRow("1 day, choice kept, Enter") << l("a@-9 b@-5") << QStringList{"1 day", "enter"} << l("a b")
                                               << l("a@86400 b@86400");
    QTest::newRow("Esc snoozes 5 minutes") << l("a@-9") << l("esc") << l("a") << l("a@300");
    QTest::newRow("event vanished") << l("gone@-9 a@50") << l("") << l("") << l("a@50");
}

void TestAlarmPoll::poll()
{
    QFETCH(QStringList, alarms);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, seen);
    QFETCH(QStringList, left);
    TScriptedServices services;
    services.setNow(Now);
    if (alarms.first().startsWith(QLatin1String("gone")))
        services.expectMessage(Kind::Information, EntryMissing, Answer::Ok);
    auto db = DialogTest::database(QStringLiteral("db"), {QStringLiteral("ME")});
    for (const QString& spec : alarms)
        addAlarm(*db, spec);
    TfrmNotify notify;
    TAlarmPoller poller(notify);
    QStringList shown;
    QStringList dues;
    const auto popups = AppTest::answerPopups(answers, shown, &dues);
    poller.Poll(*db, QStringLiteral("0000000001"));
    QCOMPARE(shown, seen);
    QCOMPARE(alarmsLeft(*db, nowSeconds()), left);
    QCOMPARE(services.beeps(), 2 * int(seen.size()));
    QCOMPARE(services.sleptMilliseconds(), 500 * seen.size());
    // The event's start, not the alarm's time.
    if (!dues.isEmpty())
        QCOMPARE(dues.first(), QStringLiteral("Wednesday May 15, 09:30"));
}

void TestAlarmPoll::twoWorkstationsSeeEachOthersChanges()
{
    TScriptedServices services;
    services.setNow(Now);
    auto one = DialogTest::database(QStringLiteral("db"), {QStringLiteral("ME")});
    TQuorlaDB two;
    addAlarm(*one, QStringLiteral("a@-60"));
    TfrmNotify notifyOne;
    TfrmNotify notifyTwo;
    TAlarmPoller pollerOne(notifyOne);
    TAlarmPoller pollerTwo(notifyTwo);
    const QString me = QStringLiteral("0000000001");
    QStringList shown;
    const auto popups = AppTest::answerPopups({QStringLiteral("1 hour"), QStringLiteral("off")}, shown);
    pollerOne.Poll(*one, me);
    pollerTwo.Poll(two, me);
    QCOMPARE(shown, QStringList{QStringLiteral("a")});
    services.setNow(Now.addSecs(3600));
    pollerTwo.Poll(two, me);
    pollerOne.Poll(*one, me);
    QCOMPARE(shown, (QStringList{QStringLiteral("a"), QStringLiteral("a")}));
    QCOMPARE(two.Alarms().RecordCount(), 0);
}

QUORLA_TEST_GUI_MAIN(TestAlarmPoll)
#include "tst_alarmpoll.moc"
