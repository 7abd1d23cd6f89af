// The display settings applied to the views.

#include "QuorlaTest.h"
#include "TDayView.h"
#include "TQuorlaCfg.h"
#include "TWeekView.h"

#include <QApplication>

class tst_QuorlaCfg : public QObject
{
    Q_OBJECT

private slots:
    // Applying reaches the day view and all seven days of the week.
    void apply()
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

    }
};

QUORLA_TEST_GUI_MAIN(tst_QuorlaCfg)
#include "tst_quorlacfg.moc"
