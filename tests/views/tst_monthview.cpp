// The month view: which days fill the six rows, a box's
// lines against the day list's own drawing with "+N more", and moving by
// months, keys and double-clicks.

#include "EStamp.h"
#include "QuorlaTest.h"
#include "TClock.h"
#include "TDayEntries.h"
#include "TDayViewList.h"
#include "TMonthView.h"
#include "ViewTestSupport.h"

#include <QHash>

using namespace ViewTest;

namespace {

// A month view whose handler gives each day the number of entries in
// `perDay` (a private un-timed one first, then one every quarter hour from
// 09:00), and records the days it was asked for.
struct MonthUnderTest
{
    TMonthView month;
    QHash<QDate, int> perDay;
    QString text = QStringLiteral("Review of the quarterly figures %1");
    QList<QDate> asked;
    int doubleClicks = 0;

    explicit MonthUnderTest(QSize size)
    {
        month.resize(size);
        month.OnWantDayEntries = [this](QObject* sender, const QString& key, TDayEntries& entries) {
            QCOMPARE(sender, &month);
            const QDate day = QDateTime::fromSecsSinceEpoch(key.toLongLong(), Qt::UTC).date();
            asked.append(day);
            fill(entries, perDay.value(day), key.toLongLong(), text);
        };
        month.OnDblClick = [this](QObject*) { ++doubleClicks; };
    }
    static void fill(TDayEntries& entries, int count, qint64 day, const QString& text)
    {
        for (int i = 0; i < count; ++i)
            entries.Add(i == 0 ? entry(QStringLiteral("Holiday"), DayEntryRecord::UnTimed | DayEntryRecord::Private,
                                       QString::number(day).rightJustified(10, '0'))
                               : entry(text.arg(i), 0,
                                       QString::number(day + 9 * 3600 + i * 900).rightJustified(10, '0')),
                        QString::number(i + 1).rightJustified(10, '0'));
    }
};

} // namespace

class TestMonthView : public QObject
{
    Q_OBJECT

private slots:
    void init() { TClock::setOverride(pinnedNow); } // Friday 1999-01-01
    void cleanup() { TClock::setOverride({}); }

    void sixRows_data()
    {
        QTest::addColumn<QDate>("shown");
        QTest::addColumn<QDate>("first");
        QTest::newRow("starts on a Sunday") << QDate(2026, 3, 18) << QDate(2026, 2, 23);
        QTest::newRow("28 days from a Monday") << QDate(2027, 2, 10) << QDate(2027, 2, 1);
        QTest::newRow("no day before 1970 read") << QDate(1970, 1, 5) << QDate(1969, 12, 29);
    }
    void sixRows()
    {
        QFETCH(QDate, shown);
        QFETCH(QDate, first);
        MonthUnderTest t({1400, 1000});
        t.month.ShowMonthOf(QDateTime(shown, QTime(8, 0)));
        QCOMPARE(t.month.FirstDay(), first);
        QList<QDate> expected;
        for (QDate d = std::max(first, QDate(1970, 1, 1)); d < first.addDays(42); d = d.addDays(1))
            expected.append(d);
        QCOMPARE(t.asked, expected);
    }

    // The box's lines are the day list's own drawing of the first entries;
    // when not all fit, each entry's first lines unwrapped, and one line is
    // kept for "+N more".
    void linesAndMore_data()
    {
        QTest::addColumn<TDisplayMode>("mode");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("wording");
        const QString review = QStringLiteral("Review of the quarterly figures %1");
        QTest::newRow("nine fit exactly") << TDisplayMode::dmSingle << 9 << 9 << review;
        QTest::newRow("ten: eight and +2 more") << TDisplayMode::dmSingle << 10 << 8 << review;
        QTest::newRow("two-line layout, wrapped") << TDisplayMode::dmDouble << 10 << -1 << review;
        QTest::newRow("two-line layout, a long one and one more") << TDisplayMode::dmDouble << 2 << 2
            << QStringLiteral("Weekly planning: sales, stock levels, orders, deliveries, staff, holidays %1 ").repeated(3);
    }
    void linesAndMore()
    {
        QFETCH(TDisplayMode, mode);
        QFETCH(int, count);
        QFETCH(int, shown);
        QFETCH(QString, wording);
        MonthUnderTest t({1400, 1000});
        t.text = wording;
        restyle(t.month, [&](TDisplayStyle& s) { s.DisplayMode = mode; });
        t.perDay.insert(QDate(1999, 1, 7), count);
        t.month.ShowMonthOf(QDateTime(QDate(1999, 1, 20), QTime(8, 0)));
        const QRect box = t.month.DayRect(10);
        const QRect area(box.left(), box.top() + 16, box.width(), box.height() - 16);

        // The reference: a day list of the box's list size with the same day.
        TDayEntries entries;
        MonthUnderTest::fill(entries, count, QDate(1999, 1, 7).startOfDay(Qt::UTC).toSecsSinceEpoch(), wording);
        TDayViewList list;
        list.setBorderStyle(TPanel::TBorderStyle::bsNone);
        list.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list.resize(area.size());
        restyle(list, [&](TDisplayStyle& s) { s.DisplayMode = mode; });
        list.setDayEntries(&entries);
        list.RebuildItems();
        auto bottom = [&](int i) { return list.visualRect(list.model()->index(i, 0)).bottom() + 1; };
        int fit = count;
        if (bottom(count - 1) > area.height()) {
            // Unwrapped: as wide as no description needs to wrap.
            list.resize(4000, area.height());
            list.RebuildItems();
            fit = 0;
            while (fit < count && bottom(fit) + (fit + 1 < count ? 16 : 0) <= area.height())
                ++fit;
        }
        const QImage reference = shot(list);
        QCOMPARE(t.month.LinesShown(10), fit);
        if (shown >= 0)
            QCOMPARE(fit, shown);
        QVERIFY(fit > 0);
        const QImage image = shot(t.month);
        const QSize lines(area.width(), bottom(fit - 1));
        QCOMPARE(image.copy(QRect(area.topLeft(), lines)), reference.copy(QRect(QPoint(0, 0), lines)));
        if (fit == count)
            return;
        TFont text; // the month's own font in the palette's text colour
        text.setFont(t.month.font());
        text.setColor(TColorRef::fromQColor(t.month.palette().color(QPalette::Active, QPalette::Text)));
        QVERIFY(textAt(image, area.topLeft() + QPoint(1, bottom(fit - 1) + 1), text,
                       QStringLiteral("+%1 more").arg(count - fit), TColorRef::toQColor(t.month.ListColor())));
    }

    void moves_data()
    {
        QTest::addColumn<QDate>("start");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QDate>("selected");
        QTest::addColumn<QDate>("month");
        QTest::newRow("next from the 31st") << QDate(1999, 1, 31) << "next" << QDate(1999, 2, 28) << QDate(1999, 2, 1);
        QTest::newRow("down past the last box") << QDate(1999, 1, 15) << "click 41, down" << QDate(1999, 2, 14)
                                                 << QDate(1999, 2, 1);
        QTest::newRow("double-click") << QDate(1999, 1, 15) << "double 24" << QDate(1999, 1, 21) << QDate(1999, 1, 1);
        QTest::newRow("not past 2037") << QDate(2037, 12, 15) << "next" << QDate(2037, 12, 15) << QDate(2037, 12, 1);
    }
    void moves()
    {
        QFETCH(QDate, start);
        QFETCH(QString, steps);
        MonthUnderTest t({700, 544});
        t.month.show();
        t.month.ShowMonthOf(QDateTime(start, QTime(8, 0)));
        for (const QString& step : steps.split(", ")) {
            const QPoint at = t.month.DayRect(step.section(' ', 1).toInt()).center();
            if (step == "next" && start.year() == 2037)
                QVERIFY_THROWS_EXCEPTION(EStamp, t.month.NextMonth());
            else if (step == "next")
                t.month.NextMonth();
            else if (step == "down")
                QTest::keyClick(&t.month, Qt::Key_Down);
            else if (step.startsWith("click"))
                QTest::mouseClick(&t.month, Qt::LeftButton, {}, at);
            else
                QTest::mouseDClick(&t.month, Qt::LeftButton, {}, at);
        }
        QTEST(t.month.SelectedDate(), "selected");
        QTEST(t.month.Month(), "month");
        QCOMPARE(t.month.SelectedDateTime().time(), QTime(8, 0));
        QCOMPARE(t.doubleClicks, steps.startsWith("double") ? 1 : 0);
    }

    // An event over several days is one bar across the grid lines of a row
    // where it stands on the same line of each day, else on each day alone.
    void wholeEvents_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QList<int>>("joined"); // boxes joined to the next by its bar, then one that is not
        const QString trip = "0000000009|Trip|1999-01-05|3d|";
        QTest::newRow("three days") << QStringList{trip} << QList<int>{8, 9, 10};
        QTest::newRow("into the next row") << QStringList{"0000000009|Trip|1999-01-09|3d|"} << QList<int>{12, 14};
        QTest::newRow("another first on its first day") << QStringList{trip, "1|Call|1999-01-05||"} << QList<int>{9, 8};
    }
    void wholeEvents()
    {
        QFETCH(QStringList, events);
        QFETCH(QList<int>, joined);
        MonthUnderTest t({1400, 1000});
        t.month.OnWantDayEntries = [&](QObject*, const QString& key, TDayEntries& entries) {
            for (const QString& spec : events)
                if (dayKey(QDate::fromString(spec.section('|', 2, 2), Qt::ISODate)) == key)
                    addEvent(entries, spec);
        };
        t.month.ShowMonthOf(QDateTime(QDate(1999, 1, 20), QTime(8, 0)));
        // The grid line right of a box, halfway down the first line of the next.
        const QImage image = shot(t.month);
        for (int i = 0; i < joined.size(); ++i) {
            const QRect next = t.month.DayRect(joined[i] + 1);
            QCOMPARE(image.pixel(next.left() - 1, next.top() + 24) != t.month.palette().color(QPalette::Mid).rgb(),
                     i + 1 < joined.size());
        }
    }
};

QUORLA_TEST_GUI_MAIN(TestMonthView)
#include "tst_monthview.moc"
