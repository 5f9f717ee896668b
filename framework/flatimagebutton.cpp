#include "framework/flatimagebutton.h"

#include "framework/style.h"

#include <QEvent>
#include <QPainter>

#include <cmath>

FlatImageButton::FlatImageButton(const QPixmap& normal, QWidget* parent)
    : QAbstractButton(parent)
{
    setPixmap(normal);
}

FlatImageButton::FlatImageButton(const QString& normalPath, QWidget* parent)
    : FlatImageButton(loadHiDpiPixmap(normalPath), parent)
{
}

void FlatImageButton::fitToNormal()
{
    const qreal ratio = m_normal.devicePixelRatio();
    setFixedSize(int(std::lround(m_normal.width() / ratio)),
                 int(std::lround(m_normal.height() / ratio)));
}

void FlatImageButton::setPixmap(const QPixmap& pixmap)
{
    m_normal = pixmap;
    fitToNormal();
    update();
}

void FlatImageButton::setDisabledPixmap(const QPixmap& pixmap)
{
    m_disabled = pixmap;
    update();
}

void FlatImageButton::setDisabledPixmap(const QString& path)
{
    setDisabledPixmap(loadHiDpiPixmap(path));
}

void FlatImageButton::setHoverPixmap(const QPixmap& pixmap)
{
    m_hover = pixmap;
    update();
}

void FlatImageButton::setHoverPixmap(const QString& path)
{
    setHoverPixmap(loadHiDpiPixmap(path));
}

void FlatImageButton::setHoverUnderlayPixmap(const QPixmap& pixmap)
{
    m_hoverUnderlay = pixmap;
    update();
}

void FlatImageButton::setPressedPixmap(const QString& path)
{
    m_pressed = loadHiDpiPixmap(path);
    update();
}

void FlatImageButton::setCheckedPixmap(const QPixmap& pixmap)
{
    m_checked = pixmap;
    update();
}

void FlatImageButton::setCheckedPixmap(const QString& path)
{
    setCheckedPixmap(loadHiDpiPixmap(path));
}

bool FlatImageButton::isHovered() const
{
    return underMouse() && !m_suppressHover;
}

QPixmap FlatImageButton::currentPixmap() const
{
    if (!isEnabled())
        return m_disabled.isNull() ? m_normal : m_disabled;
    if (!m_pressed.isNull() && isDown())
        return m_pressed;
    if (!m_hover.isNull() && isHovered())
        return m_hover;
    if (!m_checked.isNull() && isChecked())
        return m_checked;
    return m_normal;
}

void FlatImageButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (isEnabled() && isHovered() && !m_hoverUnderlay.isNull())
        painter.drawPixmap(0, 0, m_hoverUnderlay);
    const QPixmap pixmap = currentPixmap();
    if (!pixmap.isNull())
        painter.drawPixmap(0, 0, pixmap);
}

void FlatImageButton::enterEvent(QEnterEvent* event)
{
    m_suppressHover = false;
    if (!m_hover.isNull() || !m_hoverUnderlay.isNull())
        update();
    QAbstractButton::enterEvent(event);
}

void FlatImageButton::leaveEvent(QEvent* event)
{
    m_suppressHover = false;
    if (!m_hover.isNull() || !m_hoverUnderlay.isNull())
        update();
    QAbstractButton::leaveEvent(event);
}

bool FlatImageButton::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)
        m_suppressHover = true;
    return QAbstractButton::event(event);
}
