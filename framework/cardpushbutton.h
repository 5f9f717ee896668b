#pragma once

#include <QPushButton>

// A text button of the card UI: grey gradient, fixed size given by its creator.
class CardPushButton : public QPushButton
{
    Q_OBJECT
public:
    CardPushButton(const QString& text, QSize fixedSize, QWidget* parent = nullptr);

    QSize designedSize() const { return m_fixedSize; }

private:
    QSize m_fixedSize;
};
