#include "usb/xmega/streamingxmegausbdevice.h"

#include "platform/bytereader.h"
#include "usb/driver/iusbdevice.h"
#include "usb/rpc/vornosrpcexception.h"
#include "usb/xmega/streamchunkassembler.h"
#include "usb/xmega/usbxmegalog.h"

#include <algorithm>

using namespace CVN::USB;
using VornOSRPC::StreamChunkAssembler;

namespace {

std::string failureText(const char* name, CVNUsbStatus status)
{
    return std::string("USB Request ") + name + " failed with " + CVNUsbStatusText(status);
}

} // namespace

std::shared_ptr<StreamingXmegaUSBDevice> StreamingXmegaUSBDevice::create(IUSBDevice* usbDevice)
{
    if (!usbDevice)
        return nullptr;
    try {
        return std::make_shared<StreamingXmegaUSBDevice>(usbDevice);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

std::shared_ptr<StreamingXmegaUSBDevice>
StreamingXmegaUSBDevice::createInAnyMode(IUSBDevice* usbDevice)
{
    if (!usbDevice)
        return nullptr;
    try {
        return std::make_shared<StreamingXmegaUSBDevice>(usbDevice, true);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

StreamingXmegaUSBDevice::StreamingXmegaUSBDevice(IUSBDevice* usbDevice)
    : StreamingXmegaUSBDevice(usbDevice, false)
{
}

StreamingXmegaUSBDevice::StreamingXmegaUSBDevice(IUSBDevice* usbDevice, bool allowBootloader)
    : XmegaUSBDevice(usbDevice)
{
    if (!open())
        throw std::runtime_error("Error opening USB device");
    uint8_t bytes[2] = {};
    UsbControlRequest request;
    makeVendorInRequest(request, kProtocolVersion);
    request.wLength = sizeof bytes;
    request.data = bytes;
    const CVNUsbStatus status = sendControlRequestStatus(request);
    bool bootloader = false;
    if (status != kCVNUsbSuccess && allowBootloader && isBootloaderMode(bootloader) && bootloader)
        return;
    if (status != kCVNUsbSuccess)
        throw VornOSRPC::Exception(failureText("IFACE_VR_APP_COMMON_PROTOCOL_VERSION", status));
    Platform::ByteReader(bytes, sizeof bytes).u16(0, &m_protocolVersion);
}

StreamingXmegaUSBDevice::~StreamingXmegaUSBDevice() = default;

void StreamingXmegaUSBDevice::checkProtocol() const
{
    if (m_protocolVersion != kSupportedProtocol)
        throw VornOSRPC::IncompatiableProtocolException();
}

bool StreamingXmegaUSBDevice::checked(CVNUsbStatus status, const char* name) const
{
    if (status == kCVNUsbSuccess)
        return true;
    if (status == kCVNUsbPipeStalled)
        return false;
    throw VornOSRPC::Exception(failureText(name, status));
}

bool StreamingXmegaUSBDevice::waitReady(uint32_t timeoutMs)
{
    checkProtocol();
    const uint32_t reads = timeoutMs == 0 ? 1 : (timeoutMs + kReadyPollMs - 1) / kReadyPollMs;
    for (uint32_t i = 0; i < reads; ++i) {
        if (i)
            clock().sleep(kReadyPollMs);
        uint8_t ready = 0;
        if (!vendorIn(kReady, &ready, 1))
            return false;
        if (ready)
            return true;
    }
    return false;
}

bool StreamingXmegaUSBDevice::start()
{
    checkProtocol();
    return vendorOut(kStreamEnable, 1);
}

bool StreamingXmegaUSBDevice::stop()
{
    checkProtocol();
    return vendorOut(kStreamEnable, 0);
}

void StreamingXmegaUSBDevice::setTimeout(uint32_t ms)
{
    m_readTimeoutMs = ms;
}

uint16_t StreamingXmegaUSBDevice::productId()
{
    uint16_t id = 0;
    if (!getProductId(id))
        throw VornOSRPC::Exception("Failed to retrieve Product Id");
    return id;
}

uint16_t StreamingXmegaUSBDevice::vendorId()
{
    uint16_t id = 0;
    if (!getVendorId(id))
        throw VornOSRPC::Exception("Failed to retrieve Vendor Id");
    return id;
}

std::wstring StreamingXmegaUSBDevice::identifier()
{
    return std::wstring();
}

bool StreamingXmegaUSBDevice::writeTid(uint8_t tid)
{
    UsbControlRequest request;
    makeVendorOutRequest(request, kWriteTid);
    request.wValue = tid;
    return checked(sendControlRequestStatus(request), "IFACE_VR_STREAM_WRITE_TID");
}

bool StreamingXmegaUSBDevice::ackReadBuffer()
{
    UsbControlRequest request;
    makeVendorOutRequest(request, kAckReadBuffer);
    return checked(sendControlRequestStatus(request), "IFACE_VR_STREAM_ACK_READ_BUFFER");
}

bool StreamingXmegaUSBDevice::nackReadBuffer()
{
    UsbControlRequest request;
    makeVendorOutRequest(request, kNackReadBuffer);
    return checked(sendControlRequestStatus(request), "IFACE_VR_STREAM_NACK_READ_BUFFER");
}

bool StreamingXmegaUSBDevice::bufferStatus(bool& writeReady, bool& readReady, uint32_t& readLength,
                                           uint8_t& deviceTid)
{
    uint8_t bytes[7] = {};
    UsbControlRequest request;
    makeVendorInRequest(request, kBufferStatus);
    request.wLength = sizeof bytes;
    request.data = bytes;
    if (!checked(sendControlRequestStatus(request), "IFACE_VR_STREAM_BUFFER_STATUS"))
        return false;
    Platform::ByteReader r(bytes, sizeof bytes);
    uint8_t readFlag = 0, writeFlag = 0;
    r.u32(0, &readLength);
    r.u8(4, &readFlag);
    r.u8(5, &writeFlag);
    r.u8(6, &deviceTid);
    readReady = readFlag != 0;
    writeReady = writeFlag != 0;
    return true;
}

bool StreamingXmegaUSBDevice::writeStream(const std::vector<uint8_t>& message)
{
    // No read follows a failed write: the limit set for that read goes with it, however the
    // write ended.
    struct RestoreOnFailure
    {
        uint32_t& timeout;
        bool written = false;
        ~RestoreOnFailure()
        {
            if (!written)
                timeout = kDefaultReadTimeoutMs;
        }
    } restore{m_readTimeoutMs};
    restore.written = writeMessage(message);
    return restore.written;
}

bool StreamingXmegaUSBDevice::writeMessage(const std::vector<uint8_t>& message)
{
    checkProtocol();
    // The chunk index travels in the 16-bit wValue.
    if (message.empty() || message.size() > uint64_t(kMaxWriteChunk) * 0x10000) {
        qCWarning(lcUsbXmega, "message of %zu bytes refused", message.size());
        return false;
    }

    if (m_transactionId == 1) {
        bool found = false;
        for (int i = 0; i < kTidReads && !found; ++i) {
            if (i)
                clock().sleep(kRetryPauseMs);
            bool writeReady = false, readReady = false;
            uint32_t length = 0;
            uint8_t tid = 0;
            if (bufferStatus(writeReady, readReady, length, tid) && tid >= 1 && tid <= 14) {
                m_transactionId = tid;
                found = true;
            }
        }
        if (!found) {
            qCWarning(lcUsbXmega, "the unit gave no usable transaction id");
            return false;
        }
    }
    m_transactionId = m_transactionId >= 14 ? 2 : uint8_t(m_transactionId + 1);

    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (attempt)
            clock().sleep(kRetryPauseMs);
        if (writeAttempt(message))
            return true;
    }
    qCWarning(lcUsbXmega, "message of %zu bytes not taken after %d attempts", message.size(),
              kWriteAttempts);
    return false;
}

bool StreamingXmegaUSBDevice::writeAttempt(const std::vector<uint8_t>& message)
{
    if (!writeTid(m_transactionId))
        return false;
    size_t offset = 0;
    for (uint32_t index = 0; offset < message.size(); ++index) {
        bool free = false;
        for (int poll = 0; poll < kBufferPolls && !free; ++poll) {
            if (poll)
                clock().sleep(kBufferPollMs);
            bool readReady = false;
            uint32_t length = 0;
            uint8_t tid = 0;
            if (!bufferStatus(free, readReady, length, tid))
                return false;
        }
        if (!free)
            return false;
        const size_t piece = std::min<size_t>(message.size() - offset, kMaxWriteChunk);
        UsbControlRequest request;
        makeVendorOutRequest(request, kWriteStream);
        request.wValue = uint16_t(index);
        request.wLength = uint16_t(piece);
        request.data = const_cast<uint8_t*>(message.data() + offset);
        if (!checked(sendControlRequestStatus(request), "IFACE_VR_STREAM_WRITE_STREAM"))
            return false;
        offset += piece;
    }
    return true;
}

bool StreamingXmegaUSBDevice::readStream(std::vector<uint8_t>& message)
{
    checkProtocol();
    const uint32_t limitMs = m_readTimeoutMs;
    // The limit set by setTimeout serves this read only, however it ends.
    struct Restore
    {
        uint32_t& timeout;
        ~Restore() { timeout = kDefaultReadTimeoutMs; }
    } restore{m_readTimeoutMs};
    return readMessage(message, limitMs);
}

bool StreamingXmegaUSBDevice::readMessage(std::vector<uint8_t>& message, uint32_t limitMs)
{
    StreamChunkAssembler assembler;
    std::vector<uint8_t> chunk;
    const auto read = clock().pollUntil(limitMs == 0 ? WaitClock::kForever : limitMs, kBufferPollMs,
                                        [&] { return readChunk(assembler, chunk, message); });
    if (read == WaitClock::PollResult::TimedOut)
        throw VornOSRPC::RequestTimedOutException();
    return read == WaitClock::PollResult::Ready;
}

WaitClock::Poll StreamingXmegaUSBDevice::readChunk(StreamChunkAssembler& assembler,
                                                   std::vector<uint8_t>& chunk,
                                                   std::vector<uint8_t>& message)
{
    bool ready = false;
    uint32_t length = 0;
    for (int poll = 0; poll < kBufferPolls && !ready; ++poll) {
        if (poll)
            clock().sleep(kBufferPollMs);
        bool writeReady = false;
        uint8_t tid = 0;
        if (!bufferStatus(writeReady, ready, length, tid))
            return WaitClock::Poll::Failed;
    }

    bool refuse = !ready;
    if (ready) {
        if (length < StreamChunkAssembler::kHeaderSize) {
            qCWarning(lcUsbXmega, "reply chunk of %u bytes is shorter than its header", length);
            return WaitClock::Poll::Failed;
        }
        // wLength is 16 bits: a longer chunk cannot be read as announced.
        refuse = length > kMaxReadChunk;
    }
    if (!refuse) {
        chunk.assign(length, 0);
        UsbControlRequest request;
        makeVendorInRequest(request, kReadStream);
        request.wLength = uint16_t(length);
        request.data = chunk.data();
        const CVNUsbStatus status = sendControlRequestStatus(request);
        if (status != kCVNUsbSuccess && status != kCVNUsbPipeStalled)
            throw VornOSRPC::Exception(failureText("IFACE_VR_STREAM_READ_STREAM", status));
        refuse = status != kCVNUsbSuccess ||
                 assembler.check(chunk.data(), chunk.size()) != StreamChunkAssembler::NeedMore ||
                 !ackReadBuffer();
    }
    if (refuse) {
        nackReadBuffer();
        assembler.reset();
        // A unit that keeps offering what is refused must not be polled flat out.
        return WaitClock::Poll::Again;
    }
    switch (assembler.append(chunk.data(), chunk.size())) {
    case StreamChunkAssembler::Complete:
        message = assembler.takeMessage();
        return WaitClock::Poll::Ready;
    case StreamChunkAssembler::NeedMore:
        return WaitClock::Poll::AgainAtOnce;
    default:
        qCWarning(lcUsbXmega, "the unit sent more reply than it announced");
        return WaitClock::Poll::Failed;
    }
}
