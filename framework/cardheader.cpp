#include "framework/cardheader.h"

#include "framework/contract/visibledevice.h"
#include "framework/elidedlabel.h"
#include "framework/secretbutton.h"
#include "framework/style.h"

#include <QPainter>
#include <QPainterPath>

namespace {
const int kHeaderWidth = 620;
const int kHeaderHeight = 100;
} // namespace

CardHeader::CardHeader(VisibleDevice* device, QWidget* parent)
    : QWidget(parent)
{
    setStyleSheet(QStringLiteral("background-color: transparent"));
    setFixedSize(kHeaderWidth, kHeaderHeight);

    const Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    m_titleLabel =
        new ElidedLabel(device->productName(), scaledFont(13), QColor(254, 167, 1), this);
    m_titleLabel->setAlignment(alignment);
    m_titleLabel->setGeometry(29, 22, 328, 44);

    m_subtitleLabel =
        new ElidedLabel(device->displayName(), scaledFont(1), QColor(208, 208, 208), this);
    m_subtitleLabel->setAlignment(alignment);
    m_subtitleLabel->adjustSize();
    m_subtitleLabel->move(30, 54);

    m_iconLabel = new QLabel(this);
    m_iconLabel->setAlignment(Qt::AlignRight);
    const QPixmap icon = device->cardConnectionIcon();
    int titleWidth = 0;
    if (icon.isNull()) {
        m_iconLabel->hide();
        titleWidth = width() - 60;
    } else {
        m_iconLabel->setPixmap(icon);
        const int iconWidth = int(icon.width() / icon.devicePixelRatio()) + 10;
        m_iconLabel->setFixedSize(iconWidth, int(icon.height() / icon.devicePixelRatio()));
        m_iconLabel->move(width() - 31 - iconWidth, 35);
        titleWidth = width() - 31 - iconWidth - 30;
    }
    m_titleLabel->setFixedWidth(titleWidth);
    m_subtitleLabel->setFixedWidth(titleWidth);

    auto* secret = new SecretButton(this);
    secret->setFixedSize(20, 20);
    secret->move(600, 0);
    connect(secret, &SecretButton::secretClick, this, &CardHeader::showEasterEgg);
}

void CardHeader::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal w = width();
    const qreal bottom = height() - 1;
    const qreal diameter = 16;

    QPainterPath path;
    path.moveTo(0, 8);
    path.lineTo(0, bottom);
    path.lineTo(w, bottom);
    path.lineTo(w, 8);
    path.arcTo(QRectF(w - diameter, 0, diameter, diameter), 0, 90);
    path.lineTo(8, 0);
    path.arcTo(QRectF(0, 0, diameter, diameter), 90, 90);
    path.closeSubpath();

    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, QColor(72, 72, 72));
    gradient.setColorAt(0.0329, QColor(51, 51, 51));
    gradient.setColorAt(1, QColor(23, 23, 23));
    painter.setPen(QPen(QColor(62, 62, 62), 2));
    painter.setBrush(gradient);
    painter.drawPath(path);

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor(108, 108, 108), 1));
    painter.drawLine(QPointF(0, bottom), QPointF(w, bottom));
}
