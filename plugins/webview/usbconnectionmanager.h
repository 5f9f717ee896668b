#pragma once

#include "connectionmanager.h"
#include "plugins/webview/transport/usbnotifier.h"

#include <functional>
#include <list>
#include <memory>
#include <mutex>

namespace CVN {
namespace USB {
class IUSBDevice;
}
} // namespace CVN

class UsbPotentialDevice;

// Potential devices of the recorders on USB. Arrivals and removals come on the notifier's
// thread and are moved to the GUI thread before anything else is done with them; the device
// list, the factories and the family are used on the GUI thread only.
class UsbConnectionManager : public ConnectionManager
{
public:
    using DevicePtr = std::shared_ptr<UsbPotentialDevice>;
    using ManagerPtr = std::shared_ptr<UsbConnectionManager>;
    using ConnectedDeviceFactory =
        std::function<std::shared_ptr<ConnectedDevice>(NovaVisibleDevice*, DevicePtr)>;
    using FirmwareUpdaterFactory =
        std::function<QSharedPointer<DeviceFirmwareUpdater>(ManagerPtr, DevicePtr)>;
    using PotentialDeviceFactory = std::function<DevicePtr(ManagerPtr, CVN::USB::IUSBDevice*)>;
    using WidgetFactory = std::function<QWidget*(NovaVisibleDevice*, DevicePtr)>;

    UsbConnectionManager(NovaFamilyBase* family, ProductTable products,
                         ConnectedDeviceFactory connectedDeviceFactory,
                         FirmwareUpdaterFactory firmwareUpdaterFactory,
                         PotentialDeviceFactory potentialDeviceFactory,
                         WidgetFactory widgetFactory);
    ~UsbConnectionManager() override;

    // Starts watching the bus; the units already there arrive on the GUI thread soon after.
    void start() override;
    bool startNotifier();

    std::shared_ptr<ConnectedDevice> createConnectedDevice(NovaVisibleDevice* visibleDevice,
                                                           PotentialDevice* device) override;
    QSharedPointer<DeviceFirmwareUpdater> createFirmwareUpdater(NovaVisibleDevice* visibleDevice,
                                                                PotentialDevice* device) override;
    QWidget* createWidget(NovaVisibleDevice* visibleDevice, PotentialDevice* device) override;

    // The first listed device with this unique id (exact), or none.
    virtual DevicePtr findByUniqueId(const QString& uniqueId);

private:
    // Notifier thread: holds the unit and hands the step to the GUI thread.
    bool post(CVN::USB::IUSBDevice* device, bool arrival);
    void arrived(CVN::USB::IUSBDevice* device);
    void removed(CVN::USB::IUSBDevice* device);

    UsbNotifier m_notifier;
    ConnectedDeviceFactory m_connectedDeviceFactory;
    FirmwareUpdaterFactory m_firmwareUpdaterFactory;
    PotentialDeviceFactory m_potentialDeviceFactory;
    WidgetFactory m_widgetFactory;
    std::recursive_mutex m_mutex;
    std::list<DevicePtr> m_devices;
};
