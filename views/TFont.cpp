#include "TFont.h"

#include <QApplication>

TFont::TFont()
    : font_(QApplication::font())
{
}

TFont::TFont(TColor color, bool bold)
    : font_(QApplication::font()), color_(color)
{
    font_.setBold(bold);
}

void TFont::Assign(const TFont& source)
{
    if (&source == this)
        return;
    font_ = source.font_;
    color_ = source.color_;
}

void TFont::setItalicOnly(bool italic)
{
    font_.setBold(false);
    font_.setUnderline(false);
    font_.setStrikeOut(false);
    font_.setItalic(italic);
}

bool TFont::operator==(const TFont& other) const
{
    return color_ == other.color_ && font_ == other.font_;
}
