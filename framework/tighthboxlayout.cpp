#include "framework/tighthboxlayout.h"

TightHBoxLayout::TightHBoxLayout()
{
    setSpacing(0);
    setContentsMargins(0, 0, 0, 0);
}

TightHBoxLayout::TightHBoxLayout(QWidget* parent)
    : QHBoxLayout(parent)
{
    setSpacing(0);
    setContentsMargins(0, 0, 0, 0);
}
