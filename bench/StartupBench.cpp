#include "StartupBench.h"

#include "BenchFigures.h"
#include "TDayView.h"
#include "TDisplayStyle.h"
#include "TMainActions.h"
#include "TMonthView.h"
#include "TViewNavigator.h"
#include "TWeekView.h"

#include <QMainWindow>
#include <QPixmap>
#include <QStackedWidget>
#include <QToolBar>

#include <cstdio>
#include <memory>

void runStartupBench()
{
    std::printf("start-up: the main window's commands and views\n");
    // The commands as the main window makes them, its command bar painted
    // once (the sizes of the icons it shows).
    const auto commands = [] {
        QMainWindow window;
        TMainActions actions(window);
        for (QToolBar* bar : window.findChildren<QToolBar*>())
            bar->grab();
    };
    // The three views made and each given the style, as the settings are applied.
    const auto views = [] {
        TViewNavigator navigator(nullptr);
        std::unique_ptr<QStackedWidget> pages(navigator.Pages());
        TDisplayStyle style = navigator.WeekView()->Style();
        style.TimeFont.setFont(QFont(style.TimeFont.font().family(), 9));
        navigator.WeekView()->setStyle(style);
        navigator.DayView()->setStyle(style);
        navigator.MonthView()->setStyle(style);
    };
    const double commandRate = opsPerSecond(commands, 1000);
    const double viewRate = opsPerSecond(views, 1000);
    std::printf("  %-40s %8.2f ms\n", "commands built, command bar painted", 1000.0 / commandRate);
    std::printf("  %-40s %8.2f ms\n", "views made, time font set", 1000.0 / viewRate);
    std::fflush(stdout);
}
