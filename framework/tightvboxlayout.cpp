#include "framework/tightvboxlayout.h"

TightVBoxLayout::TightVBoxLayout()
{
    setSpacing(0);
    setContentsMargins(0, 0, 0, 0);
}

TightVBoxLayout::TightVBoxLayout(QWidget* parent)
    : QVBoxLayout(parent)
{
    setSpacing(0);
    setContentsMargins(0, 0, 0, 0);
}
