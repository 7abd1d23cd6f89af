// The day view: reading a day's entries when its stamp changes, a refused
// change, and a read that fails half-way.

#include "EQuorla.h"
#include "EStamp.h"
#include "QuorlaTest.h"
#include "TClock.h"
#include "TDayView.h"
#include "TDayViewHeader.h"
#include "TDayViewList.h"
#include "ViewTestSupport.h"


#include <functional>

using namespace ViewTest;

namespace {

// A day view whose handler adds `count` entries per read (keys 1..) and
// records the keys it was asked for.
struct ViewUnderTest
{
    TDayView view;
    QStringList asked;
    int count = 3;

    ViewUnderTest()
    {
        view.resize(400, 300);
        view.OnWantDayEntries = [this](QObject* sender, const QString& key, TDayEntries& entries) {
            QCOMPARE(sender, &view);
            QCOMPARE(entries.Count(), 0);
            asked.append(key);
            for (int i = 0; i < count; ++i)
                entries.Add(entry(QStringLiteral("Entry %1").arg(i), 0, at(9 + i, 0)),
                            QStringLiteral("000000000%1").arg(i + 1));
        };
    }
};

} // namespace

class TestDayView : public QObject
{
    Q_OBJECT

private slots:
    void init() { TClock::setOverride(pinnedNow); }
    void cleanup() { TClock::setOverride({}); }

    // Every change of the stamp reads the day once, by its midnight's key.
    void stampChangeReadsOnce_data()
    {
        QTest::addColumn<std::function<void(TStamp&)>>("change");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("header");
        using Change = std::function<void(TStamp&)>;
        QTest::newRow("afternoon of 1999-01-01")
            << Change([](TStamp& s) { s.SetDateTime(1999, 1, 1, 14, 30, 0); }) << "0915148800" << "Friday, 01 Jan, 99";
        QTest::newRow("one day on") << Change([](TStamp& s) { s.Increment(TStamp::IncDays, 1); }) << "0915235200"
                                    << "Saturday, 02 Jan, 99";
        QTest::newRow("same value again") << Change([](TStamp& s) { s.SetSeconds(s.Seconds()); }) << "0915148800"
                                          << "Friday, 01 Jan, 99";
    }
    void stampChangeReadsOnce()
    {
        QFETCH(std::function<void(TStamp&)>, change);
        QFETCH(QString, key);
        ViewUnderTest t;
        QCOMPARE(t.view.List()->Count(), 0); // nothing read before the first change
        change(t.view.Stamp);
        QCOMPARE(t.asked, QStringList{key});
        QTEST(t.view.Header()->HeaderText(), "header");
        QCOMPARE(t.view.List()->Count(), 3);
        QCOMPARE(t.view.Header()->font().bold(), key == Day19990101); // today in bold
    }

    // A refused change keeps the day on show and reads nothing; a handler that
    // throws half-way leaves the list showing what was read; without a handler
    // the entries stay.
    void failedOrMissingHandler()
    {
        ViewUnderTest t;
        QVERIFY_THROWS_EXCEPTION(EStamp, t.view.Stamp.Increment(TStamp::IncWeeks, 3000));
        QVERIFY(t.asked.isEmpty());
        QCOMPARE(t.view.Header()->HeaderText(), QStringLiteral("Friday, 01 Jan, 99"));
        t.count = 5;
        t.view.RefreshEntries();
        restyle(*t.view.List(), [](TDisplayStyle& s) { s.DisplayMode = TDisplayMode::dmDouble; });
        auto reads = t.view.OnWantDayEntries;
        t.view.OnWantDayEntries = [&](QObject* sender, const QString& key, TDayEntries& entries) {
            t.count = 2;
            reads(sender, key, entries);
            throw EQuorla(QStringLiteral("dataset unreadable"));
        };
        QVERIFY_THROWS_EXCEPTION(EQuorla, t.view.Stamp.Increment(TStamp::IncDays, 1));
        QCOMPARE(t.view.List()->Count(), 2);
        QCOMPARE(t.view.Header()->HeaderText(), QStringLiteral("Saturday, 02 Jan, 99"));
        shot(t.view); // draws and measures the two entries only

        t.view.OnWantDayEntries = nullptr;
        t.view.Stamp.Increment(TStamp::IncDays, 1);
        QCOMPARE(t.view.List()->Count(), 2);
        QCOMPARE(t.view.Header()->HeaderText(), QStringLiteral("Sunday, 03 Jan, 99"));
    }

    // A day's own events and those begun before it that reach into it (asked
    // for that day alone), each line with its span and place.
    void wholeEvents()
    {
        ViewUnderTest t;
        t.view.OnWantDayEntries = [&](QObject*, const QString&, TDayEntries& entries) {
            addEvent(entries, "3|Plan|1999-01-01 09:00|90m|Room 4");
        };
        QStringList shown;
        t.view.OnWantReachingEntries = [&](QObject*, const QString& first, const QString& last, TDayEntries& entries) {
            shown << first + "-" + last;
            addEvent(entries, "1|Night|1998-12-31 22:00|240m|");
            addEvent(entries, "2|Trip|1998-12-30|3d|Alps");
        };
        t.view.Stamp.SetDateTime(1999, 1, 1, 8, 0, 0);
        QCOMPARE(shown << lines(*t.view.List()), (QStringList{Day19990101 + "-" + Day19990101, "Day Trip (Alps)",
                                                             "-02:00 Night", "09:00-10:30 Plan (Room 4)"}));
        // Painted as shown: the time with its end in the time font.
        const QRect row = t.view.List()->visualRect(t.view.List()->model()->index(2, 0));
        const QPoint at = t.view.List()->viewport()->mapTo(&t.view, row.topLeft() + QPoint(1, 1));
        QVERIFY(textAt(shot(t.view), at, t.view.Style().TimeFont, "09:00-10:30", TColorRef::toQColor(t.view.List()->Color()), 12));
    }
};

QUORLA_TEST_GUI_MAIN(TestDayView)
#include "tst_dayview.moc"
