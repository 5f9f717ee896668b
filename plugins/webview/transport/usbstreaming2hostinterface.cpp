#include "plugins/webview/transport/usbstreaming2hostinterface.h"

#include "plugins/webview/transport/polltimer.h"
#include "plugins/webview/transport/streamingreplychunk.h"
#include "plugins/webview/transport/usbcontrolrequestbuilder.h"
#include "plugins/webview/transport/usbinterfacefinder.h"
#include "plugins/webview/transport/usbserialnumber.h"
#include "usb/rpc/vornosrpcexception.h"

#include <algorithm>
#include <stdexcept>

using namespace CVN::USB;
using WebViewUsb::Direction;

namespace {

constexpr uint8_t kBulk = 2;
constexpr uint8_t kIn = 1;

// A failed request: a time-out is its own exception, anything else carries the text.
[[noreturn]] void fail(CVNUsbStatus status, const char* text)
{
    if (status == kCVNUsbTransactionTimeout)
        throw VornOSRPC::RequestTimedOutException();
    throw VornOSRPC::Exception(std::string(text) + "\n");
}

// Puts the read time-out back to its default however the read ends.
struct TimeoutReset
{
    uint32_t& timeoutMs;
    ~TimeoutReset() { timeoutMs = USBStreaming2HostInterface::kDefaultReadTimeoutMs; }
};

} // namespace

USBStreaming2HostInterface::USBStreaming2HostInterface(IUSBDevice* device)
    : m_device(WebViewUsb::UsbRef<IUSBDevice>::share(device))
    , m_clock(WaitClock::system())
{
    m_interface = WebViewUsb::findInterface(device, kInterfaceClass, kInterfaceSubclass);
    uint8_t endpoints = 0;
    if (m_interface->interfaceNumber(&m_interfaceNumber) != kCVNUsbSuccess ||
        m_interface->GetNumEndpoints(&endpoints) != kCVNUsbSuccess)
        throw std::runtime_error("Failed to open usb interface");
    const CVNUsbStatus opened = m_interface->open();
    if (opened == kCVNUsbExclusiveAccess)
        throw std::runtime_error("Usb interface is already in use");
    if (opened != kCVNUsbSuccess)
        throw std::runtime_error("Failed to open usb interface");
    m_opened = true;
    try {
        for (uint8_t pipe = 1; pipe <= endpoints && pipe != 0; ++pipe) {
            uint8_t direction = 0, type = 0, interval = 0;
            uint16_t maxPacket = 0;
            if (m_interface->GetPipeProperties(pipe, &direction, &type, &maxPacket, &interval) !=
                    kCVNUsbSuccess ||
                (type == kBulk && maxPacket == 0))
                throw std::runtime_error("Failed to get properties of usb pipe with index " +
                                         std::to_string(pipe));
            if (type != kBulk)
                continue;
            if (direction == kIn) {
                m_inPipe = pipe;
                m_inChunk = uint64_t(maxPacket) * kPacketsPerChunk;
            } else {
                m_outPipe = pipe;
                m_outMaxPacket = maxPacket;
                m_outChunk = uint64_t(maxPacket) * kPacketsPerChunk;
            }
        }
    } catch (...) {
        m_interface->close();
        throw;
    }
}

USBStreaming2HostInterface::~USBStreaming2HostInterface()
{
    if (m_opened)
        m_interface->close();
}

void USBStreaming2HostInterface::setClock(std::shared_ptr<WaitClock> clock)
{
    m_clock = clock ? std::move(clock) : WaitClock::system();
}

uint8_t USBStreaming2HostInterface::readState()
{
    uint8_t state = 0;
    uint32_t transferred = 0;
    const CVNUsbStatus status =
        WebViewUsb::sendInterfaceRequest(m_device.get(), Direction::In, m_interfaceNumber,
                                         kGetState, 0, &state, 1, kRequestTimeoutMs, &transferred);
    if (status != kCVNUsbSuccess)
        fail(status, "Failed to get streaming state");
    if (transferred < 1)
        fail(kCVNUsbError, "Failed to get streaming state");
    return state;
}

bool USBStreaming2HostInterface::waitReady(uint32_t timeoutMs)
{
    WebViewUsb::PollTimer poll(m_clock, timeoutMs, kReadyPollMs);
    for (;;) {
        if (readState() > 1)
            return true;
        if (timeoutMs == 0 || !poll.pause(kReadyPollMs))
            return false;
    }
}

bool USBStreaming2HostInterface::start()
{
    return readState() != 0;
}

bool USBStreaming2HostInterface::stop()
{
    readState();
    return true;
}

void USBStreaming2HostInterface::setTimeout(uint32_t ms)
{
    m_timeoutMs = ms;
}

uint16_t USBStreaming2HostInterface::productId()
{
    uint16_t id = 0;
    if (m_device->productId(&id) != kCVNUsbSuccess)
        throw VornOSRPC::Exception("Failed to retrieve Product Id");
    return id;
}

uint16_t USBStreaming2HostInterface::vendorId()
{
    uint16_t id = 0;
    if (m_device->vendorId(&id) != kCVNUsbSuccess)
        throw VornOSRPC::Exception("Failed to retrieve Vendor Id");
    return id;
}

std::wstring USBStreaming2HostInterface::identifier()
{
    return serialNumber(m_device.get());
}

bool USBStreaming2HostInterface::writeStream(const std::vector<uint8_t>& message)
{
    if (m_outPipe)
        writeBulk(message);
    else
        writeControl(message);
    return true;
}

void USBStreaming2HostInterface::writePiece(const uint8_t* data, uint32_t length)
{
    const CVNUsbStatus status =
        m_interface->writePipe(m_outPipe, data, length, kPipeTimeoutMs, kPipeTimeoutMs);
    if (status != kCVNUsbSuccess)
        fail(status, "Failed to write pipe");
}

void USBStreaming2HostInterface::writeBulk(const std::vector<uint8_t>& message)
{
    const CVNUsbStatus started =
        WebViewUsb::sendInterfaceRequest(m_device.get(), Direction::Out, m_interfaceNumber,
                                         kStartRequest, 0, nullptr, 0, kRequestTimeoutMs);
    if (started != kCVNUsbSuccess)
        fail(started, "Failed to start request");
    size_t sent = 0;
    uint64_t last = 0;
    while (sent < message.size()) {
        const uint64_t piece = std::min<uint64_t>(message.size() - sent, m_outChunk);
        writePiece(message.data() + sent, uint32_t(piece));
        sent += size_t(piece);
        last = piece;
    }
    // A transfer that ends on a whole packet needs a zero-length packet to end it.
    if (last % m_outMaxPacket == 0)
        writePiece(nullptr, 0);
}

void USBStreaming2HostInterface::writeControl(const std::vector<uint8_t>& message)
{
    const size_t first = std::min<size_t>(message.size(), kControlChunk);
    const CVNUsbStatus started = WebViewUsb::sendInterfaceRequest(
        m_device.get(), Direction::Out, m_interfaceNumber, kStartRequest, 0,
        const_cast<uint8_t*>(message.data()), uint16_t(first), kRequestTimeoutMs);
    if (started != kCVNUsbSuccess)
        fail(started, "Failed to start request");
    for (size_t sent = first; sent < message.size();) {
        const size_t piece = std::min<size_t>(message.size() - sent, kControlChunk);
        const CVNUsbStatus status = WebViewUsb::sendInterfaceRequest(
            m_device.get(), Direction::Out, m_interfaceNumber, kContinueRequest, 0,
            const_cast<uint8_t*>(message.data() + sent), uint16_t(piece), kRequestTimeoutMs);
        if (status != kCVNUsbSuccess)
            fail(status, "Failed to write data");
        sent += piece;
    }
}

bool USBStreaming2HostInterface::readStream(std::vector<uint8_t>& message)
{
    TimeoutReset reset{m_timeoutMs};
    if (m_inPipe)
        readBulk(message);
    else
        readControl(message);
    return true;
}

uint8_t USBStreaming2HostInterface::waitWhileBusy()
{
    // A time-out of 0 waits for as long as the unit stays busy.
    WebViewUsb::PollTimer poll(m_clock, m_timeoutMs, kBusyPollMs);
    uint8_t state = readState();
    while (state == kStateBusy) {
        if (!poll.pause(kBusyPollMs))
            throw VornOSRPC::RequestTimedOutException();
        state = readState();
    }
    return state;
}

void USBStreaming2HostInterface::readBulk(std::vector<uint8_t>& message)
{
    const uint8_t state = waitWhileBusy();
    if (state != kStateReady && state != kStateReplyReady)
        throw VornOSRPC::Exception("invalid state");
    const uint64_t chunk =
        std::min<uint64_t>(message.capacity() / m_inChunk * m_inChunk + m_inChunk, m_maxReplySize);
    size_t received = 0;
    for (;;) {
        // A unit that never ends its reply is cut off here (at most one chunk past).
        if (received > m_maxReplySize)
            throw VornOSRPC::Exception("Reply too large");
        message.resize(received + size_t(chunk));
        uint32_t length = uint32_t(chunk);
        if (m_interface->readPipe(m_inPipe, message.data() + received, &length, kPipeTimeoutMs,
                                  kPipeTimeoutMs) != kCVNUsbSuccess) {
            message.resize(received);
            throw VornOSRPC::Exception("Failed to read data result");
        }
        received += std::min<size_t>(length, size_t(chunk));
        if (length < chunk)
            break;
    }
    message.resize(received);
}

void USBStreaming2HostInterface::readControl(std::vector<uint8_t>& message)
{
    const uint8_t state = waitWhileBusy();
    if (state != kStateReplyReady)
        throw VornOSRPC::Exception("invalid state");
    message.clear();
    uint8_t chunk[StreamingReplyChunk::kHeaderSize + StreamingReplyChunk::kMaxPayload];
    for (;;) {
        uint32_t transferred = 0;
        size_t length = 0;
        if (WebViewUsb::sendInterfaceRequest(m_device.get(), Direction::In, m_interfaceNumber,
                                             kGetReplyChunk, 1, chunk, sizeof chunk,
                                             kRequestTimeoutMs, &transferred) != kCVNUsbSuccess ||
            !StreamingReplyChunk::payloadLength(chunk, transferred, &length))
            throw VornOSRPC::Exception("Failed to read data result");
        if (message.size() + length > m_maxReplySize)
            throw VornOSRPC::Exception("Reply too large");
        message.insert(message.end(), chunk + StreamingReplyChunk::kHeaderSize,
                       chunk + StreamingReplyChunk::kHeaderSize + length);
        if (length != StreamingReplyChunk::kMaxPayload)
            break;
    }
}
