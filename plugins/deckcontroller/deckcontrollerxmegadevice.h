#pragma once

#include "plugins/deckcontroller/ideckcontrollerdevice.h"
#include "usb/driver/waitclock.h"
#include "usb/xmega/qtxmegausbdevice.h"
#include "usb/xmega/xmegausbdevice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace VornOSRPC {
class RpcDevice;
}

// The deck controller "Kestrel Alder Control" (USB product 0xBE32): XMEGA vendor requests for
// identity, update mode and flash, and the unit's "DeviceAccess" and "Settings" RPC services
// over its stream, opened anew for every operation. Every request goes to the device object
// the notifier's registry holds for the unit's unique id now, so a unit that re-enumerated is
// reached again. Operations that name themselves report a caught exception on the standard
// error stream and answer false; failed control requests answer false silently.
//
// Operations may run on the GUI thread and on an updater thread at once; nothing serialises
// them beyond the RPC layer's request mutex. The flash operations block and must not run on
// the thread that handles the notifier's device changes.
class DeckControllerXmegaDevice : public IDeckControllerDevice
{
public:
    using Handle = QtXmegaUSBDevice<XmegaUSBDevice>;

    static constexpr uint16_t kProductId = 0xBE32;
    // The processor's flash image is kept twice, in two banks of the image target.
    static constexpr uint32_t kBankSize = 0x40000;
    static constexpr uint32_t kBankA = 0;
    static constexpr uint32_t kBankB = 0x40000;
    static constexpr uint8_t kImageTarget = 0;

    static constexpr uint32_t kServiceOpenTimeoutMs = 500;
    static constexpr uint32_t kReadyTimeoutMs = 100;
    // Erase progress, busy and read-status polls: every kPollMs for at most kPollLimitMs.
    static constexpr uint32_t kPollMs = 500;
    static constexpr uint32_t kPollLimitMs = 120000;
    // How long a rebooting unit may take to come back, and the wait's slack beyond the
    // registry's own reboot timer.
    static constexpr int kRebootTimeoutMs = 5000;
    static constexpr uint32_t kRebootSlackMs = 2000;

    // Throws std::runtime_error "Unsupported product\n" for any unit other than 0xBE32.
    explicit DeckControllerXmegaDevice(const Handle& handle);
    ~DeckControllerXmegaDevice() override;

    bool getProductId(uint16_t& out) override;
    bool getReleaseId(uint16_t& out) override;
    bool getUniqueId(std::string& out) override;
    bool isRecovery() override;
    uint8_t getApplicationState() override;
    bool isFirmwareCurrent() override;
    bool isFirmwareCompatible() override;
    bool getFirmwareString(std::string& out) override;
    bool getReleaseString(std::string& out) override;
    bool getUnitName(std::string& out) override;
    bool setUnitName(const std::string& name) override;
    bool flushSettings() override;
    bool writeXmegaFirmware(const uint8_t* data, uint32_t size) override;
    bool beginUpdate() override;
    bool program(uint8_t target, uint32_t address, const uint8_t* data, uint32_t size,
                 Progress progress) override;
    bool writeImage(const uint8_t* data, uint32_t size, Progress progress) override;
    bool endUpdate() override;
    bool reboot() override;

    // Probes whether the unit runs its recovery firmware; does nothing while no delegate is
    // attached. False when the probe itself failed.
    bool poll();

    // Tests shorten the waits; the product keeps the system clock. Set before use.
    void setClock(std::shared_ptr<CVN::USB::WaitClock> clock);

private:
    enum class Poll { Again, Done, Failed };

    std::shared_ptr<XmegaUSBDevice> usb();
    std::shared_ptr<VornOSRPC::RpcDevice> rpcDevice();
    template<class F, class R> R reported(const char* operation, R failed, F&& body);

    bool pollUntil(const std::function<Poll()>& check);
    // Polls a status flag of the unit until it is clear.
    bool waitWhile(bool (*flag)(XmegaUSBDevice& device, bool& set));
    bool waitIdle();
    bool waitReadClear();
    bool waitErase(const std::function<void(uint32_t done, uint32_t total)>& progress);
    bool rebootAndWait(bool toBootloader, int timeoutMs);

    // Reads size bytes from address (whole pages, then whole packets) into out.
    bool readRegion(uint32_t address, uint32_t size, std::vector<uint8_t>& out);
    // Writes whole pages at address and waits until the unit is idle.
    bool writePages(uint32_t address, const uint8_t* data, uint32_t size);
    bool bankHasBootHeader(uint32_t address);
    bool bankEquals(uint32_t address, const std::vector<uint8_t>& image);
    bool writeBank(uint32_t address, const std::vector<uint8_t>& image, const Progress& progress,
                   float base);

    Handle m_handle;
    uint16_t m_productId = 0;
    std::atomic<bool> m_recovery{false};
    uint32_t m_pageSize = 0;
    uint32_t m_eraseUnitSize = 0;
    uint32_t m_bankSize = kBankSize;
    uint32_t m_bankA = kBankA;
    uint32_t m_bankB = kBankB;
    uint8_t m_target = kImageTarget;
    std::shared_ptr<CVN::USB::WaitClock> m_clock;
};
