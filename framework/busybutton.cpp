#include "framework/busybutton.h"

#include "framework/style.h"

#include <QTimer>

namespace {
const int kFrameCount = 12;
const int kFrameIntervalMs = 100;

QString framePath(int frame)
{
    return QStringLiteral(":/Busy_Frame_%1").arg(frame);
}
} // namespace

BusyButton::BusyButton(QWidget* parent)
    : FlatImageButton(framePath(1), parent)
    , m_timer(new QTimer(this))
{
    setHoverPixmap(QStringLiteral(":/Busy_Close"));
    m_timer->setInterval(kFrameIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &BusyButton::updatePixmap);
}

void BusyButton::setBusy(bool busy)
{
    m_busy = busy;
    if (m_busy && isVisible())
        m_timer->start();
    else
        m_timer->stop();
}

bool BusyButton::isAnimating() const
{
    return m_timer->isActive();
}

void BusyButton::updatePixmap()
{
    ++m_frame;
    setPixmap(loadHiDpiPixmap(framePath(m_frame)));
    if (m_frame >= kFrameCount)
        m_frame = 0;
}

void BusyButton::showEvent(QShowEvent* event)
{
    FlatImageButton::showEvent(event);
    if (m_busy)
        m_timer->start();
}

void BusyButton::hideEvent(QHideEvent* event)
{
    FlatImageButton::hideEvent(event);
    m_timer->stop();
}
