#pragma once

#include "plugins/webview/transport/dfufunctionaldescriptor.h"
#include "plugins/webview/transport/dfustatus.h"
#include "plugins/webview/transport/usbref.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/iusbinterface.h"
#include "usb/driver/waitclock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Drives the USB Device Firmware Upgrade class (DFU 1.1) on a recorder's DFU interface
// (class 0xFE, subclass 1): brings the device to dfuIDLE and downloads an image. Failures
// throw std::runtime_error with a line-feed-ended text; a failed final (empty) download
// block throws std::system_error with std::errc::timed_out, since the device may already be
// resetting.
class DFUInterface
{
public:
    static constexpr uint8_t kInterfaceClass = 0xFE;
    static constexpr uint8_t kInterfaceSubclass = 1;

    enum Request : uint8_t {
        kDetach = 0,
        kDnload = 1,
        kGetStatus = 3,
        kClrStatus = 4,
        kAbort = 6,
    };

    static constexpr uint16_t kDetachWaitMs = 1000; // wValue of DETACH
    static constexpr uint32_t kDnloadTimeoutMs = 15000;
    static constexpr uint32_t kFinalDnloadTimeoutMs = 30000;
    static constexpr uint32_t kGetStatusTimeoutMs = 10000;
    // The device's bwPollTimeout is honoured up to this per pause (it may claim hours).
    static constexpr uint32_t kMaxPollPauseMs = 5000;
    // How long one block's status poll may take, and the manifestation.
    static constexpr uint64_t kBlockPollLimitMs = 60000;
    static constexpr uint64_t kManifestPollLimitMs = 120000;

    // (bytes sent, total) after every block.
    using ProgressCallback = std::function<void(uint64_t sent, uint64_t total)>;

    // Takes a reference on the device. Throws "Unable to create iterator", "Unable to find
    // interface" or "Unable to find associated functional descriptor".
    explicit DFUInterface(CVN::USB::IUSBDevice* device);
    ~DFUInterface();

    DFUInterface(const DFUInterface&) = delete;
    DFUInterface& operator=(const DFUInterface&) = delete;

    // True when the device is in dfuIDLE. False when it ran its application and was told to
    // detach: it re-enumerates in its boot loader (told to by a USB reset when it does not
    // detach by itself), and the caller waits for it there.
    bool enterIdle();
    // Downloads the image block by block and completes the manifestation.
    void download(const std::vector<uint8_t>& image, const ProgressCallback& progress = {});
    void download(const uint8_t* image, size_t size, const ProgressCallback& progress = {});

    // Every wait ends with an error once *cancelled is set.
    void setCancelFlag(const std::atomic<bool>* cancelled) { m_cancelled = cancelled; }
    // Tests shorten the pauses; the product keeps the system clock.
    void setClock(std::shared_ptr<CVN::USB::WaitClock> clock);

    const DfuFunctionalDescriptor& functionalDescriptor() const { return m_descriptor; }
    uint16_t interfaceNumber() const { return m_interfaceNumber; }
    uint16_t transferSize() const { return m_descriptor.transferSize; }

    DfuStatus getStatus();

private:
    void request(Request request, uint16_t value, void* data, uint16_t length, uint32_t timeoutMs,
                 const char* failure);
    void resetDevice();

    WebViewUsb::UsbRef<CVN::USB::IUSBDevice> m_device;
    WebViewUsb::UsbRef<CVN::USB::IUSBInterface> m_interface;
    std::shared_ptr<CVN::USB::WaitClock> m_clock;
    const std::atomic<bool>* m_cancelled = nullptr;
    uint16_t m_interfaceNumber = 0;
    DfuFunctionalDescriptor m_descriptor;
    bool m_opened = false;
};
