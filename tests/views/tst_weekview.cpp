#include "QuorlaTest.h"

#include "EQuorla.h"
#include "TClock.h"
#include "TDayView.h"
#include "TDayViewHeader.h"
#include "TDayViewList.h"
#include "TWeekView.h"
#include "ViewTestSupport.h"

#include <QApplication>
#include <QObject>

using ViewTest::entry;

namespace {

QDateTime pinnedNow()
{
    return QDateTime(QDate(1999, 1, 1), QTime(10, 0));
}

QString dayKey(const QDate& date)
{
    return QString::number(QDateTime(date, QTime(0, 0), Qt::UTC).toSecsSinceEpoch())
        .rightJustified(10, QLatin1Char('0'));
}

// A week view whose handler gives every day one entry, assigned to one user,
// and records which days were read.
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
};

} // namespace

class TestWeekView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void arrangeDays_data();
    void arrangeDays();
    void showWeekOf_data();
    void showWeekOf();
    void nextAndPreviousWeek();
    void selectionFollowsTheFocusedDay();
    void forwardedSwitches();
    void forwardedFonts();
    void requestsRaisedWithWeekAsSender();
    void sameErrorOfSeveralDaysReportedOnce();
    void failingDayStopsTheWeek();
    void doubleClickOnlyOnOwnSurface();
};

void TestWeekView::init()
{
    TClock::setOverride(pinnedNow);
}

void TestWeekView::cleanup()
{
    TClock::setOverride({});
}

void TestWeekView::arrangeDays_data()
{
    QTest::addColumn<int>("day");
    QTest::addColumn<QRect>("geometry");

    // 715 x 219: W = 357, H = 73; Saturday and Sunday are H / 2 = 36 high, one
    // pixel apart.
    QTest::newRow("Monday") << 0 << QRect(0, 0, 357, 73);
    QTest::newRow("Tuesday") << 1 << QRect(0, 73, 357, 73);
    QTest::newRow("Wednesday") << 2 << QRect(0, 146, 357, 73);
    QTest::newRow("Thursday") << 3 << QRect(357, 0, 357, 73);
    QTest::newRow("Friday") << 4 << QRect(357, 73, 357, 73);
    QTest::newRow("Saturday") << 5 << QRect(357, 146, 357, 36);
    QTest::newRow("Sunday") << 6 << QRect(357, 183, 357, 36);
}

void TestWeekView::arrangeDays()
{
    QFETCH(int, day);
    QFETCH(QRect, geometry);

    TWeekView week;
    week.resize(715, 219); // a hidden widget hears of its new size only when shown
    week.ArrangeDays();
    QCOMPARE(week.contentsRect(), QRect(0, 0, 715, 219));
    QCOMPARE(week.Days()[std::size_t(day)]->geometry(), geometry);
}

void TestWeekView::showWeekOf_data()
{
    QTest::addColumn<QDateTime>("shown");
    QTest::addColumn<QDate>("monday");

    QTest::newRow("Friday 1999-01-01") << QDateTime(QDate(1999, 1, 1), QTime(15, 45)) << QDate(1998, 12, 28);
    QTest::newRow("Sunday goes back six days") << QDateTime(QDate(1999, 1, 3), QTime(0, 0)) << QDate(1998, 12, 28);
    QTest::newRow("Monday stays") << QDateTime(QDate(1998, 12, 28), QTime(23, 59)) << QDate(1998, 12, 28);
    QTest::newRow("across a month") << QDateTime(QDate(2000, 3, 1), QTime(8, 0)) << QDate(2000, 2, 28);
}

void TestWeekView::showWeekOf()
{
    QFETCH(QDateTime, shown);
    QFETCH(QDate, monday);

    WeekUnderTest t;
    t.week.ShowWeekOf(shown);
    QStringList expected;
    for (int i = 0; i < 7; ++i) {
        expected.append(dayKey(monday.addDays(i)));
        const TDayView* day = t.week.Days()[std::size_t(i)];
        QCOMPARE(day->Stamp.DayKey(), expected.last());
        // The time of day travels into every stamp.
        QCOMPARE(day->Stamp.Hour(), shown.time().hour());
        QCOMPARE(day->Stamp.Minute(), shown.time().minute());
    }
    QCOMPARE(t.asked, expected); // seven reads, Monday first
}

void TestWeekView::nextAndPreviousWeek()
{
    WeekUnderTest t;
    t.week.ShowToday();
    t.week.Days()[2]->List()->setFocus();
    t.week.show();
    QVERIFY(QTest::qWaitForWindowActive(&t.week));
    t.week.Days()[2]->List()->setFocus();
    QCOMPARE(t.week.CurrentDay(), t.week.Days()[2]);

    std::array<qint32, 7> before{};
    for (int i = 0; i < 7; ++i)
        before[std::size_t(i)] = t.week.Days()[std::size_t(i)]->Stamp.Seconds();
    t.asked.clear();
    t.week.NextWeek();
    for (int i = 0; i < 7; ++i)
        QCOMPARE(t.week.Days()[std::size_t(i)]->Stamp.Seconds(), before[std::size_t(i)] + 604800);
    QCOMPARE(t.asked.size(), 7);
    QCOMPARE(t.week.CurrentDay(), t.week.Days()[2]);
    QCOMPARE(t.week.SelectedSeconds(), before[2] + 604800);

    t.week.PrevWeek();
    t.week.PrevWeek();
    for (int i = 0; i < 7; ++i)
        QCOMPARE(t.week.Days()[std::size_t(i)]->Stamp.Seconds(), before[std::size_t(i)] - 604800);
}

void TestWeekView::selectionFollowsTheFocusedDay()
{
    WeekUnderTest t;
    t.week.ShowWeekOf(QDateTime(QDate(1999, 1, 1), QTime(10, 0)));
    // Before any day had the focus: Monday's date, no entry.
    QCOMPARE(t.week.CurrentDay(), nullptr);
    QCOMPARE(t.week.SelectedSeconds(), t.week.Days()[0]->Stamp.Seconds());
    QCOMPARE(t.week.SelectedDateKey(), QStringLiteral("0914839200")); // 1998-12-28 10:00
    QCOMPARE(t.week.SelectedPk(), QStringLiteral("0000000000"));
    QCOMPARE(t.week.SelectedOwnerKey(), QStringLiteral("0000000000"));
    QCOMPARE(t.week.SelectedDescription(), QString());

    t.week.show();
    QVERIFY(QTest::qWaitForWindowActive(&t.week));
    TDayView* wednesday = t.week.Days()[2];
    const QPoint firstItem = wednesday->List()->visualRect(wednesday->List()->model()->index(0, 0)).center();
    QTest::mouseClick(wednesday->List()->viewport(), Qt::LeftButton, {}, firstItem);
    QCOMPARE(t.week.CurrentDay(), wednesday);
    QCOMPARE(t.week.SelectedSeconds(), wednesday->Stamp.Seconds());
    QCOMPARE(t.week.SelectedPk(), wednesday->DayEntries().PkAt(0));
    QCOMPARE(t.week.SelectedOwnerKey(), QStringLiteral("0000000007"));
    QCOMPARE(t.week.SelectedDescription(), QStringLiteral("Stand-up"));

    t.week.RefreshEntries();
    QCOMPARE(t.week.CurrentDay(), wednesday);
    QCOMPARE(t.week.SelectedPk(), QStringLiteral("0000000000"));
}

void TestWeekView::forwardedSwitches()
{
    TWeekView week;
    week.setShowCategories(false);
    week.setDisplayMode(TDisplayMode::dmDouble);
    week.setHeaderAlignment(Qt::AlignRight);
    week.setDateFormat(QStringLiteral("dd/mm/yyyy"));
    week.setDayBevelOuter(TPanel::TBevelCut::bvLowered);
    week.setListColor(0x00FFFF);
    for (TDayView* day : week.Days()) {
        QVERIFY(!day->ShowCategories());
        QCOMPARE(day->DisplayMode(), TDisplayMode::dmDouble);
        QCOMPARE(day->HeaderAlignment(), Qt::AlignRight);
        QCOMPARE(day->Header()->Caption(), day->Stamp.AsString() + QStringLiteral("  "));
        QCOMPARE(day->BevelOuter(), TPanel::TBevelCut::bvLowered);
        QCOMPARE(day->ListColor(), 0x00FFFF);
    }
    // Reading gives Monday's value, whatever the other days hold.
    week.Days()[3]->setShowCategories(true);
    QVERIFY(!week.ShowCategories());
    week.Days()[0]->setShowCategories(true);
    QVERIFY(week.ShowCategories());
}

void TestWeekView::forwardedFonts()
{
    TWeekView week;
    TFont* monday = week.TimeFont();
    QCOMPARE(monday, week.Days()[0]->TimeFont());
    monday->setColor(0x123456);
    monday->setItalic(true);
    QCOMPARE(week.Days()[1]->TimeFont()->Color(), TColorRef::clRed); // in place: Monday only
    week.setTimeFont(*monday);
    for (TDayView* day : week.Days()) {
        QCOMPARE(day->TimeFont()->Color(), 0x123456);
        QVERIFY(day->TimeFont()->Italic());
    }
    QCOMPARE(week.TimeFont(), monday); // Monday keeps its object
}

void TestWeekView::requestsRaisedWithWeekAsSender()
{
    WeekUnderTest t;
    QStringList seen;
    t.week.OnWantUserName = [&](QObject* sender, const QString& pk, QString& name) {
        QCOMPARE(sender, &t.week);
        seen.append(pk);
        name = QStringLiteral("Ann");
    };
    t.week.OnWantAlarmedFlag = [&](QObject* sender, const QString&, bool& alarmed) {
        QCOMPARE(sender, &t.week);
        alarmed = true;
    };
    t.week.ShowWeekOf(QDateTime(QDate(1999, 1, 1), QTime(10, 0)));
    ViewTest::shot(t.week);
    QCOMPARE(seen.size(), 7); // one entry with one assignee per day
    QVERIFY(seen.count(QStringLiteral("0000000001")) == 7);
}

void TestWeekView::sameErrorOfSeveralDaysReportedOnce()
{
    WeekUnderTest t;
    t.week.OnWantUserName = [](QObject*, const QString& pk, QString&) {
        throw EQuorla("Unable to locate key (" + pk + ") in user cache");
    };
    t.week.ShowToday();
    ViewTest::shot(t.week);
    ViewTest::shot(t.week);
    QCoreApplication::processEvents();
    QCOMPARE(t.errors, QStringList{"Unable to locate key (0000000001) in user cache"});

    t.week.RefreshEntries();
    ViewTest::shot(t.week);
    QCoreApplication::processEvents();
    QCOMPARE(t.errors.size(), 2);
}

void TestWeekView::failingDayStopsTheWeek()
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
    QCOMPARE(t.week.Days()[0]->Stamp.DayKey(), dayKey(QDate(1999, 1, 4)));
    QCOMPARE(t.week.Days()[2]->Stamp.DayKey(), dayKey(QDate(1999, 1, 6)));
    QCOMPARE(t.week.Days()[4]->Stamp.DayKey(), dayKey(QDate(1999, 1, 1)));
    QCOMPARE(t.week.Days()[3]->List()->Count(), 0);
}

void TestWeekView::doubleClickOnlyOnOwnSurface()
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
    TDayView* friday = t.week.Days()[4];
    QTest::mouseDClick(friday->Header(), Qt::LeftButton, {}, QPoint(20, 8));
    QTest::mouseDClick(friday->List()->viewport(), Qt::LeftButton, {}, QPoint(20, 8));
    QTest::mouseDClick(friday, Qt::LeftButton, {}, QPoint(0, 0));
    QCOMPARE(clicks, 1);
}

QUORLA_TEST_GUI_MAIN(TestWeekView)
#include "tst_weekview.moc"
