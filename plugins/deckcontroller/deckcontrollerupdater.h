#pragma once

#include "plugins/shared/updatethread.h"

#include <atomic>
#include <cstdint>

class IDeckControllerDevice;

// Writes the carried firmware of the unit's product into a deck controller, on its own
// thread: every entry of the product's catalogue, bracketed by the unit's update mode.
// Progress is a fraction of all entry bytes (-1 while the unit cannot tell); the end is one
// complete(bool). The device is not owned and must outlive the thread.
class DeckControllerUpdater : public UpdateThread
{
    Q_OBJECT
public:
    DeckControllerUpdater();
    ~DeckControllerUpdater() override;

    // Waits for a running update to end, then takes the device.
    void setDevice(IDeckControllerDevice* device);

Q_SIGNALS:
    void progressed(float fraction);
    void complete(bool succeeded);

protected:
    void run() override;

private:
    bool update();
    void report(float fraction);

    std::atomic<IDeckControllerDevice*> m_device{nullptr};
    // The part of the whole job that the entry being written covers.
    float m_rangeStart = 0.0f;
    float m_rangeEnd = 1.0f;
};
