// The week view: its seven days' dates, moving by weeks, and a day that fails
// to read.

#include "EQuorla.h"
#include "QuorlaTest.h"
#include "TClock.h"
#include "TDayView.h"
#include "TDayViewList.h"
#include "TWeekView.h"
#include "ViewTestSupport.h"

#include <QHash>


using namespace ViewTest;

namespace {

// A week view whose handler gives every day one entry, assigned to user 1, and
// records which days were read.
struct WeekUnderTest
{
    TWeekView week;
    QStringList asked;
    QStringList errors;

    WeekUnderTest()
    {
        week.resize(715, 219);
        week.OnWantDayEntries = [this](QObject* sender, const QString& key, TDayEntries& entries) {
            QCOMPARE(sender, &week);
            asked.append(key);
            const QString nine = QString::number(key.toLongLong() + 9 * 3600).rightJustified(10, '0');
            entries.Add(entry(QStringLiteral("Stand-up"), 0, nine, {QStringLiteral("0000000001")}),
                        key.right(5).rightJustified(10, '0'));
        };
        week.OnError = [this](QObject* sender, const QString& message) {
            QCOMPARE(sender, &week);
            errors.append(message);
        };
    }
    TDayView& day(int i) { return *week.Days()[std::size_t(i)]; }
};

} // namespace

class TestWeekView : public QObject
{
    Q_OBJECT

private slots:
    void init() { TClock::setOverride(pinnedNow); }
    void cleanup() { TClock::setOverride({}); }

    // A Sunday goes back six days, each day read once, Monday first, and the
    // time of day travels into every stamp. A week on and back moves every
    // day by a week, reading each once, the focused day still current.
    void showAndMoveWeeks()
    {
        WeekUnderTest t;
        t.week.ShowWeekOf(QDateTime(QDate(1999, 1, 3), QTime(15, 45)));
        QStringList expected;
        std::array<qint32, 7> before{};
        for (int i = 0; i < 7; ++i) {
            expected.append(dayKey(QDate(1998, 12, 28).addDays(i)));
            QCOMPARE(t.day(i).Stamp.DayKey(), expected.last());
            QCOMPARE(t.day(i).Stamp.Hour() * 60 + t.day(i).Stamp.Minute(), 15 * 60 + 45);
            before[std::size_t(i)] = t.day(i).Stamp.Seconds();
        }
        QCOMPARE(t.asked, expected);
        t.week.show();
        QVERIFY(QTest::qWaitForWindowActive(&t.week));
        t.day(2).List()->setFocus();
        QCOMPARE(t.week.CurrentDay(), &t.day(2));
        t.asked.clear();
        t.week.NextWeek();
        for (int i = 0; i < 7; ++i)
            QCOMPARE(t.day(i).Stamp.Seconds(), before[std::size_t(i)] + 604800);
        QCOMPARE(t.asked.size(), 7);
        QCOMPARE(t.week.CurrentDay(), &t.day(2));
        QCOMPARE(t.week.SelectedSeconds(), before[2] + 604800);
        t.week.PrevWeek();
        t.week.PrevWeek();
        for (int i = 0; i < 7; ++i)
            QCOMPARE(t.day(i).Stamp.Seconds(), before[std::size_t(i)] - 604800);
    }

    void failingDayStopsTheWeek()
    {
        WeekUnderTest t;
        t.week.ShowWeekOf(QDateTime(QDate(1999, 1, 1), QTime(0, 0)));
        auto reads = t.week.OnWantDayEntries;
        t.week.OnWantDayEntries = [&](QObject* sender, const QString& key, TDayEntries& entries) {
            if (t.asked.size() == 7 + 3)
                throw EQuorla(QStringLiteral("dataset unreadable"));
            reads(sender, key, entries);
        };
        QVERIFY_THROWS_EXCEPTION(EQuorla, t.week.NextWeek());
        // Monday to Wednesday moved on; Thursday failed to read; the rest stayed.
        QCOMPARE(t.day(2).Stamp.DayKey(), dayKey(QDate(1999, 1, 6)));
        QCOMPARE(t.day(4).Stamp.DayKey(), dayKey(QDate(1999, 1, 1)));
        QCOMPARE(t.day(3).List()->Count(), 0);
    }

    // An event over several days is on each day of the week it reaches, one
    // begun before the Monday too (asked once for the whole week).
    void wholeEvents()
    {
        WeekUnderTest t;
        const QHash<QString, QString> own{{dayKey(QDate(1998, 12, 29)), "2|Trip|1998-12-29|3d|"},
                                          {dayKey(QDate(1998, 12, 31)), "3|Night|1998-12-31 22:00|240m|"}};
        t.week.OnWantDayEntries = [&](QObject*, const QString& key, TDayEntries& entries) {
            if (own.contains(key))
                addEvent(entries, own.value(key));
        };
        QStringList shown;
        t.week.OnWantReachingEntries = [&](QObject*, const QString& first, const QString& last, TDayEntries& entries) {
            shown << first + "-" + last;
            addEvent(entries, "1|Leave|1998-12-20|10d|");
        };
        t.week.ShowToday();
        for (int day = 0; day < 7; ++day)
            shown << lines(*t.day(day).List()).join(",");
        QCOMPARE(shown.join("|"), dayKey(QDate(1998, 12, 28)) + "-" + dayKey(QDate(1999, 1, 3))
                                      + "|Day Leave|Day Leave,Day Trip|Day Trip|Day Trip,22:00- Night|-02:00 Night||");
    }
};

QUORLA_TEST_GUI_MAIN(TestWeekView)
#include "tst_weekview.moc"
