#pragma once

#include "usb/xmega/deviceid.h"
#include "usb/xmega/qtxmegausbregistry.h"

#include <memory>
#include <mutex>

// A copyable handle on one XMEGA unit: its unique id, the registry of live units and the
// device object last seen for it. Refreshing takes the registry's current device for the id,
// so a unit that re-enumerated (after a reboot) is reached again. Copies get their own mutex.
template<class T> class QtXmegaUSBDevice
{
public:
    // How long a rebooting unit may take to come back.
    static constexpr int kRebootTimeoutMs = 5000;

    QtXmegaUSBDevice() = default;
    QtXmegaUSBDevice(std::shared_ptr<QtXmegaUSBRegistry<T>> registry, const DeviceId& id,
                     std::shared_ptr<T> device)
        : m_registry(std::move(registry))
        , m_id(id)
        , m_device(std::move(device))
    {
    }

    QtXmegaUSBDevice(const QtXmegaUSBDevice& other) { *this = other; }

    QtXmegaUSBDevice& operator=(const QtXmegaUSBDevice& other)
    {
        if (this == &other)
            return *this;
        std::shared_ptr<QtXmegaUSBRegistry<T>> registry;
        DeviceId id;
        std::shared_ptr<T> device;
        {
            std::lock_guard<std::mutex> lock(other.m_mutex);
            registry = other.m_registry;
            id = other.m_id;
            device = other.m_device;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_registry = std::move(registry);
        m_id = id;
        m_device = std::move(device);
        return *this;
    }

    const DeviceId& uniqueId() const { return m_id; }
    const std::shared_ptr<QtXmegaUSBRegistry<T>>& registry() const { return m_registry; }
    std::mutex& mutex() const { return m_mutex; }

    // Takes the registry's current device for the unit, when it holds one. The caller holds
    // mutex().
    void refreshLocked()
    {
        if (!m_registry)
            return;
        if (std::shared_ptr<T> current = m_registry->device(m_id))
            m_device = std::move(current);
    }

    // Refreshes and hands out the device; requests go to it without the handle's lock.
    std::shared_ptr<T> current()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        refreshLocked();
        return m_device;
    }

    // The device as last refreshed.
    std::shared_ptr<T> device() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_device;
    }

    // Restarts the unit into its boot loader or its application and waits for it to come
    // back, at most timeoutMs. True when it came back in the mode asked for.
    bool rebootAndWait(bool toBootloader, int timeoutMs = kRebootTimeoutMs)
    {
        if (!m_registry || !m_registry->announceReboot(m_id, timeoutMs))
            return false;
        std::shared_ptr<T> unit = current();
        const bool sent =
            unit && (toBootloader ? unit->rebootToBootloader() : unit->rebootToApplication());
        if (!sent) {
            m_registry->cancelReboot(m_id);
            return false;
        }
        if (!m_registry->waitForReturn(m_id, uint32_t(timeoutMs)))
            return false;
        unit = current();
        bool bootloader = false;
        return unit && unit->isBootloaderMode(bootloader) && bootloader == toBootloader;
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<QtXmegaUSBRegistry<T>> m_registry;
    DeviceId m_id = DeviceId::invalid();
    std::shared_ptr<T> m_device;
};
