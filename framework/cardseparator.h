#pragma once

#include <QWidget>

// A one-pixel line between parts of a card.
class CardSeparator : public QWidget
{
    Q_OBJECT
public:
    explicit CardSeparator(const QColor& colour, QWidget* parent = nullptr);
};
