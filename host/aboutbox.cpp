#include "host/aboutbox.h"

#include "framework/style.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

const int kBoxWidth = 286;
const int kHeight = 288;
// A name on two lines pushes everything below it down by this much.
const int kTwoLineExtra = 25;

// The picture stands above the name; a larger one is drawn smaller.
const qreal kPictureRoom = 64;

QFont nameFont()
{
    return scaledFont(11);
}

} // namespace

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setFixedSize(kBoxWidth, kHeight);
    QPalette palette = this->palette();
    palette.setColor(QPalette::All, QPalette::Window, QColor(241, 241, 241));
    setPalette(palette);
    setAutoFillBackground(true);
}

void AboutBox::setPicture(const QPixmap& picture)
{
    m_picture = picture;
    update();
}

void AboutBox::setName(const QString& name)
{
    m_name = name;
    m_twoLine = QFontMetrics(nameFont()).horizontalAdvance(name) > width() - 60;
    setFixedSize(kBoxWidth, m_twoLine ? kHeight + kTwoLineExtra : kHeight);
    update();
}

void AboutBox::setVersion(const QString& version)
{
    m_version = version;
    update();
}

void AboutBox::setYear(const QString& year)
{
    m_year = year;
    update();
}

QString AboutBox::noticeText() const
{
    return tr("Copyright \u00A9 %1 Corvane Design.\nAll rights reserved.").arg(m_year);
}

void AboutBox::mousePressEvent(QMouseEvent*)
{
    accept();
}

void AboutBox::focusOutEvent(QFocusEvent*)
{
    accept();
}

void AboutBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int shift = m_twoLine ? kTwoLineExtra : 0;

    if (!m_picture.isNull()) {
        QSizeF size = m_picture.deviceIndependentSize();
        if (size.width() > kPictureRoom || size.height() > kPictureRoom)
            size.scale(kPictureRoom, kPictureRoom, Qt::KeepAspectRatio);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(QRectF(QPointF((width() - size.width()) / 2, 52), size), m_picture,
                           QRectF(m_picture.rect()));
    }
    if (!m_name.isEmpty()) {
        painter.setPen(Qt::black);
        painter.setFont(nameFont());
        painter.drawText(QRect(30, 126, width() - 60, height() - 261),
                         Qt::AlignCenter | Qt::TextWordWrap, m_name);
    }

    const QColor text(71, 71, 71);
    painter.setPen(text);
    painter.setFont(scaledFont(3));
    painter.drawText(QRect(0, 166 + shift, width(), 20), Qt::AlignCenter,
                     tr("Version %1").arg(m_version));

    painter.setPen(QColor(181, 181, 181));
    const int lineY = 204 + shift;
    painter.drawLine(30, lineY, width() - 31, lineY);

    painter.setPen(text);
    painter.setFont(scaledFont(5));
    painter.drawText(QRect(0, 225 + shift, width(), 40), Qt::AlignCenter, noticeText());
}
