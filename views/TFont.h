#pragma once

#include "TColorRef.h"

#include <QColor>
#include <QFont>

// A font together with the colour its text is drawn in, the unit in which the
// views take their text styles. The views own their TFont objects: reading a
// font property gives the view's own object, writing one copies the given
// object's attributes into it (Assign).
class TFont
{
public:
    // The application's default font, black.
    TFont();
    // The application's default font in the given colour, bold or not.
    explicit TFont(TColor color, bool bold = false);

    TColor Color() const { return color_; }
    void setColor(TColor color) { color_ = color; }
    QColor qcolor() const { return TColorRef::toQColor(color_); }

    bool Bold() const { return font_.bold(); }
    void setBold(bool bold) { font_.setBold(bold); }
    bool Italic() const { return font_.italic(); }
    void setItalic(bool italic) { font_.setItalic(italic); }
    // Sets the style to exactly italic, or to no style at all: bold, underline
    // and strike-out are dropped either way.
    void setItalicOnly(bool italic);

    // Family, size and style; the colour is Color().
    const QFont& font() const { return font_; }
    void setFont(const QFont& font) { font_ = font; }

    // Copies every attribute of source; assigning an object to itself changes
    // nothing.
    void Assign(const TFont& source);

    bool operator==(const TFont& other) const;

private:
    QFont font_;
    TColor color_ = TColorRef::clBlack;
};
