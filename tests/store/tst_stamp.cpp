#include "EStamp.h"
#include "QuorlaTest.h"
#include "TClock.h"
#include "TStamp.h"

namespace {

QDateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

TStamp stampAt(const QDateTime& moment)
{
    TStamp stamp;
    stamp.SetDateTime(moment);
    return stamp;
}

// Stands for SetSeconds in the "unit" column of the move table.
constexpr int BySetSeconds = 100;

void move(TStamp& stamp, int unit, qint32 count)
{
    if (unit == BySetSeconds)
        stamp.SetSeconds(count);
    else
        stamp.Increment(unit, count);
}

} // namespace

class tst_Stamp : public QObject
{
    Q_OBJECT

    int changes_ = 0;

    void countChanges(TStamp& stamp)
    {
        changes_ = 0;
        stamp.OnChange = [this, &stamp](TStamp* sender) { changes_ += sender == &stamp ? 1 : 100; };
    }

private slots:
    void cleanup() { TClock::setOverride({}); }

    // Two-digit years are 1970 to 2037; a refused date clears the stamp
    // without a change event.
    void setDateTime_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("key"); // empty: refused with `message`
        QTest::addColumn<QString>("message");
        QTest::newRow("epoch") << 1970 << 1 << 1 << QTime(0, 0) << "0000000000" << "";
        QTest::newRow("last second") << 2037 << 12 << 31 << QTime(23, 59, 59) << "2145916799" << "";
        QTest::newRow("two-digit 37") << 37 << 1 << 1 << QTime(0, 0) << "2114380800" << "";
        QTest::newRow("two-digit 69") << 69 << 1 << 1 << QTime(0, 0) << "" << "Year precedes 1970";
        QTest::newRow("2038") << 2038 << 1 << 1 << QTime(0, 0) << "" << "Year excedes 2037";
        QTest::newRow("29 February, common year") << 2001 << 2 << 29 << QTime(0, 0) << "" << "Invalid date or time";
    }
    void setDateTime()
    {
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(QTime, time);
        QFETCH(QString, key);
        TStamp stamp = stampAt(at(2010, 5, 5, 5, 5, 5));
        countChanges(stamp);
        QTEST(thrown<EStamp>([&] { stamp.SetDateTime(year, month, day, time.hour(), time.minute(), time.second()); }),
              "message");
        QCOMPARE(changes_, key.isEmpty() ? 0 : 1);
        QCOMPARE(stamp.Key(), key.isEmpty() ? QStringLiteral("0000000000") : key);
        // The tests run in UTC: the key's seconds are the local moment.
        const QDateTime moment = QDateTime::fromSecsSinceEpoch(stamp.Seconds());
        QCOMPARE(QDateTime(QDate(stamp.Year(), stamp.Month(), stamp.Day()),
                           QTime(stamp.Hour(), stamp.Minute(), stamp.Second())),
                 moment);
        QCOMPARE(stamp.AsDateTime(), moment);
    }

    // The last second of a leap day.
    void dayStart()
    {
        const QDateTime moment = at(2000, 2, 29, 23, 59, 59);
        const QString midnightKey = stampAt(moment.date().startOfDay()).Key();
        TStamp stamp = stampAt(moment);
        QCOMPARE(stamp.DayKey(), midnightKey);
        countChanges(stamp);
        stamp.TruncateToDay();
        QCOMPARE(stamp.Key(), midnightKey);
        QCOMPARE(changes_, 1);
    }

    void move_data()
    {
        // A refused move names its message and keeps the start as the result.
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("count");
        QTest::addColumn<QDateTime>("result");
        QTest::addColumn<QString>("message");
        const QString range = QStringLiteral("Increment out of range");
        const QString overflow = QStringLiteral("Integer overflow");
        const QDateTime y2010 = at(2010, 1, 1);
        const QDateTime lastDay = at(2037, 12, 31, 8);
        QTest::newRow("set to last second") << y2010 << BySetSeconds << 2145916799
                                            << at(2037, 12, 31, 23, 59, 59) << QString();
        QTest::newRow("day past 2037") << lastDay << int(TStamp::IncDays) << 1 << lastDay << range;
        QTest::newRow("huge count of weeks") << y2010 << int(TStamp::IncWeeks) << 1000000 << y2010
                                             << overflow;
        QTest::newRow("set to 2038") << y2010 << BySetSeconds << 2145916800 << y2010 << range;
    }
    void move()
    {
        QFETCH(QDateTime, start);
        QFETCH(int, unit);
        QFETCH(int, count);
        QFETCH(QString, message);
        TStamp stamp = stampAt(start);
        countChanges(stamp);
        QCOMPARE(thrown<EStamp>([&] { ::move(stamp, unit, count); }), message);
        QTEST(stamp.AsDateTime(), "result");
        QCOMPARE(changes_, message.isEmpty() ? 1 : 0);
    }

    void isToday_data()
    {
        // The stamp is at 23:59 on 15 June 2010.
        QTest::addColumn<QDateTime>("clock");
        QTest::addColumn<bool>("today");
        QTest::newRow("clock at 00:00 that day") << at(2010, 6, 15) << true;
        QTest::newRow("clock the midnight after") << at(2010, 6, 16) << false;
    }
    void isToday()
    {
        QFETCH(QDateTime, clock);
        TClock::setOverride([clock] { return clock; });
        QTEST(stampAt(at(2010, 6, 15, 23, 59)).IsToday(), "today");
    }

    void pictures_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("text");
        const QDateTime fri = at(2009, 7, 3, 8, 5, 9);
        QTest::newRow("default") << "hh:nn:ss dd/mm/yy" << fri << "08:05:09 03/07/09";
        QTest::newRow("report day") << "ddd dd mmmm yyyy" << fri << "Fri 03 July 2009";
        QTest::newRow("alarm, day unpadded") << "dddd mmmm d, hh:nn" << fri
                                             << "Friday July 3, 08:05";
    }
    void pictures()
    {
        QFETCH(QString, picture);
        QFETCH(QDateTime, moment);
        QTEST(TStamp::FormatDateTime(picture, moment), "text");
    }
};

QUORLA_TEST_CORE_MAIN(tst_Stamp)
#include "tst_stamp.moc"
