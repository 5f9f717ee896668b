#include "host/launcherpushbutton.h"

#include "framework/style.h"

LauncherPushButton::LauncherPushButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    setStyleSheet(gradientButtonStyleSheet());
    setFont(scaledFont(7));
    setFixedSize(114, 28);
}
