#include "usb/driver/driverconnection.h"

#include "platform/bytereader.h"
#include "platform/devicebroadcast.h"
#include "usb/driver/cvnusbstatus.h"
#include "usb/driver/driverprotocol.h"
#include "usb/driver/usbdriverlog.h"

#include <algorithm>

namespace CVN {
namespace USB {

void DriverConnection::release()
{
    if (--useCount != 0)
        return;
    dropHandleNotification();
    if (handle)
        port->close(handle);
    delete this;
}

void DriverConnection::dropHandleNotification()
{
    if (const Platform::NotificationHandle notification = handleNotification.exchange(0))
        port->unregisterNotification(notification);
}

Platform::IoStatus DriverConnection::ioControl(uint32_t function, const void* input,
                                               uint32_t inputSize, void* output,
                                               uint32_t outputSize) const
{
    const Platform::IoStatus s =
        port->ioControl(handle, driverCode(function), input, inputSize, output, outputSize);
    // Every request to the driver passes here: the one place to watch the traffic.
    if (lcUsbDriver().isDebugEnabled()) {
        qCDebug(lcUsbDriver,
                "I/O control 0x%X in %u out %u: %s, returned %u, error %u, in %s, out %s", function,
                inputSize, outputSize, s.ok ? "ok" : "failed", s.bytesReturned, s.lastError,
                payloadHex(input, inputSize).constData(),
                payloadHex(output, s.ok ? std::min(s.bytesReturned, outputSize) : 0).constData());
    }
    return s;
}

bool DriverConnection::readWord(uint32_t function, uint32_t* value) const
{
    uint8_t reply[4] = {};
    Platform::IoStatus s = ioControl(function, nullptr, 0, reply, sizeof reply);
    return s.ok && s.bytesReturned == 4 && Platform::ByteReader(reply, 4).u32(0, value);
}

bool DriverConnection::readWord(uint32_t function, uint32_t input, uint32_t* value) const
{
    uint8_t in[4] = {uint8_t(input), uint8_t(input >> 8), uint8_t(input >> 16),
                     uint8_t(input >> 24)};
    uint8_t reply[4] = {};
    Platform::IoStatus s = ioControl(function, in, sizeof in, reply, sizeof reply);
    return s.ok && s.bytesReturned == 4 && Platform::ByteReader(reply, 4).u32(0, value);
}

uint32_t DriverConnection::lastFailureStatus() const
{
    uint32_t usbd = 0;
    if (!readWord(DriverFunction::kLastUsbStatus, &usbd))
        usbd = 0xFFFFFFFFu;
    return CVNUsbStatusFromUsbd(usbd);
}

bool DriverConnection::matches(const DeviceFilter& filter) const
{
    auto listed = [](const std::vector<uint32_t>& list, uint32_t id) {
        return std::any_of(list.begin(), list.end(),
                           [id](uint32_t entry) { return (entry & 0xFFFF) == (id & 0xFFFF); });
    };
    uint32_t id = 0;
    if (!filter.vendorIds.empty() &&
        (!readWord(DriverFunction::kVendorId, &id) || !listed(filter.vendorIds, id)))
        return false;
    if (!filter.productIds.empty() &&
        (!readWord(DriverFunction::kProductId, &id) || !listed(filter.productIds, id)))
        return false;
    return true;
}

DriverConnection* ConnectToDriverWithPath(const std::string& path, Platform::Recipient* recipient,
                                          uint32_t flags)
{
    Platform::DriverPort* port = Platform::driverPort();
    if (!port)
        return nullptr;
    auto* connection = new DriverConnection;
    connection->port = port;
    uint32_t error = 0;
    connection->handle = port->open(path, &error);
    if (!connection->handle) {
        connection->release();
        return nullptr;
    }
    uint8_t reply[8] = {};
    Platform::IoStatus s =
        connection->ioControl(DriverFunction::kHandshake, nullptr, 0, reply, sizeof reply);
    uint32_t first = 0;
    uint32_t second = 0;
    Platform::ByteReader r(reply, sizeof reply);
    // Versions 5 and later of the driver, speaking an interface no newer than ours.
    if (!s.ok || s.bytesReturned != 8 || !r.u32(0, &first) || !r.u32(4, &second) || first < 5 ||
        second > 5) {
        connection->release();
        return nullptr;
    }
    if (recipient) {
        Platform::NotificationFilter filter;
        filter.type = Platform::DeviceBroadcast::kHandle;
        filter.handle = connection->handle;
        filter.flags = flags;
        connection->handleNotification = port->registerNotification(recipient, filter);
        if (!connection->handleNotification) {
            connection->release();
            return nullptr;
        }
    }
    return connection;
}

} // namespace USB
} // namespace CVN
