#include "timedprogressupdater.h"

TimedProgressUpdater::TimedProgressUpdater(QObject* parent)
    : QObject(parent)
    , m_timer(this)
{
    qRegisterMetaType<std::chrono::milliseconds>();
    connect(this, &TimedProgressUpdater::startProgressTimer, this, &TimedProgressUpdater::onStart);
    connect(this, &TimedProgressUpdater::stopProgressTimer, &m_timer, &QTimer::stop);
    connect(&m_timer, &QTimer::timeout, this, &TimedProgressUpdater::onTick);
}

void TimedProgressUpdater::setPhase(float startValue, float endValue, int64_t durationMs)
{
    m_startValue = startValue;
    m_endValue = endValue;
    m_startTime = now();
    m_durationMs = durationMs;
    m_ended = false;
}

int64_t TimedProgressUpdater::now()
{
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void TimedProgressUpdater::onStart(std::chrono::milliseconds interval)
{
    m_timer.start(interval);
}

void TimedProgressUpdater::onTick()
{
    const int64_t elapsed = (now() - m_startTime) / 10000;
    if (elapsed < m_durationMs) {
        const float fraction = float(elapsed) / float(m_durationMs);
        emit updateProgress(int(fraction * (m_endValue - m_startValue) + m_startValue));
        return;
    }
    // The end value once when the phase is over: a tick late past the last percent must still
    // let a listener see that the time ran out.
    if (!m_ended) {
        m_ended = true;
        emit updateProgress(int(m_endValue));
    }
}
