#include "framework/cardseparator.h"

#include "framework/style.h"

CardSeparator::CardSeparator(const QColor& colour, QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(1);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("QWidget { background: %1; }").arg(colorToHexString(colour)));
}
