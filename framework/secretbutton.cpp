#include "framework/secretbutton.h"

#include <QMouseEvent>

SecretButton::SecretButton(QWidget* parent)
    : QWidget(parent)
{
}

void SecretButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->modifiers() & Qt::AltModifier)
        Q_EMIT secretClick();
}
