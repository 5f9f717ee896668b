#include "host/windowheader.h"

#include "framework/appbranding.h"
#include "framework/style.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>

namespace {

const QString kLogo = QStringLiteral(":/Logo");

} // namespace

WindowHeader::WindowHeader(QWidget* parent)
    : QWidget(parent)
    , m_name(AppBranding::appName())
    , m_logo(loadHiDpiPixmap(kLogo))
{
    setFixedHeight(76);
    setFont(scaledFont(0));
    const QFontMetrics metrics(font());
    const QRect bounds = metrics.boundingRect(m_name);
    m_nameRect =
        QRect(29, metrics.descent() - bounds.height() + 48, bounds.width() + 4, bounds.height());
}

QStringList WindowHeader::picturePaths()
{
    return {kLogo};
}

void WindowHeader::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, QColor(40, 40, 40));
    gradient.setColorAt(0.5, QColor(26, 26, 26));
    gradient.setColorAt(1, QColor(23, 23, 23));
    painter.fillRect(rect(), gradient);

    painter.setPen(QColor(241, 241, 241));
    painter.setFont(font());
    painter.drawText(m_nameRect, Qt::AlignLeft | Qt::AlignVCenter, m_name);

    if (!m_logo.isNull()) {
        const QSizeF logo = m_logo.deviceIndependentSize();
        const QPointF at(width() - 24 - logo.width(), (height() - logo.height()) / 2);
        painter.drawPixmap(at, m_logo);
    }
}
