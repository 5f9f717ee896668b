#include "framework/accentcolour.h"

namespace {
QColor& moduleAccentColour()
{
    static QColor colour(100, 100, 100);
    return colour;
}
} // namespace

QColor accentColour()
{
    return moduleAccentColour();
}

void setModuleAccentColour(const QColor& colour)
{
    moduleAccentColour() = colour;
}
