// The display settings bound to the views: the week view is the working copy.

#include "QuorlaTest.h"
#include "TDayView.h"
#include "TQuorlaCfg.h"
#include "TWeekView.h"

#include <QApplication>

class tst_QuorlaCfg : public QObject
{
    Q_OBJECT

private slots:
    // Applying reaches the day view and all seven days of the week; changes
    // made through the week view are captured and reach both views.
    void applyAndCapture()
    {
        TWeekView week;
        TDayView day;
        TQuorlaCfg cfg;
        cfg.TimeColor = 0x010203;
        cfg.CategoryItalic = true;
        cfg.ExpandLines = false;
        cfg.ShowAlarmGlyphs = false;
        day.PrivateFont()->setBold(true);
        cfg.ApplyToViews(week, day);
        for (TDayView* v : {&day, week.Days()[0], week.Days()[6]}) {
            QCOMPARE(v->TimeFont()->Color(), 0x010203);
            QVERIFY(v->CategoryFont()->Italic());
            QCOMPARE(v->DisplayMode(), TDisplayMode::dmSingle);
            QVERIFY(!v->ShowAlarmGlyphs());
        }
        QVERIFY(!day.PrivateFont()->Italic());
        QVERIFY(!day.PrivateFont()->Bold()); // the style becomes italic or nothing

        TFont assignee = *week.AssigneeFont();
        assignee.setColor(0x00FFFF);
        assignee.setItalic(true);
        week.setAssigneeFont(assignee);
        week.setDisplayMode(TDisplayMode::dmDouble);
        week.setShowPrivateGlyphs(false);
        cfg.CaptureFromViews(week);
        QCOMPARE(cfg.AssigneeColor, 0x00FFFF);
        QVERIFY(cfg.AssigneeItalic);
        QVERIFY(cfg.ExpandLines);
        QVERIFY(!cfg.ShowPrivateGlyphs);
        QCOMPARE(cfg.TimeColor, 0x010203);
        cfg.ApplyToViews(week, day);
        QCOMPARE(day.AssigneeFont()->Color(), 0x00FFFF);
        QVERIFY(day.AssigneeFont()->Italic());
        QCOMPARE(day.DisplayMode(), TDisplayMode::dmDouble);
        QVERIFY(!day.ShowPrivateGlyphs());
        QCOMPARE(week.Days()[6]->AssigneeFont()->Color(), 0x00FFFF);
    }
};

QUORLA_TEST_GUI_MAIN(tst_QuorlaCfg)
#include "tst_quorlacfg.moc"
