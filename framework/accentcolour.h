#pragma once

#include <QColor>

// The module's accent colour, grey until a family is given the host's colour.
QColor accentColour();
void setModuleAccentColour(const QColor& colour);
