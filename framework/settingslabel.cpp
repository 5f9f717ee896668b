#include "framework/settingslabel.h"

#include "framework/style.h"

#include <QPainter>

SettingsLabel::SettingsLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    setTextColours(this, QColor(71, 71, 71));
    setFont(scaledFont(7));
}

void SettingsLabel::setElideEnabled(bool enabled)
{
    m_elide = enabled;
    update();
}

void SettingsLabel::paintEvent(QPaintEvent* event)
{
    if (!m_elide || fontMetrics().boundingRect(text()).width() <= contentsRect().width()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QString shown =
        fontMetrics().elidedText(text(), Qt::ElideRight, width(), Qt::TextShowMnemonic);
    painter.drawText(rect(), shown, QTextOption());
}
