#include "framework/valuewithbutton.h"

#include "framework/accentcolour.h"
#include "framework/cardpushbutton.h"
#include "framework/style.h"

#include <QLabel>

void ValueWithButton::setHighlighted(bool highlighted, const QString& text)
{
    if (!value || !button)
        return;
    const QColor colour = highlighted ? accentColour() : QColor(71, 71, 71);
    QPalette palette = value->palette();
    palette.setBrush(QPalette::All, QPalette::WindowText, colour);
    value->setPalette(palette);
    value->setFont(scaledFont(highlighted ? 4 : 3));
    value->setText(text);
    button->setVisible(highlighted);
}
