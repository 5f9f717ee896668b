#include "framework/cardseparatordark.h"

CardSeparatorDark::CardSeparatorDark(QWidget* parent)
    : CardSeparator(QColor(208, 208, 208), parent)
{
}
