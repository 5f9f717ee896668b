#include "plugins/deckcontroller/streaming2xmegausbdevice.h"

#include "platform/bytereader.h"
#include "usb/driver/findinterfacerequest.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/iusbinterface.h"
#include "usb/driver/iusbinterfaceiterator.h"
#include "usb/driver/usbcontrolrequest.h"
#include "usb/rpc/vornosrpcexception.h"

#include <algorithm>
#include <stdexcept>

using namespace CVN::USB;

namespace {

constexpr uint8_t kClassIn = 0xA1;
constexpr uint8_t kClassOut = 0x21;
constexpr uint8_t kBulk = 2;

} // namespace

std::shared_ptr<Streaming2XmegaUSBDevice> Streaming2XmegaUSBDevice::make(IUSBDevice* device)
{
    try {
        return std::make_shared<Streaming2XmegaUSBDevice>(device);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

Streaming2XmegaUSBDevice::Streaming2XmegaUSBDevice(IUSBDevice* device)
    : XmegaUSBDevice(device)
{
    if (!open())
        throw std::runtime_error("Error opening USB device");
    if (!getProductId(m_productId))
        throw VornOSRPC::Exception("Failed to retrieve Product Id");
    if (!getVendorId(m_vendorId))
        throw VornOSRPC::Exception("Failed to retrieve Vendor Id");

    UsbControlRequest request;
    makeVendorInRequest(request, kProtocolVersion);
    uint8_t version[2] = {};
    request.wLength = sizeof version;
    request.data = version;
    const CVNUsbStatus status = sendControlRequestStatus(request);
    if (status != kCVNUsbSuccess) {
        // A unit without a stream (its boot loader) still answers every XMEGA request.
        m_protocolVersion = 0xFFFF;
        return;
    }
    Platform::ByteReader(version, sizeof version).u16(0, &m_protocolVersion);

    FindInterfaceRequest match;
    match.bInterfaceClass = 0xFF;
    match.bInterfaceSubClass = 2;
    IUSBInterfaceIterator* iterator = nullptr;
    if (usbDevice()->createInterfaceIterator(&match, &iterator) != kCVNUsbSuccess || !iterator)
        throw std::runtime_error("Unable to create iterator");
    IUSBInterface* interface = nullptr;
    const bool found = iterator->next(&interface) && interface;
    iterator->Release();
    if (!found)
        throw std::runtime_error("Unable to find interface");

    uint8_t endpoints = 0;
    if (interface->interfaceNumber(&m_streamInterfaceNumber) != kCVNUsbSuccess ||
        interface->GetNumEndpoints(&endpoints) != kCVNUsbSuccess ||
        interface->open() != kCVNUsbSuccess) {
        interface->Release();
        throw std::runtime_error("Failed to open usb interface\n");
    }
    m_opened = true;
    for (uint8_t pipe = 1; pipe <= endpoints && pipe != 0; ++pipe) {
        uint8_t direction = 0, type = 0, interval = 0;
        uint16_t packet = 0;
        if (interface->GetPipeProperties(pipe, &direction, &type, &packet, &interval) !=
            kCVNUsbSuccess) {
            interface->close();
            interface->Release();
            throw std::runtime_error("Unable to find interface");
        }
        if (type != kBulk)
            continue;
        if (direction == 1) {
            m_inPipe = pipe;
            m_inChunk = uint64_t(packet) * kPacketsPerChunk;
        } else if (direction == 0) {
            m_outPipe = pipe;
            m_outMaxPacket = packet;
            m_outChunk = uint64_t(packet) * kPacketsPerChunk;
        }
    }
    // Without both pipes, or with a pipe of packet size 0, no message can be cut into pieces.
    if (m_inChunk == 0 || m_outChunk == 0) {
        interface->close();
        interface->Release();
        throw std::runtime_error("Unable to find interface");
    }
    m_streamInterface = interface;
}

Streaming2XmegaUSBDevice::~Streaming2XmegaUSBDevice()
{
    releaseStream();
}

void Streaming2XmegaUSBDevice::releaseStream()
{
    if (!m_streamInterface)
        return;
    if (m_opened)
        m_streamInterface->close();
    m_streamInterface->Release();
    m_streamInterface = nullptr;
    m_opened = false;
}

void Streaming2XmegaUSBDevice::checkProtocol() const
{
    if (m_protocolVersion != kSupportedProtocol)
        throw VornOSRPC::IncompatiableProtocolException();
}

void Streaming2XmegaUSBDevice::requireStream() const
{
    if (!m_streamInterface)
        throw VornOSRPC::Exception("No stream interface");
}

uint8_t Streaming2XmegaUSBDevice::readState()
{
    requireStream();
    uint8_t state = 0;
    UsbControlRequest request;
    request.bmRequestType = kClassIn;
    request.bRequest = kStreamState;
    request.wIndex = m_streamInterfaceNumber;
    request.wLength = 1;
    request.data = &state;
    request.timeout = kClassRequestTimeoutMs;
    request.timeout2 = kClassRequestTimeoutMs;
    if (sendControlRequestStatus(request) != kCVNUsbSuccess)
        throw VornOSRPC::Exception("Failed to get streaming state\n");
    return state;
}

bool Streaming2XmegaUSBDevice::waitReady(uint32_t timeoutMs)
{
    checkProtocol();
    const auto started = clock().now();
    for (;;) {
        if (readState() > 1)
            return true;
        if (clock().elapsedMs(started) >= timeoutMs)
            return false;
        clock().sleep(kStatePollMs);
    }
}

bool Streaming2XmegaUSBDevice::setStreaming(bool on)
{
    checkProtocol();
    return vendorOut(kStreamEnable, on ? 1 : 0);
}

bool Streaming2XmegaUSBDevice::start()
{
    if (readState() != kNotStreaming)
        return true;
    return setStreaming(true);
}

bool Streaming2XmegaUSBDevice::stop()
{
    if (readState() == kNotStreaming)
        return true;
    return setStreaming(false);
}

bool Streaming2XmegaUSBDevice::writeStream(const std::vector<uint8_t>& message)
{
    requireStream();
    UsbControlRequest request;
    request.bmRequestType = kClassOut;
    request.bRequest = kStartOfMessage;
    request.wIndex = kMessageInterface;
    request.timeout = kClassRequestTimeoutMs;
    request.timeout2 = kClassRequestTimeoutMs;
    if (sendControlRequestStatus(request) != kCVNUsbSuccess)
        throw VornOSRPC::Exception("Failed to start request\n");

    uint64_t last = 0;
    for (size_t at = 0; at < message.size(); at += size_t(last)) {
        last = std::min<uint64_t>(message.size() - at, m_outChunk);
        if (m_streamInterface->writePipe(m_outPipe, message.data() + at, uint32_t(last),
                                         kPipeTimeoutMs, kPipeTimeoutMs) != kCVNUsbSuccess)
            throw VornOSRPC::Exception("Failed to write pipe\n");
    }
    // The unit sees the end of a message in a short packet; an empty message is one.
    if (last % m_outMaxPacket == 0 &&
        m_streamInterface->writePipe(m_outPipe, message.data(), 0, kPipeTimeoutMs,
                                     kPipeTimeoutMs) != kCVNUsbSuccess)
        throw VornOSRPC::Exception("Failed to write pipe\n");
    return true;
}

bool Streaming2XmegaUSBDevice::readStream(std::vector<uint8_t>& message)
{
    // Every exit leaves the default limit for the next read.
    struct Restore
    {
        uint32_t& timeout;
        ~Restore() { timeout = kDefaultTimeoutMs; }
    } restore{m_timeoutMs};

    requireStream();
    const uint32_t limitMs = m_timeoutMs;
    const auto started = clock().now();
    uint8_t state = readState();
    while (state == kBusy) {
        if (limitMs != 0 && clock().elapsedMs(started) >= limitMs)
            throw VornOSRPC::RequestTimedOutException();
        clock().sleep(kStatePollMs);
        state = readState();
    }
    if (state != kReplyReady && state != kReplyReadyAlt)
        throw VornOSRPC::Exception("invalid state");

    message.clear();
    std::vector<uint8_t> buffer(static_cast<size_t>(m_inChunk));
    for (;;) {
        uint32_t length = uint32_t(m_inChunk);
        if (m_streamInterface->readPipe(m_inPipe, buffer.data(), &length, kPipeTimeoutMs,
                                        kPipeTimeoutMs) != kCVNUsbSuccess ||
            length > m_inChunk || message.size() + length > kMaxReplyBytes)
            throw VornOSRPC::Exception("Failed to read data result");
        message.insert(message.end(), buffer.begin(), buffer.begin() + long(length));
        if (length < m_inChunk)
            return true;
    }
}

void Streaming2XmegaUSBDevice::setTimeout(uint32_t ms)
{
    m_timeoutMs = ms;
}

uint16_t Streaming2XmegaUSBDevice::productId()
{
    return m_productId;
}

uint16_t Streaming2XmegaUSBDevice::vendorId()
{
    return m_vendorId;
}

std::wstring Streaming2XmegaUSBDevice::identifier()
{
    return std::wstring();
}
