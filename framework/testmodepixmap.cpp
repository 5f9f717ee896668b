#include "framework/testmodepixmap.h"

#include <QFontMetrics>
#include <QPainter>

TestModePixmap::TestModePixmap(const QPixmap& source, int width, int height, int yOffset)
    : QPixmap(source)
{
    if (isNull()) {
        QPixmap blank(width, height);
        blank.fill(Qt::transparent);
        QPixmap::operator=(blank);
    }
    if (isNull())
        return;
    const QString text = tr("TEST MODE");
    QFont font(QStringLiteral("Helvetica"));
    // Stop at 1 pt: a box too small for any size must not walk the size down to nothing.
    int size = 70;
    for (; size > 1; --size) {
        font.setPointSize(size);
        const QRect bounds = QFontMetrics(font).boundingRect(text);
        if (bounds.width() < width && bounds.height() < height)
            break;
    }
    font.setPointSize(size);

    QPainter painter(this);
    painter.setPen(Qt::red);
    painter.setFont(font);
    painter.drawText(QPoint(0, height / 2 + yOffset), text);
}
