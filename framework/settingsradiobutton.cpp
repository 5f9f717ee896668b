#include "framework/settingsradiobutton.h"

#include "framework/style.h"

SettingsRadioButton::SettingsRadioButton(const QString& text, QWidget* parent)
    : QRadioButton(text, parent)
{
    setFont(scaledFont(7));
    setStyleSheet(
        QStringLiteral(
            "QRadioButton { spacing: 8px; color: %1 }"
            "QRadioButton::disabled { color: %2 }"
            "QRadioButton::indicator { width: 18px; height: 18px; }"
            "QRadioButton::indicator::unchecked { image: url(:/Radio); }"
            "QRadioButton::indicator::checked { image: url(:/Radio_Active); }"
            "QRadioButton::indicator::checked::disabled { image: url(:/Radio_Active_Disabled); }"
            "QRadioButton::indicator::unchecked::disabled { image: url(:/Radio_Disabled); }"
            "QRadioButton::indicator::unchecked::hover { image: url(:/Radio_Hover); }")
            .arg(QStringLiteral("#474747"), QStringLiteral("rgba(71, 71, 71, 100)")));
}
