#include "QuorlaTest.h"

#include "EQuorla.h"
#include "EStamp.h"
#include "TClock.h"
#include "TDayView.h"
#include "TDayViewHeader.h"
#include "TDayViewList.h"
#include "ViewTestSupport.h"

#include <QApplication>
#include <QObject>

#include <functional>

using ViewTest::at;
using ViewTest::entry;

namespace {

// 1999-01-01 (a Friday) 10:00 is "now" in every test.
QDateTime pinnedNow()
{
    return QDateTime(QDate(1999, 1, 1), QTime(10, 0));
}

// A day view whose handler adds `count` entries per read and records the keys
// it was asked for.
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
                entries.Add(entry(QStringLiteral("Entry %1").arg(i), 0, at(9 + i, 0), {},
                                  QStringLiteral("0000000000"), QStringLiteral("000000010%1").arg(i)),
                            QStringLiteral("000000000%1").arg(i + 1));
        };
    }
};

} // namespace

class TestDayView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void headerMargins_data();
    void headerMargins();
    void newViewShowsCreationDateAndNoEvents();
    void stampChangeReadsOnce_data();
    void stampChangeReadsOnce();
    void dateFormatChangesHeaderOnly();
    void todayInBold();
    void selectionGetters();
    void failedHandlerLeavesListInLine();
    void refreshWithoutHandlerKeepsEvents();
    void requestsForwardedWithViewAsSender();
    void doubleClickOnlyOnOwnSurface_data();
    void doubleClickOnlyOnOwnSurface();
};

void TestDayView::init()
{
    TClock::setOverride(pinnedNow);
}

void TestDayView::cleanup()
{
    TClock::setOverride({});
}

void TestDayView::headerMargins_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QString>("caption");

    QTest::newRow("left") << int(Qt::AlignLeft) << "  Monday";
    QTest::newRow("right") << int(Qt::AlignRight) << "Monday  ";
    QTest::newRow("centred") << int(Qt::AlignHCenter) << "Monday";
}

void TestDayView::headerMargins()
{
    QFETCH(int, alignment);
    QFETCH(QString, caption);

    TDayViewHeader header;
    QCOMPARE(header.HeaderAlignment(), Qt::AlignLeft);
    QCOMPARE(header.height(), 16);
    header.setHeaderText(QStringLiteral("Monday"));
    header.setHeaderAlignment(Qt::Alignment(alignment));
    QCOMPARE(header.Caption(), caption);
    QCOMPARE(header.HeaderText(), QStringLiteral("Monday"));
    // Back to left from any alignment: the margin follows again.
    header.setHeaderAlignment(Qt::AlignLeft);
    QCOMPARE(header.Caption(), QStringLiteral("  Monday"));
}

void TestDayView::newViewShowsCreationDateAndNoEvents()
{
    TDayView view;
    QCOMPARE(view.Header()->Caption(), QStringLiteral("  Friday, 01 Jan, 99"));
    QCOMPARE(view.DateFormat(), QStringLiteral("dddd, dd mmm, yy"));
    QCOMPARE(view.List()->Count(), 0);
}

void TestDayView::stampChangeReadsOnce_data()
{
    QTest::addColumn<std::function<void(TStamp&)>>("change");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("header");

    using Change = std::function<void(TStamp&)>;
    QTest::newRow("afternoon of 1999-01-01")
        << Change([](TStamp& s) { s.SetDateTime(1999, 1, 1, 14, 30, 0); }) << "0915148800"
        << "Friday, 01 Jan, 99";
    QTest::newRow("one day on")
        << Change([](TStamp& s) { s.Increment(TStamp::IncDays, 1); }) << "0915235200"
        << "Saturday, 02 Jan, 99";
    QTest::newRow("same value again")
        << Change([](TStamp& s) { s.SetSeconds(s.Seconds()); }) << "0915148800"
        << "Friday, 01 Jan, 99";
    QTest::newRow("one week back")
        << Change([](TStamp& s) { s.Increment(TStamp::IncWeeks, -1); }) << "0914544000"
        << "Friday, 25 Dec, 98";
}

void TestDayView::stampChangeReadsOnce()
{
    QFETCH(std::function<void(TStamp&)>, change);
    QFETCH(QString, key);
    QFETCH(QString, header);

    ViewUnderTest t;
    change(t.view.Stamp);
    QCOMPARE(t.asked, QStringList{key});
    QCOMPARE(t.view.Header()->HeaderText(), header);
    QCOMPARE(t.view.List()->Count(), 3);
}

void TestDayView::dateFormatChangesHeaderOnly()
{
    ViewUnderTest t;
    t.view.setDateFormat(QStringLiteral("dddd, dd mmmm, yyyy"));
    QCOMPARE(t.view.Header()->Caption(), QStringLiteral("  Friday, 01 January, 1999"));
    QVERIFY(t.asked.isEmpty());
    // A failed change keeps the previous day on show and reads nothing.
    QVERIFY_THROWS_EXCEPTION(EStamp, t.view.Stamp.Increment(TStamp::IncWeeks, 3000));
    QVERIFY(t.asked.isEmpty());
    QCOMPARE(t.view.Header()->Caption(), QStringLiteral("  Friday, 01 January, 1999"));
}

void TestDayView::todayInBold()
{
    ViewUnderTest t;
    t.view.Stamp.SetDateTime(1999, 1, 1, 0, 0, 0);
    QVERIFY(t.view.Header()->font().bold());
    QVERIFY(!t.view.DescriptionFont()->Bold()); // the list keeps its own fonts
    t.view.Stamp.Increment(TStamp::IncDays, 1);
    QVERIFY(!t.view.Header()->font().bold());
}

void TestDayView::selectionGetters()
{
    ViewUnderTest t;
    t.view.RefreshEntries();
    QCOMPARE(t.view.SelectedPk(), QStringLiteral("0000000000"));
    QCOMPARE(t.view.SelectedOwnerKey(), QStringLiteral("0000000000"));
    QCOMPARE(t.view.SelectedDescription(), QString());

    t.view.List()->setItemIndex(1);
    QCOMPARE(t.view.SelectedPk(), QStringLiteral("0000000002"));
    QCOMPARE(t.view.SelectedOwnerKey(), QStringLiteral("0000000101"));
    QCOMPARE(t.view.SelectedDescription(), QStringLiteral("Entry 1"));

    t.view.RefreshEntries();
    QCOMPARE(t.view.SelectedPk(), QStringLiteral("0000000000"));
    QCOMPARE(t.view.SelectedDescription(), QString());
}

void TestDayView::failedHandlerLeavesListInLine()
{
    ViewUnderTest t;
    t.count = 5;
    t.view.RefreshEntries();
    t.view.List()->setDisplayMode(TDisplayMode::dmDouble);
    QCOMPARE(t.view.List()->Count(), 5);

    auto reads = t.view.OnWantDayEntries;
    t.view.OnWantDayEntries = [&](QObject* sender, const QString& key, TDayEntries& entries) {
        t.count = 2;
        reads(sender, key, entries);
        throw EQuorla(QStringLiteral("dataset unreadable"));
    };
    QVERIFY_THROWS_EXCEPTION(EQuorla, t.view.Stamp.Increment(TStamp::IncDays, 1));
    QCOMPARE(t.view.DayEntries().Count(), 2);
    QCOMPARE(t.view.List()->Count(), 2);
    QCOMPARE(t.view.Header()->HeaderText(), QStringLiteral("Saturday, 02 Jan, 99"));
    ViewTest::shot(t.view); // draws and measures the two entries only
}

void TestDayView::refreshWithoutHandlerKeepsEvents()
{
    ViewUnderTest t;
    t.view.RefreshEntries();
    t.view.OnWantDayEntries = nullptr;
    t.view.Stamp.Increment(TStamp::IncDays, 1);
    QCOMPARE(t.view.List()->Count(), 3);
    QCOMPARE(t.view.Header()->HeaderText(), QStringLiteral("Saturday, 02 Jan, 99"));
}

void TestDayView::requestsForwardedWithViewAsSender()
{
    ViewUnderTest t;
    t.view.OnWantDayEntries = [](QObject*, const QString&, TDayEntries& entries) {
        entries.Add(entry(QStringLiteral("Plan"), 0, at(9, 0), {QStringLiteral("0000000001")},
                          QStringLiteral("0000000005")),
                    QStringLiteral("0000000042"));
    };
    QStringList seen;
    t.view.OnWantUserName = [&](QObject* sender, const QString& pk, QString& name) {
        QCOMPARE(sender, &t.view);
        seen.append(QStringLiteral("user ") + pk);
        name = QStringLiteral("Ann");
    };
    t.view.OnWantCategoryDescription = [&](QObject* sender, const QString& pk, QString&) {
        QCOMPARE(sender, &t.view);
        seen.append(QStringLiteral("category ") + pk);
    };
    t.view.OnWantAlarmedFlag = [&](QObject* sender, const QString& pk, bool&) {
        QCOMPARE(sender, &t.view);
        seen.append(QStringLiteral("alarm ") + pk);
    };
    QStringList errors;
    t.view.OnError = [&](QObject* sender, const QString& message) {
        QCOMPARE(sender, &t.view);
        errors.append(message);
    };
    t.view.RefreshEntries();
    ViewTest::shot(t.view);
    QCOMPARE(seen, (QStringList{"user 0000000001", "category 0000000005", "alarm 0000000042"}));

    t.view.OnWantUserName = [](QObject*, const QString&, QString&) {
        throw EQuorla(QStringLiteral("Unable to locate key (0000000001) in user cache"));
    };
    ViewTest::shot(t.view);
    QCoreApplication::processEvents();
    QCOMPARE(errors, QStringList{"Unable to locate key (0000000001) in user cache"});

    int focus = 0;
    t.view.OnReceivedFocus = [&](QObject* sender) {
        QCOMPARE(sender, &t.view);
        ++focus;
    };
    t.view.show();
    QVERIFY(QTest::qWaitForWindowActive(&t.view));
    t.view.List()->setFocus();
    QCOMPARE(focus, 1);
}

void TestDayView::doubleClickOnlyOnOwnSurface_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("raised");

    QTest::newRow("the view's bevel") << "view" << 1;
    QTest::newRow("the header") << "header" << 0;
    QTest::newRow("the list") << "list" << 0;
}

void TestDayView::doubleClickOnlyOnOwnSurface()
{
    QFETCH(QString, target);
    QFETCH(int, raised);

    ViewUnderTest t;
    t.view.RefreshEntries();
    int clicks = 0;
    t.view.OnDblClick = [&](QObject* sender) {
        QCOMPARE(sender, &t.view);
        ++clicks;
    };
    t.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.view));
    if (target == "view")
        QTest::mouseDClick(&t.view, Qt::LeftButton, {}, QPoint(0, 0));
    else if (target == "header")
        QTest::mouseDClick(t.view.Header(), Qt::LeftButton, {}, QPoint(30, 8));
    else
        QTest::mouseDClick(t.view.List()->viewport(), Qt::LeftButton, {}, QPoint(30, 8));
    QCOMPARE(clicks, raised);
}

QUORLA_TEST_GUI_MAIN(TestDayView)
#include "tst_dayview.moc"
