#pragma once

#include <QMetaType>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>

Q_DECLARE_METATYPE(std::chrono::milliseconds)

// Moves a progress figure on a clock while a device installs what it received: from startValue
// at startTime to endValue after durationMs. Lives on the thread that made it; other threads
// start and stop it only through its two signals.
class TimedProgressUpdater : public QObject
{
    Q_OBJECT
public:
    explicit TimedProgressUpdater(QObject* parent = nullptr);

    // Sets the phase starting now; emit startProgressTimer afterwards to run it.
    void setPhase(float startValue, float endValue, int64_t durationMs);
    // 100 ns ticks of the system clock.
    static int64_t now();

    bool isRunning() const { return m_timer.isActive(); }

Q_SIGNALS:
    void updateProgress(int value);
    void startProgressTimer(std::chrono::milliseconds interval);
    void stopProgressTimer();

private:
    void onStart(std::chrono::milliseconds interval);
    void onTick();

    QTimer m_timer;
    float m_startValue = 0;
    float m_endValue = 100;
    int64_t m_startTime = 0;
    int64_t m_durationMs = 0;
    bool m_ended = false;
};
