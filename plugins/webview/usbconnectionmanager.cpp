#include "usbconnectionmanager.h"

#include "framework/contract/devicefirmwareupdater.h"
#include "novafamilybase.h"
#include "platform/happensbefore.h"
#include "plugins/webview/transport/usbref.h"
#include "usbpotentialdevice.h"

#include <QCoreApplication>

UsbConnectionManager::UsbConnectionManager(NovaFamilyBase* family, ProductTable products,
                                           ConnectedDeviceFactory connectedDeviceFactory,
                                           FirmwareUpdaterFactory firmwareUpdaterFactory,
                                           PotentialDeviceFactory potentialDeviceFactory,
                                           WidgetFactory widgetFactory)
    : ConnectionManager(QStringLiteral("USB"), family, products)
    , m_notifier(UsbNotifier::productIdsOf(products))
    , m_connectedDeviceFactory(std::move(connectedDeviceFactory))
    , m_firmwareUpdaterFactory(std::move(firmwareUpdaterFactory))
    , m_potentialDeviceFactory(std::move(potentialDeviceFactory))
    , m_widgetFactory(std::move(widgetFactory))
{
}

// No handler starts after this; one already running only reads the weak self-reference, and
// the notifier, destroyed last, joins its thread.
UsbConnectionManager::~UsbConnectionManager()
{
    m_notifier.setOnArrived(nullptr);
    m_notifier.setOnRemoved(nullptr);
}

void UsbConnectionManager::start()
{
    startNotifier();
}

bool UsbConnectionManager::startNotifier()
{
    m_notifier.setOnArrived([this](CVN::USB::IUSBDevice* device) { post(device, true); });
    m_notifier.setOnRemoved([this](CVN::USB::IUSBDevice* device) { post(device, false); });
    return m_notifier.start();
}

bool UsbConnectionManager::post(CVN::USB::IUSBDevice* device, bool arrival)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return false;
    // The reference keeps the unit alive until the step has run, or is dropped with the call.
    const auto held = std::make_shared<WebViewUsb::UsbRef<CVN::USB::IUSBDevice>>(
        WebViewUsb::UsbRef<CVN::USB::IUSBDevice>::share(device));
    const std::weak_ptr<ConnectionManager> weakSelf = weak_from_this();
    // Qt's queue hands the call over under locks the thread sanitizer cannot see.
    Platform::happensBefore(held.get());
    return QMetaObject::invokeMethod(
        application,
        [weakSelf, held, arrival] {
            Platform::happensAfter(held.get());
            const auto self = std::static_pointer_cast<UsbConnectionManager>(weakSelf.lock());
            if (!self)
                return;
            if (arrival)
                self->arrived(held->get());
            else
                self->removed(held->get());
            held->reset();
        },
        Qt::QueuedConnection);
}

void UsbConnectionManager::arrived(CVN::USB::IUSBDevice* device)
{
    if (!m_potentialDeviceFactory)
        return;
    const auto self = std::static_pointer_cast<UsbConnectionManager>(shared_from_this());
    const DevicePtr potential = m_potentialDeviceFactory(self, device);
    if (!potential)
        return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_devices.push_back(potential);
    if (family())
        family()->addPotentialDevice(potential);
}

void UsbConnectionManager::removed(CVN::USB::IUSBDevice* device)
{
    DevicePtr gone;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        for (const DevicePtr& candidate : m_devices) {
            if (candidate->usbDevice() == device) {
                gone = candidate;
                break;
            }
        }
    }
    if (!gone)
        return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_devices.remove(gone);
    if (family())
        family()->removePotentialDeviceByUniqueId(gone);
}

std::shared_ptr<ConnectedDevice>
UsbConnectionManager::createConnectedDevice(NovaVisibleDevice* visibleDevice,
                                            PotentialDevice* device)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!visibleDevice || !device || !m_connectedDeviceFactory)
        return nullptr;
    for (const DevicePtr& listed : m_devices) {
        if (static_cast<PotentialDevice*>(listed.get()) == device)
            return m_connectedDeviceFactory(visibleDevice, listed);
    }
    return nullptr;
}

QSharedPointer<DeviceFirmwareUpdater>
UsbConnectionManager::createFirmwareUpdater(NovaVisibleDevice* visibleDevice,
                                            PotentialDevice* device)
{
    if (!visibleDevice || !device || !m_firmwareUpdaterFactory)
        return nullptr;
    const DevicePtr listed = findByUniqueId(device->uniqueId());
    if (!listed)
        return nullptr;
    return m_firmwareUpdaterFactory(
        std::static_pointer_cast<UsbConnectionManager>(shared_from_this()), listed);
}

QWidget* UsbConnectionManager::createWidget(NovaVisibleDevice* visibleDevice,
                                            PotentialDevice* device)
{
    if (!visibleDevice || !device || !m_widgetFactory)
        return nullptr;
    const DevicePtr listed = findByUniqueId(device->uniqueId());
    return listed ? m_widgetFactory(visibleDevice, listed) : nullptr;
}

UsbConnectionManager::DevicePtr UsbConnectionManager::findByUniqueId(const QString& uniqueId)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (const DevicePtr& device : m_devices) {
        if (device->uniqueId() == uniqueId)
            return device;
    }
    return nullptr;
}
