#include "framework/settingscheckbox.h"

#include "framework/style.h"

SettingsCheckBox::SettingsCheckBox(const QString& text, QWidget* parent)
    : QCheckBox(text, parent)
{
    setFont(scaledFont(7));
    setStyleSheet(
        QStringLiteral(
            "QCheckBox { spacing: 8px; color: %1 }"
            "QCheckBox::disabled { color: %4 }"
            "QCheckBox::indicator { width: %2px; height: %3px; margin-top: 2px; margin-left: "
            "1px;}"
            "QCheckBox::indicator::unchecked { image: url(:/Checkbox); }"
            "QCheckBox::indicator::checked { image: url(:/Checkbox_Active); }"
            "QCheckBox::indicator::checked::disabled { image: url(:/Checkbox_Active_Disabled); }"
            "QCheckBox::indicator::unchecked::disabled { image: url(:/Checkbox_Disabled); }"
            "QCheckBox::indicator::unchecked::hover { image: url(:/Checkbox_Hover); }")
            .arg(QStringLiteral("#474747"), QStringLiteral("18"), QStringLiteral("18"),
                 QStringLiteral("rgba(71, 71, 71, 100)")));
}
