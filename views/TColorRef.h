#pragma once

#include <QColor>
#include <QtGlobal>

// A colour as the settings store it: a 32-bit number with red in the lowest
// byte, green in the next and blue in the third (255 is pure red). The views
// take and give colours in this form and turn them into QColor only where they
// paint.
using TColor = qint32;

class TColorRef
{
public:
    TColorRef() = delete;

    static constexpr TColor clBlack = 0x000000;
    static constexpr TColor clRed = 0x0000FF;
    static constexpr TColor clGreen = 0x008000;
    static constexpr TColor clOlive = 0x008080;
    static constexpr TColor clNavy = 0x800000;
    static constexpr TColor clTeal = 0x808000;
    static constexpr TColor clWhite = 0xFFFFFF;

    // Only the three low bytes count; the highest byte is ignored.
    static QColor toQColor(TColor color);
    // Opaque colour of c; its alpha is dropped.
    static TColor fromQColor(const QColor& c);
};
