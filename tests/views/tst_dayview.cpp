// The day view: its header, reading a day's entries when its stamp changes, the
// selection, the requests it forwards as their sender, and double clicks.

#include "EQuorla.h"
#include "EStamp.h"
#include "QuorlaTest.h"
#include "TClock.h"
#include "TDayView.h"
#include "TDayViewHeader.h"
#include "TDayViewList.h"
#include "ViewTestSupport.h"

#include <QApplication>

#include <functional>

using namespace ViewTest;

namespace {

// A day view whose handler adds `count` entries per read (keys 1.., owners
// 100..) and records the keys it was asked for.
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
            for (int i = 0; i < count; ++i) {
                DayEntryRecord record = entry(QStringLiteral("Entry %1").arg(i), 0, at(9 + i, 0));
                record.setOwnerKey(QStringLiteral("000000010%1").arg(i));
                entries.Add(record, QStringLiteral("000000000%1").arg(i + 1));
            }
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

    void headerMargins_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QString>("caption");
        QTest::newRow("left") << int(Qt::AlignLeft) << "  Monday";
        QTest::newRow("right") << int(Qt::AlignRight) << "Monday  ";
        QTest::newRow("centred") << int(Qt::AlignHCenter) << "Monday";
    }
    void headerMargins()
    {
        QFETCH(int, alignment);
        QFETCH(QString, caption);
        TDayViewHeader header;
        QCOMPARE(header.height(), 16);
        header.setHeaderText(QStringLiteral("Monday"));
        header.setHeaderAlignment(Qt::Alignment(alignment));
        QCOMPARE(header.Caption(), caption);
        // Back to left from any alignment: the margin follows again.
        header.setHeaderAlignment(Qt::AlignLeft);
        QCOMPARE(header.Caption(), QStringLiteral("  Monday"));
    }

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
        QFETCH(QString, header);
        ViewUnderTest t;
        QCOMPARE(t.view.Header()->Caption(), QStringLiteral("  Friday, 01 Jan, 99")); // made today, nothing read
        QCOMPARE(t.view.List()->Count(), 0);
        change(t.view.Stamp);
        QCOMPARE(t.asked, QStringList{key});
        QCOMPARE(t.view.Header()->HeaderText(), header);
        QCOMPARE(t.view.List()->Count(), 3);
        QCOMPARE(t.view.Header()->font().bold(), key == Day19990101); // today in bold
    }

    void dateFormatChangesHeaderOnly()
    {
        ViewUnderTest t;
        t.view.setDateFormat(QStringLiteral("dddd, dd mmmm, yyyy"));
        QCOMPARE(t.view.Header()->Caption(), QStringLiteral("  Friday, 01 January, 1999"));
        // A refused change keeps the day on show and reads nothing.
        QVERIFY_THROWS_EXCEPTION(EStamp, t.view.Stamp.Increment(TStamp::IncWeeks, 3000));
        QVERIFY(t.asked.isEmpty());
        QCOMPARE(t.view.Header()->Caption(), QStringLiteral("  Friday, 01 January, 1999"));
    }

    void selectionGetters()
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
    }

    // A handler that throws half-way leaves the list showing what was read;
    // without a handler the entries stay.
    void failedOrMissingHandler()
    {
        ViewUnderTest t;
        t.count = 5;
        t.view.RefreshEntries();
        t.view.List()->setDisplayMode(TDisplayMode::dmDouble);
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

    void requestsForwardedWithViewAsSender()
    {
        ViewUnderTest t;
        t.view.OnWantDayEntries = [](QObject*, const QString&, TDayEntries& entries) {
            entries.Add(entry(QStringLiteral("Plan"), 0, at(9, 0), {QStringLiteral("0000000001")},
                              QStringLiteral("0000000005")),
                        QStringLiteral("0000000042"));
        };
        QStringList seen;
        const auto record = [&](const QString& what) {
            return [&seen, what, &t](QObject* sender, const QString& pk, auto&) {
                QCOMPARE(sender, &t.view);
                seen.append(what + pk);
            };
        };
        t.view.OnWantUserName = record(QStringLiteral("user "));
        t.view.OnWantCategoryDescription = record(QStringLiteral("category "));
        t.view.OnWantAlarmedFlag = record(QStringLiteral("alarm "));
        QStringList errors;
        t.view.OnError = [&](QObject* sender, const QString& message) {
            QCOMPARE(sender, &t.view);
            errors.append(message);
        };
        t.view.RefreshEntries();
        shot(t.view);
        QCOMPARE(seen, (QStringList{"user 0000000001", "category 0000000005", "alarm 0000000042"}));
        t.view.OnWantUserName = [](QObject*, const QString&, QString&) { throw EQuorla(QStringLiteral("gone")); };
        shot(t.view);
        QCoreApplication::processEvents();
        QCOMPARE(errors, QStringList{"gone"});

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

    void doubleClickOnlyOnOwnSurface()
    {
        ViewUnderTest t;
        t.view.RefreshEntries();
        int clicks = 0;
        t.view.OnDblClick = [&](QObject* sender) {
            QCOMPARE(sender, &t.view);
            ++clicks;
        };
        t.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&t.view));
        QTest::mouseDClick(t.view.Header(), Qt::LeftButton, {}, QPoint(30, 8));
        QTest::mouseDClick(t.view.List()->viewport(), Qt::LeftButton, {}, QPoint(30, 8));
        QCOMPARE(clicks, 0);
        QTest::mouseDClick(&t.view, Qt::LeftButton, {}, QPoint(0, 0)); // the bevel
        QCOMPARE(clicks, 1);
    }
};

QUORLA_TEST_GUI_MAIN(TestDayView)
#include "tst_dayview.moc"
