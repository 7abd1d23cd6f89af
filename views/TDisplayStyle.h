#pragma once

#include "TDisplayMode.h"
#include "TFont.h"

// How the day list and the day, week and month views draw events: the five
// text styles, the layout and the three show switches. A value: the main
// window builds one from the display settings (TQuorlaCfg::Style) and hands a
// copy to each view; a view that is handed one equal to its own changes
// nothing.
class TDisplayStyle
{
public:
    // Time red, private navy bold, assignees green, category teal, description
    // navy, all in the application's default font; one line an event; every
    // switch on.
    TDisplayStyle();

    TFont TimeFont;
    TFont PrivateFont;
    TFont AssigneeFont;
    TFont CategoryFont;
    TFont DescriptionFont;
    TDisplayMode DisplayMode = TDisplayMode::dmSingle;
    bool ShowCategories = true;
    bool ShowAlarmGlyphs = true;
    bool ShowPrivateGlyphs = true;

    bool operator==(const TDisplayStyle& other) const = default;
};
