#include "TQuorlaCfg.h"

TDisplayStyle TQuorlaCfg::Style(TDisplayStyle base) const
{
    base.TimeFont.setColor(TimeColor);
    base.PrivateFont.setColor(PrivateColor);
    base.CategoryFont.setColor(CategoryColor);
    base.AssigneeFont.setColor(AssigneeColor);
    base.DescriptionFont.setColor(DescriptionColor);
    // Exactly italic or nothing, so that two views that differed in bold end
    // up alike.
    base.PrivateFont.setItalicOnly(PrivateItalic);
    base.CategoryFont.setItalicOnly(CategoryItalic);
    base.AssigneeFont.setItalicOnly(AssigneeItalic);
    base.DisplayMode = ExpandLines ? TDisplayMode::dmDouble : TDisplayMode::dmSingle;
    base.ShowCategories = ShowCategories;
    base.ShowAlarmGlyphs = ShowAlarmGlyphs;
    base.ShowPrivateGlyphs = ShowPrivateGlyphs;
    return base;
}

void TQuorlaCfg::Capture(const TDisplayStyle& style)
{
    TimeColor = style.TimeFont.Color();
    PrivateColor = style.PrivateFont.Color();
    CategoryColor = style.CategoryFont.Color();
    AssigneeColor = style.AssigneeFont.Color();
    DescriptionColor = style.DescriptionFont.Color();
    PrivateItalic = style.PrivateFont.Italic();
    CategoryItalic = style.CategoryFont.Italic();
    AssigneeItalic = style.AssigneeFont.Italic();
    ExpandLines = style.DisplayMode == TDisplayMode::dmDouble;
    ShowCategories = style.ShowCategories;
    ShowAlarmGlyphs = style.ShowAlarmGlyphs;
    ShowPrivateGlyphs = style.ShowPrivateGlyphs;
}
