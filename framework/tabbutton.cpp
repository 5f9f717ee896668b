#include "framework/tabbutton.h"

#include "framework/accentcolour.h"
#include "framework/style.h"

#include <QFontMetrics>
#include <QPainter>

TabButton::TabButton(const QString& title, QWidget* parent)
    : QAbstractButton(parent)
    , m_title(title)
    , m_alertPixmap(loadHiDpiPixmap(QStringLiteral(":/Field_Icon_Alert")))
    , m_accent(accentColour())
{
    setCheckable(true);
    setFont(scaledFont(3));
    const QFontMetrics metrics(font());
    const QRect bounds = metrics.boundingRect(m_title);
    m_textRect =
        QRect(0, 21 - bounds.height() + metrics.descent(), bounds.width() + 14, bounds.height());
    setFixedSize(bounds.width() + 24, 36);
}

void TabButton::setAlert(bool alert)
{
    m_alert = alert;
    update();
}

void TabButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (isChecked()) {
        painter.setFont(scaledFont(4));
        painter.setPen(QPen(m_accent, 3));
        painter.drawLine(0, 35, width() - 10, 35);
        painter.setPen(QColor(71, 71, 71));
    } else {
        painter.setFont(scaledFont(3));
        painter.setPen(QColor(94, 94, 94));
    }
    painter.drawText(m_textRect, Qt::AlignCenter, m_title);
    if (m_alert)
        painter.drawPixmap(width() - 17, 0, m_alertPixmap);
}
