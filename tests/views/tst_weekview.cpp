// The week view: its seven days' layout and dates, moving by weeks, the
// selection of the focused day, forwarded properties and requests, errors.

#include "EQuorla.h"
#include "QuorlaTest.h"
#include "TClock.h"
#include "TDayView.h"
#include "TDayViewHeader.h"
#include "TDayViewList.h"
#include "TWeekView.h"
#include "ViewTestSupport.h"

#include <QApplication>

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

    // 715 x 219: W = 357, H = 73; Saturday and Sunday are H / 2 = 36 high, one pixel apart.
    void arrangeDays()
    {
        WeekUnderTest t;
        t.week.ArrangeDays(); // a hidden widget hears of its new size only when shown
        const QRect days[] = {{0, 0, 357, 73},   {0, 73, 357, 73},   {0, 146, 357, 73},  {357, 0, 357, 73},
                              {357, 73, 357, 73}, {357, 146, 357, 36}, {357, 183, 357, 36}};
        for (int i = 0; i < 7; ++i)
            QCOMPARE(t.day(i).geometry(), days[i]);
    }

    void showWeekOf_data()
    {
        QTest::addColumn<QDateTime>("shown");
        QTest::addColumn<QDate>("monday");
        QTest::newRow("Friday 1999-01-01") << QDateTime(QDate(1999, 1, 1), QTime(15, 45)) << QDate(1998, 12, 28);
        QTest::newRow("Sunday goes back six days") << QDateTime(QDate(1999, 1, 3), QTime(0, 0)) << QDate(1998, 12, 28);
        QTest::newRow("Monday stays") << QDateTime(QDate(1998, 12, 28), QTime(23, 59)) << QDate(1998, 12, 28);
    }
    void showWeekOf()
    {
        QFETCH(QDateTime, shown);
        QFETCH(QDate, monday);
        WeekUnderTest t;
        t.week.ShowWeekOf(shown);
        QStringList expected;
        for (int i = 0; i < 7; ++i) {
            expected.append(dayKey(monday.addDays(i)));
            QCOMPARE(t.day(i).Stamp.DayKey(), expected.last());
            // The time of day travels into every stamp.
            QCOMPARE(t.day(i).Stamp.Hour() * 60 + t.day(i).Stamp.Minute(), shown.time().hour() * 60 + shown.time().minute());
        }
        QCOMPARE(t.asked, expected); // seven reads, Monday first
    }

    void nextAndPreviousWeek()
    {
        WeekUnderTest t;
        t.week.ShowToday();
        t.week.show();
        QVERIFY(QTest::qWaitForWindowActive(&t.week));
        t.day(2).List()->setFocus();
        QCOMPARE(t.week.CurrentDay(), &t.day(2));
        std::array<qint32, 7> before{};
        for (int i = 0; i < 7; ++i)
            before[std::size_t(i)] = t.day(i).Stamp.Seconds();
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

    void selectionFollowsTheFocusedDay()
    {
        WeekUnderTest t;
        t.week.ShowWeekOf(pinnedNow());
        // Before any day had the focus: Monday's date, no entry.
        QCOMPARE(t.week.CurrentDay(), nullptr);
        QCOMPARE(t.week.SelectedDateKey(), QStringLiteral("0914839200")); // 1998-12-28 10:00
        QCOMPARE(t.week.SelectedPk(), QStringLiteral("0000000000"));
        QCOMPARE(t.week.SelectedDescription(), QString());
        t.week.show();
        QVERIFY(QTest::qWaitForWindowActive(&t.week));
        TDayViewList& wednesday = *t.day(2).List();
        QTest::mouseClick(wednesday.viewport(), Qt::LeftButton, {}, wednesday.visualRect(wednesday.model()->index(0, 0)).center());
        QCOMPARE(t.week.CurrentDay(), &t.day(2));
        QCOMPARE(t.week.SelectedSeconds(), t.day(2).Stamp.Seconds());
        QCOMPARE(t.week.SelectedPk(), t.day(2).DayEntries().PkAt(0));
        QCOMPARE(t.week.SelectedOwnerKey(), QStringLiteral("0000000007"));
        QCOMPARE(t.week.SelectedDescription(), QStringLiteral("Stand-up"));
        t.week.RefreshEntries();
        QCOMPARE(t.week.CurrentDay(), &t.day(2));
        QCOMPARE(t.week.SelectedPk(), QStringLiteral("0000000000"));
    }

    // Setting reaches all seven days; reading gives Monday's value.
    void forwardedProperties()
    {
        WeekUnderTest t;
        t.week.setShowCategories(false);
        t.week.setDisplayMode(TDisplayMode::dmDouble);
        t.week.setHeaderAlignment(Qt::AlignRight);
        t.week.setDateFormat(QStringLiteral("dd/mm/yyyy"));
        t.week.setDayBevelOuter(TPanel::TBevelCut::bvLowered);
        t.week.setListColor(0x00FFFF);
        TFont* monday = t.week.TimeFont();
        QCOMPARE(monday, t.day(0).TimeFont());
        monday->setColor(0x123456);
        QCOMPARE(t.day(1).TimeFont()->Color(), TColorRef::clRed); // changed in place: Monday only
        t.week.setTimeFont(*monday);
        for (TDayView* day : t.week.Days()) {
            QVERIFY(!day->ShowCategories());
            QCOMPARE(day->DisplayMode(), TDisplayMode::dmDouble);
            QCOMPARE(day->Header()->Caption(), day->Stamp.AsString() + QStringLiteral("  "));
            QCOMPARE(day->BevelOuter(), TPanel::TBevelCut::bvLowered);
            QCOMPARE(day->ListColor(), 0x00FFFF);
            QCOMPARE(day->TimeFont()->Color(), 0x123456);
        }
        QCOMPARE(t.week.TimeFont(), monday); // Monday keeps its object
        t.day(3).setShowCategories(true);
        QVERIFY(!t.week.ShowCategories());
        t.day(0).setShowCategories(true);
        QVERIFY(t.week.ShowCategories());
    }

    // Requests come with the week as sender; the same error of several days
    // is reported once, and again after a refresh.
    void requestsAndErrors()
    {
        WeekUnderTest t;
        QStringList seen;
        t.week.OnWantUserName = [&](QObject* sender, const QString& pk, QString& name) {
            QCOMPARE(sender, &t.week);
            seen.append(pk);
            name = QStringLiteral("Ann");
        };
        t.week.ShowToday();
        shot(t.week);
        QCOMPARE(seen, QStringList(7, QStringLiteral("0000000001")));
        t.week.OnWantUserName = [](QObject*, const QString& pk, QString&) {
            throw EQuorla("Unable to locate key (" + pk + ") in user cache");
        };
        t.week.RefreshEntries();
        shot(t.week);
        shot(t.week);
        QCoreApplication::processEvents();
        QCOMPARE(t.errors, QStringList{"Unable to locate key (0000000001) in user cache"});
        t.week.RefreshEntries();
        shot(t.week);
        QCoreApplication::processEvents();
        QCOMPARE(t.errors.size(), 2);
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

    void doubleClickOnlyOnOwnSurface()
    {
        WeekUnderTest t;
        t.week.ShowToday();
        int clicks = 0;
        t.week.OnDblClick = [&](QObject* sender) {
            QCOMPARE(sender, &t.week);
            ++clicks;
        };
        t.week.show();
        QVERIFY(QTest::qWaitForWindowExposed(&t.week));
        // 715 is odd: the last column is the week's own surface.
        QTest::mouseDClick(&t.week, Qt::LeftButton, {}, QPoint(714, 10));
        QCOMPARE(clicks, 1);
        QTest::mouseDClick(t.day(4).Header(), Qt::LeftButton, {}, QPoint(20, 8));
        QTest::mouseDClick(t.day(4).List()->viewport(), Qt::LeftButton, {}, QPoint(20, 8));
        QTest::mouseDClick(&t.day(4), Qt::LeftButton, {}, QPoint(0, 0));
        QCOMPARE(clicks, 1);
    }
};

QUORLA_TEST_GUI_MAIN(TestWeekView)
#include "tst_weekview.moc"
