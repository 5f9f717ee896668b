#pragma once

#include "simdevicefixture.h"

#include "platform/qtrecipient.h"
#include "sim/fx2/at25eeprom.h"
#include "sim/fx2/fx2blockflash.h"
#include "sim/fx2/fx2device.h"
#include "sim/fx2/fx2swdbridge.h"
#include "sim/fx2/lpctarget.h"
#include "usb/fx2/abstractusbdevice.h"
#include "usb/fx2/usbproductentry.h"

#include <memory>
#include <vector>

// A product class over the device base whose hooks tests set. Its hardware target is the
// mode value it enters the hardware-access mode with; its pauses only add up.
class TestFx2Device : public CVN::USB::AbstractUSBDevice
{
public:
    TestFx2Device(CVN::USB::IUSBDevice* device, const CVN::USB::USBProductEntry* entry);
    static CVN::USB::AbstractUSBDevice* create(CVN::USB::IUSBDevice* device,
                                               const CVN::USB::USBProductEntry* entry);

    uint32_t eraseMethod() override { return erase; }
    uint32_t writeMethod() override { return write; }
    uint32_t bootEepromFormat() override { return bootFormat; }
    bool bootConfigDisconnect() override { return disconnect; }
    bool hardwareAccessModeValue(uint8_t* value) override;

    uint32_t erase = 0;
    uint32_t write = 0;
    uint32_t bootFormat = 0;
    bool disconnect = false;
    uint64_t sleptMs = 0;
};

// Mode values the model's peripherals answer to.
enum Fx2Mode : uint8_t { kModeFlash = 0, kModeAt25 = 1, kModeSwd = 2 };

// One FX2 model on the bus with a block flash, an AT25 and an LPC target behind its SWD
// bridge, and a TestFx2Device made over the driver's device object.
struct Fx2Bench
{
    explicit Fx2Bench(bool firmwareRunning = true);
    ~Fx2Bench();

    // The USB device the driver reports for the model (the registration's reference).
    CVN::USB::IUSBDevice* usbDevice() const;
    // A new device object over it (reference count 1), not opened.
    TestFx2Device* makeDevice(const CVN::USB::USBProductEntry* entry = nullptr);
    // makeDevice, then open(); the bench releases it at the end.
    TestFx2Device* openDevice();

    // Requests that reached the model.
    std::vector<Sim::LogEntry> log() const;
    std::vector<Sim::LogEntry> controlRequests(uint8_t request) const;
    std::vector<Sim::LogEntry> bulkWrites() const;
    void clearLog();

    std::shared_ptr<Sim::Fx2Device> model;
    std::shared_ptr<Sim::Fx2BlockFlash> flash;
    std::shared_ptr<Sim::At25Eeprom> at25;
    std::shared_ptr<Sim::LpcTarget> lpc;
    std::shared_ptr<Sim::Fx2SwdBridge> swd;
    Sim::DeviceId id = 0;
    DeviceCollector collector;
    CVN::USB::NotificationRegistration* registration = nullptr;
    TestFx2Device* device = nullptr;
};

// A registration that reports to a collector through a Qt recipient, as a family's
// window would; unregistered when it goes.
struct WatchedRegistration
{
    WatchedRegistration();
    ~WatchedRegistration();

    DeviceCollector collector;
    Platform::QtRecipient window;
    CVN::USB::NotificationRegistration* registration = nullptr;
};

// One RAM image record: length, address (high byte first), type, data, checksum.
std::vector<uint8_t> fx2Record(uint16_t address, const std::vector<uint8_t>& data,
                               uint8_t type = 0);
std::vector<uint8_t> fx2EndRecord();
std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts);
// Deterministic bytes for images.
std::vector<uint8_t> patternBytes(size_t size, uint32_t seed = 1);
