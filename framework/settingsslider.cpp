#include "framework/settingsslider.h"

#include <QKeyEvent>
#include <QWheelEvent>

namespace {

const QString& styleText()
{
    static const QString text =
        QStringLiteral(
            "QSlider::groove:horizontal { border: none; height: 22px; background: none; "
            "margin-top: -9px; margin-bottom: -10px; }"
            "QSlider::handle:horizontal { image: url(:/Radio); }"
            "QSlider::handle:horizontal:hover { image: url(:/Radio_Hover); }"
            "QSlider::handle:horizontal::disabled { image: url(:/Radio_Disabled); }"
            "QSlider::handle:horizontal:hover::disabled { image: url(:/Radio_Disabled); }"
            "QSlider::sub-page:horizontal { background: %1; }"
            "QSlider::sub-page:horizontal::disabled { background: %2; }"
            "QSlider::add-page:horizontal { background: %2; }"
            "QSlider::sub-page:horizontal:disabled { background: %3; }"
            "QSlider::add-page:horizontal:disabled { background: %3; }")
            .arg(QStringLiteral("#929292"), QStringLiteral("#d0d0d0"), QStringLiteral("#f1f1f1"));
    return text;
}

} // namespace

SettingsSlider::SettingsSlider(QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
{
    setStyleSheet(styleText());
    setFixedSize(260, 30);
    setFocusPolicy(Qt::ClickFocus);
}

void SettingsSlider::wheelEvent(QWheelEvent* event)
{
    if (hasFocus())
        QSlider::wheelEvent(event);
    else
        event->ignore();
}

void SettingsSlider::keyPressEvent(QKeyEvent* event)
{
    if (hasFocus())
        QSlider::keyPressEvent(event);
    else
        event->ignore();
}
