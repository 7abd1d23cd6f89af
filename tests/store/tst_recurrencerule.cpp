// Repeating-event rules in the zone Europe/Berlin: the dates and times each
// rule produces - month ends, 29 February, both daylight-saving days, ends by
// date and by count - as expected and as libical's own recurrence iterator
// and zone conversion give them for the same RRULE; the RRULE text read back
// into the same rule; and the one-line summary.

#include "QuorlaTest.h"
#include "TRecurrenceRule.h"

#include <libical/ical.h>

#include <QStringList>

#include <ctime>

Q_DECLARE_METATYPE(TRecurrenceRule)

namespace {

using Frequency = TRecurrenceRule::Frequency;

TRecurrenceRule rule(Frequency frequency, const QDate& start, const QTime& time, int interval = 1)
{
    TRecurrenceRule r;
    r.setFrequency(frequency);
    r.setStart(start);
    r.setTime(time);
    r.setInterval(interval);
    return r;
}

// The rule read from `rrule` for a start on `start` at `time` (none: un-timed);
// an invalid rule when it is refused.
TRecurrenceRule parsed(const char* rrule, const QDate& start, const QTime& time = {})
{
    return TRecurrenceRule::FromRRule(QString::fromLatin1(rrule), start, time).value_or(TRecurrenceRule());
}

int days(std::initializer_list<int> qtDays)
{
    int bits = 0;
    for (int d : qtDays)
        bits |= TRecurrenceRule::weekdayBit(d);
    return bits;
}

QString text(const QList<QDateTime>& moments)
{
    QStringList out;
    for (const QDateTime& m : moments)
        out << m.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return out.join(QLatin1Char(' '));
}

// What libical makes of the same RRULE: its iterator from the start over
// wall-clock times, each occurrence then made a moment with the offset from
// UTC that libical's Europe/Berlin has at the start of that day - RFC 5545's
// offset before a jump - and read back as this process's wall clock.
// (libical 3.0 itself gets the jump wrong both ways: iterating over zoned
// times carries a time moved on into every later occurrence, and its own
// conversion moves a time the clock jumps over back, 02:30 to 01:30.)
QString libicalReference(const TRecurrenceRule& r, const QDate& to)
{
    icaltimezone* berlin = icaltimezone_get_builtin_timezone("Europe/Berlin");
    const QByteArray rrule = r.ToRRule().toLatin1();
    const icalrecurrencetype recur = icalrecurrencetype_from_string(rrule.constData());
    icaltimetype start = icaltime_null_time();
    start.year = r.Start().year();
    start.month = r.Start().month();
    start.day = r.Start().day();
    if (r.UnTimed()) {
        start.is_date = 1;
    } else {
        start.hour = r.Time().hour();
        start.minute = r.Time().minute();
    }
    icalrecur_iterator* it = icalrecur_iterator_new(recur, start);
    QList<QDateTime> found;
    for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t); t = icalrecur_iterator_next(it)) {
        if (QDate(t.year, t.month, t.day) > to)
            break;
        if (r.UnTimed()) {
            found << QDateTime(QDate(t.year, t.month, t.day), QTime(0, 0));
            continue;
        }
        icaltimetype midnight = t;
        midnight.hour = midnight.minute = midnight.second = 0;
        int dst = 0;
        const int offset = icaltimezone_get_utc_offset(berlin, &midnight, &dst);
        const QDateTime local = QDateTime::fromSecsSinceEpoch(icaltime_as_timet(t) - offset).toLocalTime();
        found << QDateTime(local.date(), local.time());
    }
    icalrecur_iterator_free(it);
    return text(found);
}

} // namespace

class TestRecurrenceRule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        ::tzset();
        QCOMPARE(QDateTime(QDate(2027, 7, 1), QTime(12, 0)).offsetFromUtc(), 7200);
    }

    void occurrences_data()
    {
        QTest::addColumn<TRecurrenceRule>("rule");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QString>("expected");

        const QDate end(2027, 12, 31);
        QTest::newRow("weekly Monday and Thursday until a Monday, included")
            << parsed("FREQ=WEEKLY;BYDAY=MO,TH;UNTIL=20270628", QDate(2027, 6, 14), QTime(9, 0)) << end
            << "2027-06-14 09:00 2027-06-17 09:00 2027-06-21 09:00 2027-06-24 09:00 2027-06-28 09:00";
        QTest::newRow("every 2 weeks from a Wednesday: the start is no occurrence, count 4")
            << parsed("FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,TH;COUNT=4", QDate(2027, 1, 6), QTime(8, 15)) << end
            << "2027-01-07 08:15 2027-01-18 08:15 2027-01-21 08:15 2027-02-01 08:15";
        QTest::newRow("every 2 weeks on Monday from a Wednesday: the start's week is the first")
            << parsed("FREQ=WEEKLY;INTERVAL=2;BYDAY=MO;COUNT=3", QDate(2027, 1, 6), QTime(10, 0)) << end
            << "2027-01-18 10:00 2027-02-01 10:00 2027-02-15 10:00";
        QTest::newRow("every 2 months on the 2nd Tuesday from the 4th: the start's month is the first")
            << parsed("FREQ=MONTHLY;INTERVAL=2;BYDAY=2TU;COUNT=3", QDate(2027, 1, 26), QTime(10, 0)) << end
            << "2027-03-09 10:00 2027-05-11 10:00 2027-07-13 10:00";
        QTest::newRow("monthly on the 31st skips the short months, count counts those held")
            << parsed("FREQ=MONTHLY;BYMONTHDAY=31;COUNT=4", QDate(2027, 1, 31), QTime(10, 0)) << end
            << "2027-01-31 10:00 2027-03-31 10:00 2027-05-31 10:00 2027-07-31 10:00";
        QTest::newRow("monthly on the last Friday")
            << parsed("FREQ=MONTHLY;BYDAY=-1FR", QDate(2027, 1, 29), QTime(14, 30)) << QDate(2027, 4, 30)
            << "2027-01-29 14:30 2027-02-26 14:30 2027-03-26 14:30 2027-04-30 14:30";
        QTest::newRow("yearly on 29 February, un-timed: leap years only")
            << parsed("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29", QDate(2028, 2, 29)) << QDate(2036, 12, 31)
            << "2028-02-29 00:00 2032-02-29 00:00 2036-02-29 00:00";
        QTest::newRow("02:30 on the spring day moves on by the hour the clock jumps")
            << parsed("FREQ=DAILY;COUNT=3", QDate(2027, 3, 27), QTime(2, 30)) << end
            << "2027-03-27 02:30 2027-03-28 03:30 2027-03-29 02:30";
        QTest::newRow("02:30 on the autumn day, which happens twice, stays")
            << parsed("FREQ=DAILY;UNTIL=20271101", QDate(2027, 10, 30), QTime(2, 30)) << end
            << "2027-10-30 02:30 2027-10-31 02:30 2027-11-01 02:30";

        TRecurrenceRule r = rule(Frequency::Daily, QDate(2027, 5, 1), QTime(7, 0));
        r.setUntil(QDate(2027, 4, 30));
        QTest::newRow("an end before the start: none") << r << end << "";
    }

    void occurrences()
    {
        QFETCH(TRecurrenceRule, rule);
        QFETCH(QDate, to);
        QFETCH(QString, expected);

        QVERIFY(rule.IsValid());
        const QList<QDateTime> made = rule.Occurrences(rule.Start(), to);
        QCOMPARE(text(made), expected);
        if (!made.isEmpty())
            QCOMPARE(libicalReference(rule, to), expected);

        const auto back = TRecurrenceRule::FromRRule(rule.ToRRule(), rule.Start(), rule.Time());
        QVERIFY2(back.has_value(), qPrintable(rule.ToRRule()));
        QCOMPARE(text(back->Occurrences(rule.Start(), to)), expected);
        QCOMPARE(back->ToRRule(), rule.ToRRule());
    }

    void texts_data()
    {
        QTest::addColumn<TRecurrenceRule>("rule");
        QTest::addColumn<QString>("rrule");
        QTest::addColumn<QString>("summary");

        TRecurrenceRule r = rule(Frequency::Weekly, QDate(2027, 6, 14), QTime(), 2);
        r.setWeekdays(days({1, 2, 5}));
        r.setCount(10);
        QTest::newRow("every 2 weeks, count, un-timed")
            << r << "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,TU,FR;COUNT=10"
            << "Every 2 weeks on Monday, Tuesday and Friday, 10 times";
        r = rule(Frequency::Monthly, QDate(2027, 1, 29), QTime(14, 30));
        r.setMonthlyWeek(-1);
        QTest::newRow("last weekday") << r << "FREQ=MONTHLY;BYDAY=-1FR" << "Monthly on the last Friday at 14:30";
        r = rule(Frequency::Monthly, QDate(2027, 1, 22), QTime(), 3);
        r.setUntil(QDate(2028, 1, 1));
        QTest::newRow("day of month, un-timed until")
            << r << "FREQ=MONTHLY;INTERVAL=3;BYMONTHDAY=22;UNTIL=20280101" << "Every 3 months on the 22nd until 1 January 2028";
        r = rule(Frequency::Yearly, QDate(2028, 2, 29), QTime());
        r.setCount(1);
        QTest::newRow("yearly once") << r << "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;COUNT=1"
                                     << "Every year on 29 February, once";
        QTest::newRow("daily") << rule(Frequency::Daily, QDate(2027, 1, 1), QTime(7, 5)) << "FREQ=DAILY"
                               << "Every day at 07:05";
    }

    void texts()
    {
        QFETCH(TRecurrenceRule, rule);
        QFETCH(QString, rrule);
        QCOMPARE(rule.ToRRule(), rrule);
        QTEST(rule.Summary(), "summary");
        QCOMPARE(TRecurrenceRule::FromRRule(rrule, rule.Start(), rule.Time()), std::optional(rule));
    }

    void refusedRRules_data()
    {
        QTest::addColumn<QString>("rrule");
        QTest::newRow("not a rule") << "every monday";
        QTest::newRow("set position") << "FREQ=MONTHLY;BYDAY=MO,TU;BYSETPOS=-1";
        QTest::newRow("hours") << "FREQ=DAILY;BYHOUR=9,17";
        QTest::newRow("another day of the month than the start's") << "FREQ=MONTHLY;BYMONTHDAY=3";
        QTest::newRow("fifth weekday") << "FREQ=MONTHLY;BYDAY=5TU";
        QTest::newRow("hourly") << "FREQ=HOURLY";
    }

    void refusedRRules()
    {
        QFETCH(QString, rrule);
        QVERIFY(!TRecurrenceRule::FromRRule(rrule, QDate(2027, 6, 1), QTime(9, 0)).has_value());
    }
};

QUORLA_TEST_CORE_MAIN(TestRecurrenceRule)
#include "tst_recurrencerule.moc"
