#include "framework/popupwidget.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QScreen>

PopupWidget::PopupWidget(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(30);
    shadow->setColor(QColor(0, 0, 0, 140));
    shadow->setOffset(0, 0);
    setGraphicsEffect(shadow);
}

void PopupWidget::popup(const QPoint& point)
{
    show();
    move(point - QPoint(20, 20));
    keepOnScreen();
}

void PopupWidget::keepOnScreen()
{
    const QScreen* screen = window()->screen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QRect shown(mapToGlobal(QPoint(0, 0)), geometry().size());
    if (area.contains(shown))
        return;
    int dx = 0;
    int dy = 0;
    if (shown.left() < area.left())
        dx = area.left() - shown.left();
    else if (shown.left() + shown.width() > area.left() + area.width())
        dx = (area.left() + area.width()) - (shown.left() + shown.width());
    if (shown.top() < area.top())
        dy = area.top() - shown.top();
    else if (shown.top() + shown.height() > area.top() + area.height())
        dy = (area.top() + area.height()) - (shown.top() + shown.height());
    move(pos() + QPoint(dx, dy));
}

bool PopupWidget::event(QEvent* event)
{
    if (event->type() == QEvent::Show) {
        keepOnScreen();
    } else if (event->type() == QEvent::WindowDeactivate) {
        Q_EMIT aboutToHide();
        hide();
    }
    return QDialog::event(event);
}
