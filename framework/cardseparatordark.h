#pragma once

#include "framework/cardseparator.h"

// The darker line under a settings page's tabs and between its sections.
class CardSeparatorDark : public CardSeparator
{
    Q_OBJECT
public:
    explicit CardSeparatorDark(QWidget* parent = nullptr);
};
