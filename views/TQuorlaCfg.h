#pragma once

#include "TDisplaySettings.h"

class TDayView;
class TMonthView;
class TWeekView;

// The workstation's display settings and groups (TDisplaySettings) bound to the
// main window's two views. The week view is the working copy: the options
// dialog changes it, CaptureFromViews reads the settings back from it, and
// ApplyToViews pushes them into both views.
class TQuorlaCfg : public TDisplaySettings
{
public:
    // Sets the colour of the five fonts, the italic style of the private,
    // category and assignee fonts, the display mode (two lines when
    // ExpandLines) and the three show switches, in the week view and then in
    // the day view.
    void ApplyToViews(TWeekView& weekView, TDayView& dayView) const;
    // The same settings in the month view, which draws its lines as the day
    // view does.
    void ApplyToView(TMonthView& monthView) const;

    // Reads the same twelve settings back from the week view.
    void CaptureFromViews(TWeekView& weekView);
};
