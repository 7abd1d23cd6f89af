#include "TQuorlaCfg.h"

#include "TDayView.h"
#include "TMonthView.h"
#include "TWeekView.h"

namespace {

TFont recoloured(const TFont& font, TColor color, bool italic, bool setItalic)
{
    TFont result = font;
    result.setColor(color);
    // The style becomes exactly italic or nothing, so that two views that
    // differed in bold end up alike.
    if (setItalic)
        result.setItalicOnly(italic);
    return result;
}

// The day, week and month views offer the same settings.
template <typename View>
void apply(const TQuorlaCfg& cfg, View& view)
{
    view.setTimeFont(recoloured(*view.TimeFont(), cfg.TimeColor, false, false));
    view.setPrivateFont(recoloured(*view.PrivateFont(), cfg.PrivateColor, cfg.PrivateItalic, true));
    view.setCategoryFont(recoloured(*view.CategoryFont(), cfg.CategoryColor, cfg.CategoryItalic, true));
    view.setAssigneeFont(recoloured(*view.AssigneeFont(), cfg.AssigneeColor, cfg.AssigneeItalic, true));
    view.setDescriptionFont(recoloured(*view.DescriptionFont(), cfg.DescriptionColor, false, false));
    view.setDisplayMode(cfg.ExpandLines ? TDisplayMode::dmDouble : TDisplayMode::dmSingle);
    view.setShowCategories(cfg.ShowCategories);
    view.setShowAlarmGlyphs(cfg.ShowAlarmGlyphs);
    view.setShowPrivateGlyphs(cfg.ShowPrivateGlyphs);
}

} // namespace

void TQuorlaCfg::ApplyToViews(TWeekView& weekView, TDayView& dayView) const
{
    apply(*this, weekView);
    apply(*this, dayView);
}

void TQuorlaCfg::ApplyToView(TMonthView& monthView) const
{
    apply(*this, monthView);
}

void TQuorlaCfg::CaptureFromViews(TWeekView& weekView)
{
    TimeColor = weekView.TimeFont()->Color();
    PrivateColor = weekView.PrivateFont()->Color();
    CategoryColor = weekView.CategoryFont()->Color();
    AssigneeColor = weekView.AssigneeFont()->Color();
    DescriptionColor = weekView.DescriptionFont()->Color();
    PrivateItalic = weekView.PrivateFont()->Italic();
    CategoryItalic = weekView.CategoryFont()->Italic();
    AssigneeItalic = weekView.AssigneeFont()->Italic();
    ExpandLines = weekView.DisplayMode() == TDisplayMode::dmDouble;
    ShowCategories = weekView.ShowCategories();
    ShowAlarmGlyphs = weekView.ShowAlarmGlyphs();
    ShowPrivateGlyphs = weekView.ShowPrivateGlyphs();
}
