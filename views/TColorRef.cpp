#include "TColorRef.h"

QColor TColorRef::toQColor(TColor color)
{
    const auto value = static_cast<quint32>(color);
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

TColor TColorRef::fromQColor(const QColor& c)
{
    const QColor rgb = c.toRgb();
    return static_cast<TColor>(quint32(rgb.red()) | (quint32(rgb.green()) << 8)
                               | (quint32(rgb.blue()) << 16));
}
