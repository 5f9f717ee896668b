#include "framework/elidedlabel.h"

#include <QPainter>
#include <QStyle>

ElidedLabel::ElidedLabel(const QString& text, const QFont& font, const QColor& colour,
                         QWidget* parent)
    : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    QPalette palette = this->palette();
    palette.setColor(QPalette::All, QPalette::WindowText, colour);
    setPalette(palette);
    setFont(font);
}

bool ElidedLabel::isElided() const
{
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

void ElidedLabel::paintEvent(QPaintEvent* event)
{
    if (!isElided()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QString elided = fontMetrics().elidedText(text(), Qt::ElideRight, width());
    style()->drawItemText(&painter, rect(), int(alignment()), palette(), isEnabled(), elided,
                          foregroundRole());
}
