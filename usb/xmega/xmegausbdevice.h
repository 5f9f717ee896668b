#pragma once

#include "usb/driver/cvnusbstatus.h"
#include "usb/driver/usbcontrolrequest.h"
#include "usb/driver/waitclock.h"
#include "usb/xmega/deviceid.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace CVN {
namespace USB {
class IUSBDevice;
class IUSBInterface;
} // namespace USB
} // namespace CVN

// A USB unit whose USB side is an XMEGA controller, driven by vendor requests on the default
// pipe (wIndex = the vendor interface) and one bulk OUT pipe for firmware downloads. Every
// operation answers false on the first failed transfer and writes its outputs only on
// success. No lock of its own: callers serialise their use of one unit.
class XmegaUSBDevice
{
public:
    class ProgressCallback
    {
    public:
        virtual ~ProgressCallback() = default;
        virtual void progress(uint32_t done, uint32_t total) = 0;
    };

    // Requests of the application and its boot loader.
    enum Request : uint8_t {
        kBootloaderBlockSize = 0x03,
        kBootloaderStart = 0x04,
        kBootloaderBlock = 0x05,
        kIdentity = 0x10,
        kChecksums = 0x11,
        kReboot = 0x12,
        kStatus = 0x30,
        kEnterUpdate = 0x31,
        kEndUpdate = 0x32,
        kSelectTarget = 0x34,
        kFlashGeometry = 0x35,
        kErasePages = 0x37,
        kEraseStatus = 0x38,
        kBulkDownload = 0x39,
        kSelectPage = 0x50,
        kWriteMemory = 0x52,
        kReadMemory = 0x53,
    };

    static constexpr uint32_t kRequestTimeoutMs = 5000;
    static constexpr uint32_t kBulkTimeoutMs = 10000;
    static constexpr uint32_t kMemoryPageSize = 65536;
    static constexpr uint32_t kBootloaderTransferSize = 2048;
    static constexpr uint32_t kDownloadChunk = 32768;
    // Pause between polls of a unit that reports busy, and how long it may stay busy.
    static constexpr uint32_t kBusyPollMs = 500;
    static constexpr uint32_t kIdlePollMs = 10;
    static constexpr uint32_t kBusyLimitMs = 120000;

    // Makes and opens the unit's object; null when any step fails.
    static std::shared_ptr<XmegaUSBDevice> create(CVN::USB::IUSBDevice* usbDevice);

    // Takes its own reference on the device; open() makes it usable.
    explicit XmegaUSBDevice(CVN::USB::IUSBDevice* usbDevice);
    virtual ~XmegaUSBDevice();

    XmegaUSBDevice(const XmegaUSBDevice&) = delete;
    XmegaUSBDevice& operator=(const XmegaUSBDevice&) = delete;

    bool open();
    bool openInterface();

    bool getVendorId(uint16_t& vendorId);
    bool getProductId(uint16_t& productId);
    bool isBootloaderMode(bool& bootloader);
    bool getUniqueId(DeviceId& id);
    bool getChecksums(uint32_t& first, uint32_t& second);
    bool rebootToApplication();
    bool rebootToBootloader();

    bool isBusy(bool& busy);
    // Enters update mode, first leaving a pending one and waiting until the unit has left it.
    bool waitIdleAndCommand();
    bool endUpdate();
    bool selectTarget(uint16_t target);
    // Fails when either size is 0: no download or erase can be computed from it.
    bool getFlashGeometry(uint32_t& erasePageSize, uint32_t& writeBlockSize,
                          uint64_t* info = nullptr);
    bool erasePages(uint32_t firstPage, uint32_t pageCount);
    // busy: the unit's pending count; span: end - start; current: pages done.
    bool getEraseStatus(uint16_t& busy, bool& flag, uint32_t& span, uint32_t& current);
    // Polls the erase status every kBusyPollMs while the unit is busy, telling progress
    // (current, span) each time; true when the erase ended with current == span.
    bool waitForErase(const std::function<void(uint32_t current, uint32_t span)>& progress = {});
    // Polls isBusy every kBusyPollMs until the unit is idle; false on failure or time-out.
    bool waitWhileBusy();

    bool readMemory(uint32_t address, uint32_t size, uint8_t* buffer);
    bool writeMemory(uint32_t address, uint32_t size, const uint8_t* buffer);
    bool transferMemory(uint32_t address, uint32_t size, uint8_t* buffer, uint8_t request);

    // Application-side download over the bulk pipe, from write block firstBlock on.
    bool bulkDownload(uint32_t firstBlock, uint32_t size, const uint8_t* data,
                      ProgressCallback* progress = nullptr);
    // Download through the boot loader's block protocol.
    bool downloadFirmware(uint32_t size, const uint8_t* data);

    void makeVendorInRequest(CVN::USB::UsbControlRequest& request, uint8_t bRequest) const;
    void makeVendorOutRequest(CVN::USB::UsbControlRequest& request, uint8_t bRequest) const;
    bool sendControlRequest(CVN::USB::UsbControlRequest& request);
    // The same, answering the transfer's status for callers that report it.
    CVN::USB::CVNUsbStatus sendControlRequestStatus(CVN::USB::UsbControlRequest& request);

    CVN::USB::IUSBDevice* usbDevice() const { return m_device; }
    CVN::USB::IUSBInterface* usbInterface() const { return m_interface; }
    uint8_t interfaceNumber() const { return m_interfaceNumber; }
    uint8_t bulkOutPipe() const { return m_outPipe; }
    uint16_t bulkOutPacketSize() const { return m_outPacketSize; }
    uint8_t bulkInPipe() const { return m_inPipe; }
    uint16_t bulkInPacketSize() const { return m_inPacketSize; }

    // A vendor IN request of length bytes into data, wValue 0.
    bool vendorIn(uint8_t bRequest, void* data, uint16_t length);
    // A vendor OUT request with wValue value and length bytes from data.
    bool vendorOut(uint8_t bRequest, uint16_t value, const void* data = nullptr,
                   uint16_t length = 0);

    // Tests shorten the waits; the product keeps the defaults.
    void setClock(std::shared_ptr<CVN::USB::WaitClock> clock);
    CVN::USB::WaitClock& clock() const { return *m_clock; }
    void setRequestTimeout(uint32_t ms) { m_requestTimeoutMs = ms; }
    uint32_t requestTimeout() const { return m_requestTimeoutMs; }
    // How long the waits for a busy unit last at most.
    void setBusyLimit(uint32_t ms) { m_busyLimitMs = ms; }

private:
    bool readStatus(uint8_t status[6]);
    bool readDeviceWord(CVN::USB::CVNUsbStatus (CVN::USB::IUSBDevice::*property)(uint16_t*),
                        uint16_t& value);
    void closeAll();

    CVN::USB::IUSBDevice* m_device = nullptr;
    CVN::USB::IUSBInterface* m_interface = nullptr;
    uint8_t m_interfaceNumber = 0;
    uint8_t m_outPipe = 0;
    uint16_t m_outPacketSize = 0;
    uint8_t m_inPipe = 0;
    uint16_t m_inPacketSize = 0;
    int32_t m_selectedPage = -1;
    bool m_deviceOpen = false;
    uint32_t m_requestTimeoutMs = kRequestTimeoutMs;
    uint32_t m_busyLimitMs = kBusyLimitMs;
    std::shared_ptr<CVN::USB::WaitClock> m_clock;
};
