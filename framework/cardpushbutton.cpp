#include "framework/cardpushbutton.h"

#include "framework/style.h"

CardPushButton::CardPushButton(const QString& text, QSize fixedSize, QWidget* parent)
    : QPushButton(text, parent)
    , m_fixedSize(fixedSize)
{
    setStyleSheet(gradientButtonStyleSheet());
    setFont(scaledFont(7));
    setFixedSize(m_fixedSize);
}
