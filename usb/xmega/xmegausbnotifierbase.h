#pragma once

#include "usb/xmega/deviceid.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace Platform {
class Recipient;
struct Message;
} // namespace Platform

namespace CVN {
namespace USB {
class IUSBDevice;
struct NotificationRegistration;
} // namespace USB
} // namespace CVN

class XmegaUSBDevice;

// Watches the USB layer for XMEGA units of chosen vendor and product ids, makes a device
// object for each through its row's factory and reports arrivals and removals. Units found
// in their boot loader can be told to start their application instead (once per unique id);
// they are never reported while in the boot loader. Runs on the thread that handles the
// notification recipient's device-change messages; no lock of its own.
class XmegaUSBNotifierBase
{
public:
    class Delegate
    {
    public:
        virtual ~Delegate() = default;
    };

    using Factory = std::function<std::shared_ptr<XmegaUSBDevice>(CVN::USB::IUSBDevice* device,
                                                                  uint16_t productId)>;
    struct WatchRow
    {
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        Factory factory;
    };

    XmegaUSBNotifierBase();
    virtual ~XmegaUSBNotifierBase();

    XmegaUSBNotifierBase(const XmegaUSBNotifierBase&) = delete;
    XmegaUSBNotifierBase& operator=(const XmegaUSBNotifierBase&) = delete;

    void setNotificationWindow(Platform::Recipient* window, uint32_t flags);
    // Where arriving devices post their asynchronous pipe events; none by default.
    void setEventWindow(Platform::Recipient* window, uint32_t message);
    // Registers with the USB layer; the units already present are reported before it returns.
    void start(Delegate* delegate, bool rebootBootloaderUnits);
    void startNotifications();
    bool handleDeviceChangeMessage(uintptr_t wParam, const void* lParam, size_t lParamSize);
    bool handleDeviceChangeMessage(const Platform::Message& message);

    void addWatchRow(uint16_t vendorId, uint16_t productId, Factory factory);
    const std::vector<WatchRow>& watchRows() const { return m_rows; }
    Delegate* delegate() const { return m_delegate; }
    bool isStarted() const { return m_registration != nullptr; }

protected:
    // A concrete notifier appends further rows here, before registration.
    virtual void addWatchRows() = 0;
    virtual void deviceArrived(const std::shared_ptr<XmegaUSBDevice>& device) = 0;
    virtual void deviceRemoved(const std::shared_ptr<XmegaUSBDevice>& device) = 0;

private:
    static uint32_t arrivalHandler(CVN::USB::IUSBDevice* device, void* context);
    static uint32_t removalHandler(CVN::USB::IUSBDevice* device, void* context);
    void arrived(CVN::USB::IUSBDevice* device);
    void removed(CVN::USB::IUSBDevice* device);

    Platform::Recipient* m_notificationWindow = nullptr;
    uint32_t m_notificationFlags = 0;
    Platform::Recipient* m_eventWindow = nullptr;
    uint32_t m_eventMessage = 0;
    Delegate* m_delegate = nullptr;
    std::vector<WatchRow> m_rows;
    bool m_rebootBootloaderUnits = true;
    std::vector<DeviceId> m_rebootedUnits;
    CVN::USB::NotificationRegistration* m_registration = nullptr;
    std::map<CVN::USB::IUSBDevice*, std::weak_ptr<XmegaUSBDevice>> m_devices;
};
