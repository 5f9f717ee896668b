#include "framework/linkbar.h"

#include <QPainter>

LinkBar::LinkBar(int kind, QWidget* parent)
    : QWidget(parent)
    , m_kind(kind)
{
}

void LinkBar::paintEvent(QPaintEvent*)
{
    if (m_kind != Top && m_kind != Bottom)
        return;
    QPainter painter(this);
    painter.setPen(QPen(isEnabled() ? QColor(94, 94, 94) : QColor(208, 208, 208), 1, Qt::SolidLine,
                        Qt::SquareCap, Qt::BevelJoin));
    const int x = width() - 7;
    const int yb = height() - 2;
    painter.drawLine(x, 1, x, yb);
    if (m_kind == Top)
        painter.drawLine(0, 1, x, 1);
    else
        painter.drawLine(0, yb, x, yb);
}
