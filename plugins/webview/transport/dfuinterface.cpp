#include "plugins/webview/transport/dfuinterface.h"

#include "plugins/webview/transport/polltimer.h"
#include "plugins/webview/transport/usbcontrolrequestbuilder.h"
#include "plugins/webview/transport/usbinterfacefinder.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

using namespace CVN::USB;
using WebViewUsb::Direction;
using WebViewUsb::PollTimer;

namespace {

const char* const kNotIdle = "Device not in DFU idle mode!\n";

// Why a poll loop ended without its state.
[[noreturn]] void pollFailed(const PollTimer& poll, const char* what)
{
    if (poll.isCancelled())
        throw std::runtime_error("DFU transfer cancelled\n");
    throw std::runtime_error(std::string("Device did not finish ") + what + " in time\n");
}

} // namespace

DFUInterface::DFUInterface(IUSBDevice* device)
    : m_device(WebViewUsb::UsbRef<IUSBDevice>::share(device))
    , m_clock(WaitClock::system())
{
    m_interface = WebViewUsb::findInterface(device, kInterfaceClass, kInterfaceSubclass);
    uint8_t number = 0;
    if (m_interface->interfaceNumber(&number) != kCVNUsbSuccess)
        throw std::runtime_error("Couldn't get interface number");
    m_interfaceNumber = number;
    const uint8_t* descriptor = m_interface->findClassDescriptor(DfuFunctionalDescriptor::kType, 0);
    if (!DfuFunctionalDescriptor::parse(descriptor, &m_descriptor))
        throw std::runtime_error("Unable to find associated functional descriptor");
}

DFUInterface::~DFUInterface()
{
    if (m_opened)
        m_interface->close();
}

void DFUInterface::setClock(std::shared_ptr<WaitClock> clock)
{
    m_clock = clock ? std::move(clock) : WaitClock::system();
}

void DFUInterface::request(Request request, uint16_t value, void* data, uint16_t length,
                           uint32_t timeoutMs, const char* failure)
{
    const Direction direction = request == kGetStatus ? Direction::In : Direction::Out;
    uint32_t transferred = 0;
    if (WebViewUsb::sendInterfaceRequest(m_device.get(), direction, uint8_t(m_interfaceNumber),
                                         request, value, data, length, timeoutMs,
                                         &transferred) != kCVNUsbSuccess ||
        (direction == Direction::In && transferred < length))
        throw std::runtime_error(failure);
}

DfuStatus DFUInterface::getStatus()
{
    uint8_t bytes[DfuStatus::kSize] = {};
    request(kGetStatus, 0, bytes, sizeof bytes, kGetStatusTimeoutMs,
            "Failed to send status request\n");
    DfuStatus status;
    DfuStatus::parse(bytes, sizeof bytes, &status);
    return status;
}

void DFUInterface::resetDevice()
{
    if (m_device->resetDevice() != kCVNUsbSuccess)
        throw std::runtime_error("Failed to perform USB reset!\n");
}

bool DFUInterface::enterIdle()
{
    if (!m_opened) {
        if (m_interface->open() != kCVNUsbSuccess)
            throw std::runtime_error("Failed to open usb interface\n");
        m_opened = true;
    }
    const DfuStatus status = getStatus();
    switch (status.state) {
    case DfuStatus::kAppIdle:
    case DfuStatus::kAppDetach:
        request(kDetach, kDetachWaitMs, nullptr, 0, m_descriptor.detachTimeoutMs,
                "Failed to send detach request\n");
        // A device that does not detach by itself waits for a USB reset to do so.
        if (!m_descriptor.willDetach)
            resetDevice();
        return false;
    case DfuStatus::kDnloadIdle:
    case DfuStatus::kUploadIdle:
        request(kAbort, 0, nullptr, 0, 0, "Failed to send abort request\n");
        break;
    default:
        if (status.status != 0)
            request(kClrStatus, 0, nullptr, 0, 0, "Failed to send 'clear DFU status' request\n");
        break;
    }
    if (getStatus().state != DfuStatus::kDfuIdle)
        throw std::runtime_error(kNotIdle);
    return true;
}

void DFUInterface::download(const std::vector<uint8_t>& image, const ProgressCallback& progress)
{
    download(image.data(), image.size(), progress);
}

void DFUInterface::download(const uint8_t* image, size_t size, const ProgressCallback& progress)
{
    if (getStatus().state != DfuStatus::kDfuIdle)
        throw std::runtime_error(kNotIdle);
    if (m_descriptor.transferSize == 0)
        throw std::runtime_error("Device reports a transfer size of 0\n");
    // wValue numbers the blocks; the empty block that ends the download takes one more.
    if (size / m_descriptor.transferSize >= 0xFFFF)
        throw std::runtime_error("Image too large for the device's transfer size\n");

    uint16_t block = 0;
    size_t sent = 0;
    while (sent < size) {
        if (m_cancelled && m_cancelled->load())
            throw std::runtime_error("DFU transfer cancelled\n");
        const uint16_t length = uint16_t(std::min<size_t>(size - sent, m_descriptor.transferSize));
        request(kDnload, block, const_cast<uint8_t*>(image + sent), length, kDnloadTimeoutMs,
                "Failed to send dnload request\n");
        PollTimer poll(m_clock, kBlockPollLimitMs, kMaxPollPauseMs, m_cancelled);
        DfuStatus status = getStatus();
        while (status.state != DfuStatus::kDnloadIdle) {
            if (status.state == DfuStatus::kDfuError)
                throw std::runtime_error("Device returned error from dnload request!\n");
            if (!poll.pause(status.pollTimeoutMs))
                pollFailed(poll, "the download block");
            status = getStatus();
        }
        if (status.status != 0)
            throw std::runtime_error("Device returned error during download!\n");
        sent += length;
        ++block;
        if (progress)
            progress(sent, size);
    }

    if (WebViewUsb::sendInterfaceRequest(m_device.get(), Direction::Out, uint8_t(m_interfaceNumber),
                                         kDnload, block, nullptr, 0,
                                         kFinalDnloadTimeoutMs) != kCVNUsbSuccess)
        throw std::system_error(std::make_error_code(std::errc::timed_out),
                                "Failed to send dnload request\n");
    if (!m_descriptor.manifestationTolerant)
        return;

    PollTimer poll(m_clock, kManifestPollLimitMs, kMaxPollPauseMs, m_cancelled);
    for (;;) {
        const DfuStatus status = getStatus();
        if (status.state == DfuStatus::kDfuIdle)
            return;
        if (status.state == DfuStatus::kManifestWaitReset) {
            resetDevice();
            return;
        }
        if (status.state == DfuStatus::kDfuError)
            throw std::runtime_error("Device returned error during manifestation!\n");
        if (!poll.pause(status.pollTimeoutMs))
            pollFailed(poll, "the manifestation");
    }
}
