#include "framework/settingssliderlabel.h"

#include "framework/style.h"

SettingsSliderLabel::SettingsSliderLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextColours(this, QColor(94, 94, 94));
    setFont(scaledFont(7));
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setFixedHeight(25);
}
