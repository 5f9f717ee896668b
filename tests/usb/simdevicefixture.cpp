#include "simdevicefixture.h"

#include <QElapsedTimer>
#include <QThread>

#include <functional>

using namespace CVN::USB;

ManualClock::TimePoint ManualClock::now() const
{
    return TimePoint(std::chrono::milliseconds(m_ms.load()));
}

void ManualClock::sleep(uint32_t ms)
{
    m_ms += ms;
    ++m_sleeps;
}

std::vector<uint8_t> testConfiguration()
{
    return Sim::ConfigurationBuilder()
        .interface(0, 0, 0xFF, 2, 0)
        .bulkOut(0x01, 512)
        .bulkIn(0x81, 512)
        .interface(1, 0, 0xFE, 1, 0)
        .descriptor(0x21, {0x0B, 0xE8, 0x03, 0x00, 0x10, 0x10, 0x01})
        .build();
}

std::shared_ptr<Sim::SimpleUsbDevice> makeTestDevice(uint16_t vendorId, uint16_t productId)
{
    Sim::DeviceIdentity identity;
    identity.vendorId = vendorId;
    identity.productId = productId;
    identity.revision = 0x0142;
    identity.serialNumberIndex = 3;
    auto device = std::make_shared<Sim::SimpleUsbDevice>(identity, testConfiguration());
    device->setString(3, "SN0001");
    return device;
}

DeviceCollector::~DeviceCollector()
{
    clear();
}

void DeviceCollector::clear()
{
    for (IUSBDevice* d : arrivals)
        d->Release();
    for (IUSBDevice* d : removals)
        d->Release();
    arrivals.clear();
    removals.clear();
}

CVNUsbStatus DeviceCollector::arrived(IUSBDevice* device, void* context)
{
    device->AddRef();
    static_cast<DeviceCollector*>(context)->arrivals.push_back(device);
    return kCVNUsbSuccess;
}

CVNUsbStatus DeviceCollector::removed(IUSBDevice* device, void* context)
{
    device->AddRef();
    static_cast<DeviceCollector*>(context)->removals.push_back(device);
    return kCVNUsbSuccess;
}

NotificationRegistration* registerCollector(DeviceCollector* collector,
                                            std::vector<uint32_t> vendors,
                                            std::vector<uint32_t> products,
                                            Platform::Recipient* recipient)
{
    return CVNUsb_RegisterDeviceNotifications(
        &DeviceCollector::arrived, collector, &DeviceCollector::removed, collector, vendors.data(),
        uint32_t(vendors.size()), products.data(), uint32_t(products.size()), recipient, 0);
}

namespace {

bool pollFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

} // namespace

IUSBDevice* waitForDevice(const Sim::SimpleUsbDevice& model)
{
    if (!pollFor([&] { return model.isAttached(); }, 5000))
        return nullptr;
    DeviceCollector collector;
    NotificationRegistration* r = registerCollector(&collector);
    IUSBDevice* found = nullptr;
    if (collector.arrivals.size() == 1) {
        found = collector.arrivals[0];
        found->AddRef();
    }
    CVNUsb_UnregisterDeviceNotifications(r);
    return found;
}

bool waitForNewBusId(const Sim::SimpleUsbDevice& model, Sim::DeviceId old, int timeoutMs)
{
    return pollFor(
        [&] {
            const Sim::DeviceId now = model.id();
            return now && now != old;
        },
        timeoutMs);
}
