#include "usb/driver/cusbdevice.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"
#include "usb/driver/cusbinterface.h"
#include "usb/driver/cusbinterfaceiterator.h"
#include "usb/driver/driverconnection.h"
#include "usb/driver/driverprotocol.h"

#include <algorithm>
#include <new>

namespace CVN {
namespace USB {

namespace {
// A configuration descriptor is at most 65535 bytes; the reply adds its 4-byte size.
constexpr uint32_t kMaxConfigurationReply = 4 + 0xFFFF;
} // namespace

CUSBDevice::CUSBDevice(DriverConnection* connection)
    : m_connection(connection)
{
    m_connection->addRef();
}

CUSBDevice::~CUSBDevice()
{
    m_connection->release();
}

uint32_t CUSBDevice::AddRef()
{
    return ++m_refs;
}

uint32_t CUSBDevice::Release()
{
    const uint32_t count = --m_refs;
    if (count == 0)
        delete this;
    return count;
}

CVNUsbStatus CUSBDevice::controlTransfer(UsbControlRequest* request)
{
    if (!request)
        return kCVNUsbBadArgument;
    const uint32_t size = kControlTransferHeaderSize + request->wLength;
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return kCVNUsbError;
    }
    Platform::ByteWriter w(buffer.data(), buffer.size());
    const uint8_t type = request->bmRequestType;
    w.u8(0, type >> 7);
    w.u8(1, (type >> 5) & 3);
    w.u8(2, type & 0x1F);
    w.u8(3, request->bRequest);
    w.u16(4, request->wValue);
    w.u16(6, request->wIndex);
    w.u16(8, request->wLength);
    w.u32(12, request->timeout);
    w.u32(16, request->timeout2);
    if (request->wLength && request->data)
        w.bytes(kControlTransferHeaderSize, request->data, request->wLength);
    Platform::IoStatus s = m_connection->ioControl(DriverFunction::kControlTransfer, buffer.data(),
                                                   size, buffer.data(), size);
    if (!s.ok)
        return m_connection->lastFailureStatus();
    if (s.bytesReturned != size)
        return kCVNUsbError;
    if ((type & 0x80) && request->wLength && request->data)
        std::copy_n(buffer.data() + kControlTransferHeaderSize, request->wLength,
                    static_cast<uint8_t*>(request->data));
    request->transferred = request->wLength;
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBDevice::byteProperty(uint32_t function, uint8_t* value) const
{
    uint32_t word = 0;
    if (!value || !m_connection->readWord(function, &word))
        return kCVNUsbError;
    *value = uint8_t(word);
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBDevice::wordProperty(uint32_t function, uint16_t* value) const
{
    uint32_t word = 0;
    if (!value || !m_connection->readWord(function, &word))
        return kCVNUsbError;
    *value = uint16_t(word);
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBDevice::byteProperty823(uint8_t* value)
{
    return byteProperty(DriverFunction::kDeviceByte823, value);
}

CVNUsbStatus CUSBDevice::byteProperty825(uint8_t* value)
{
    return byteProperty(DriverFunction::kDeviceByte825, value);
}

CVNUsbStatus CUSBDevice::productId(uint16_t* value)
{
    return wordProperty(DriverFunction::kProductId, value);
}

CVNUsbStatus CUSBDevice::byteProperty827(uint8_t* value)
{
    return byteProperty(DriverFunction::kDeviceByte827, value);
}

CVNUsbStatus CUSBDevice::wordProperty828(uint16_t* value)
{
    return wordProperty(DriverFunction::kDeviceWord828, value);
}

CVNUsbStatus CUSBDevice::unsupportedProperty8()
{
    return kCVNUsbError;
}

CVNUsbStatus CUSBDevice::byteProperty82A(uint8_t* value)
{
    return byteProperty(DriverFunction::kDeviceByte82A, value);
}

CVNUsbStatus CUSBDevice::vendorId(uint16_t* value)
{
    return wordProperty(DriverFunction::kVendorId, value);
}

CVNUsbStatus CUSBDevice::unsupportedProperty11()
{
    return kCVNUsbError;
}

CVNUsbStatus CUSBDevice::configurationCount(uint8_t* value)
{
    return byteProperty(DriverFunction::kConfigurationCount, value);
}

CVNUsbStatus CUSBDevice::selectConfiguration(uint8_t configuration)
{
    const uint8_t in[4] = {configuration, 0, 0, 0};
    Platform::IoStatus s =
        m_connection->ioControl(DriverFunction::kSelectConfiguration, in, sizeof in, nullptr, 0);
    return s.ok ? kCVNUsbSuccess : kCVNUsbError;
}

CVNUsbStatus CUSBDevice::open()
{
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBDevice::close()
{
    return kCVNUsbSuccess;
}

CVNUsbStatus CUSBDevice::resetDevice()
{
    Platform::IoStatus s =
        m_connection->ioControl(DriverFunction::kResetDevice, nullptr, 0, nullptr, 0);
    return s.ok ? kCVNUsbSuccess : kCVNUsbError;
}

CVNUsbStatus CUSBDevice::byteProperty83C(uint8_t* value)
{
    uint8_t reply = 0;
    Platform::IoStatus s =
        m_connection->ioControl(DriverFunction::kDeviceByte83C, nullptr, 0, &reply, 1);
    if (!value || s.bytesReturned != 1)
        return kCVNUsbError;
    *value = reply;
    return s.ok ? kCVNUsbSuccess : kCVNUsbError;
}

CVNUsbStatus CUSBDevice::deviceRevision(uint16_t* value)
{
    return wordProperty828(value);
}

CVNUsbStatus CUSBDevice::serialNumberStringIndex(uint8_t* value)
{
    return byteProperty83C(value);
}

CVNUsbStatus CUSBDevice::setDriverOption(uint8_t value)
{
    const uint8_t in[4] = {value, 0, 0, 0};
    Platform::IoStatus s =
        m_connection->ioControl(DriverFunction::kSetDriverOption, in, sizeof in, nullptr, 0);
    return s.ok ? kCVNUsbSuccess : kCVNUsbError;
}

CVNUsbStatus CUSBDevice::createInterfaceIterator(const FindInterfaceRequest* request,
                                                 IUSBInterfaceIterator** iterator)
{
    if (!request)
        return kCVNUsbError;
    uint8_t match[8];
    Platform::ByteWriter w(match, sizeof match);
    w.u16(0, request->bInterfaceClass);
    w.u16(2, request->bInterfaceSubClass);
    w.u16(4, request->bInterfaceProtocol);
    w.u16(6, request->bAlternateSetting);
    uint8_t head[4] = {};
    Platform::IoStatus s = m_connection->ioControl(DriverFunction::kInterfaceList, match,
                                                   sizeof match, head, sizeof head);
    uint32_t count = 0;
    if (!s.ok || s.bytesReturned != 4 || !Platform::ByteReader(head, 4).u32(0, &count) ||
        count > kMaxInterfaceIds)
        return kCVNUsbError;
    std::vector<uint8_t> reply(4 + 4 * size_t(count), 0);
    s = m_connection->ioControl(DriverFunction::kInterfaceList, match, sizeof match, reply.data(),
                                uint32_t(reply.size()));
    Platform::ByteReader r(reply.data(), reply.size());
    uint32_t again = 0;
    // The second answer must be whole and no longer than the first announced.
    if (!s.ok || !r.u32(0, &again) || again > count || s.bytesReturned != 4 + 4 * again)
        return kCVNUsbError;
    std::vector<uint32_t> ids(again);
    for (uint32_t i = 0; i < again; ++i)
        r.u32(4 + 4 * size_t(i), &ids[i]);
    if (!iterator)
        return kCVNUsbError;
    auto* made = new (std::nothrow) CUSBInterfaceIterator(this, std::move(ids));
    if (!made)
        return kCVNUsbError;
    *iterator = made;
    return kCVNUsbSuccess;
}

const std::vector<uint8_t>* CUSBDevice::configurationDescriptor(uint8_t index)
{
    {
        std::lock_guard<std::mutex> lock(m_cacheMutex);
        if (m_cache.size() < size_t(index) + 1)
            m_cache.resize(size_t(index) + 1);
        if (m_cache[index])
            return m_cache[index].get();
    }
    const uint8_t in[4] = {index, 0, 0, 0};
    uint8_t head[4] = {};
    Platform::IoStatus s = m_connection->ioControl(DriverFunction::kConfigurationDescriptor, in,
                                                   sizeof in, head, sizeof head);
    uint32_t total = 0;
    if (!s.ok || s.bytesReturned != 4 || !Platform::ByteReader(head, 4).u32(0, &total) ||
        total < 4 || total > kMaxConfigurationReply)
        return nullptr;
    std::vector<uint8_t> reply(total, 0);
    s = m_connection->ioControl(DriverFunction::kConfigurationDescriptor, in, sizeof in,
                                reply.data(), total);
    if (!s.ok || s.bytesReturned != total)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_cacheMutex);
    // The first stored copy wins; pointers into it stay valid for the device's life.
    if (!m_cache[index])
        m_cache[index] = std::make_unique<std::vector<uint8_t>>(reply.begin() + 4, reply.end());
    return m_cache[index].get();
}

CVNUsbStatus CUSBDevice::addAsyncInterface(CUSBInterface* interface)
{
    std::lock_guard<std::recursive_mutex> lock(m_interfacesMutex);
    if (std::find(m_interfaces.begin(), m_interfaces.end(), interface) != m_interfaces.end())
        return kCVNUsbError;
    m_interfaces.push_back(interface);
    if (m_sink)
        interface->setAsyncEventSink(m_sink, m_sinkMessage);
    return kCVNUsbSuccess;
}

void CUSBDevice::removeAsyncInterface(CUSBInterface* interface)
{
    std::lock_guard<std::recursive_mutex> lock(m_interfacesMutex);
    auto it = std::find(m_interfaces.begin(), m_interfaces.end(), interface);
    if (it != m_interfaces.end())
        m_interfaces.erase(it);
    interface->setAsyncEventSink(nullptr, 0);
}

CVNUsbStatus CUSBDevice::dispatchAsyncEvent(CVNUsbEvent event, IUSBInterface* interface)
{
    // The callback may drop the last reference to this device (through the interface that
    // held it): the device, and the mutex below, outlive the dispatch.
    AddRef();
    CVNUsbStatus status = kCVNUsbNotHandled;
    {
        std::lock_guard<std::recursive_mutex> lock(m_interfacesMutex);
        // Compared by address only: the message may outlive the interface it names (the
        // event, never reused, tells a stale message from a live request).
        for (size_t i = 0; i < m_interfaces.size(); ++i) {
            if (static_cast<IUSBInterface*>(m_interfaces[i]) != interface)
                continue;
            if (m_interfaces[i]->dispatchAsyncEvent(event, interface) == kCVNUsbSuccess) {
                status = kCVNUsbSuccess;
                break;
            }
        }
    }
    Release();
    return status;
}

CVNUsbStatus CUSBDevice::setAsyncEventSink(Platform::Recipient* window, uint32_t message)
{
    std::lock_guard<std::recursive_mutex> lock(m_interfacesMutex);
    m_sink = window;
    m_sinkMessage = message;
    for (CUSBInterface* interface : m_interfaces)
        interface->setAsyncEventSink(window, message);
    return kCVNUsbSuccess;
}

} // namespace USB
} // namespace CVN
