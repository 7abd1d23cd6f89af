#pragma once

#include "TDisplaySettings.h"
#include "TDisplayStyle.h"

// The workstation's display settings and groups (TDisplaySettings) as the
// views draw them: the main window builds the views' style from them (Style)
// and reads them back from the style on show (Capture).
class TQuorlaCfg : public TDisplaySettings
{
public:
    // `base` with the settings laid over it: the colour of the five fonts, the
    // style of the private, category and assignee fonts (exactly italic, or no
    // style: bold is dropped), the layout (two lines when ExpandLines) and the
    // three show switches. Family and size stay those of `base`.
    TDisplayStyle Style(TDisplayStyle base = TDisplayStyle()) const;

    // Reads the same twelve settings back from `style`.
    void Capture(const TDisplayStyle& style);
};
