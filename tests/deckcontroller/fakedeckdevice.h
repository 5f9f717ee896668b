#pragma once

#include "plugins/deckcontroller/deckcontrollerusbconnection.h"
#include "plugins/deckcontroller/ideckcontrollerdevice.h"
#include "plugins/deckcontroller/visibledeckcontroller.h"

#include <memory>
#include <string>

// A deck controller whose answers a test sets, counting the questions it is asked.
class FakeDeckDevice : public IDeckControllerDevice
{
public:
    bool answers = true; // identity and texts can be read
    uint8_t applicationState = 3;
    bool recovery = false;
    bool current = true;
    bool compatible = true;
    std::string unitName = "Alder";
    std::string release = "7.1";
    int applicationStateCalls = 0;
    int recoveryCalls = 0;
    int flushes = 0;
    int reboots = 0;
    std::string lastName;

    bool getProductId(uint16_t& out) override
    {
        out = 0xBE32;
        return answers;
    }
    bool getReleaseId(uint16_t& out) override
    {
        out = 0x0701;
        return answers;
    }
    bool getUniqueId(std::string& out) override
    {
        out = "dec00001420102030405060708090a0b";
        return answers;
    }
    bool isRecovery() override
    {
        ++recoveryCalls;
        return recovery;
    }
    uint8_t getApplicationState() override
    {
        ++applicationStateCalls;
        return applicationState;
    }
    bool isFirmwareCurrent() override { return current; }
    bool isFirmwareCompatible() override { return compatible; }
    bool getFirmwareString(std::string& out) override
    {
        out = "XMEGA:0x7f6403e6\nCPU:0xc0fb1f17\nFPGA:0x00000000";
        return answers;
    }
    bool getReleaseString(std::string& out) override
    {
        out = release;
        return answers;
    }
    bool getUnitName(std::string& out) override
    {
        out = unitName;
        return answers;
    }
    bool setUnitName(const std::string& name) override
    {
        lastName = name;
        unitName = name;
        return answers;
    }
    bool flushSettings() override
    {
        ++flushes;
        return answers;
    }
    bool writeXmegaFirmware(const uint8_t*, uint32_t) override { return false; }
    bool beginUpdate() override { return false; }
    bool program(uint8_t, uint32_t, const uint8_t*, uint32_t, Progress) override { return false; }
    bool writeImage(const uint8_t*, uint32_t, Progress) override { return false; }
    bool endUpdate() override { return false; }
    bool reboot() override
    {
        ++reboots;
        return true;
    }
};

// A visible deck controller over a fake device, with the USB connection (or none).
class FakeVisibleDeckController : public VisibleDeckController
{
public:
    explicit FakeVisibleDeckController(Family* owner = nullptr, bool withDevice = true,
                                       bool usb = true)
        : VisibleDeckController(owner)
        , m_usb(usb)
    {
        if (withDevice)
            fake = std::make_unique<FakeDeckDevice>();
    }

    // Made after the device settings a test wants for the first poll.
    void connect() { m_connection = std::make_unique<DeckControllerUSBConnection>(this); }

    IDeckControllerDevice* device() override { return fake.get(); }
    DeckControllerConnection* connection() override { return m_connection.get(); }
    bool isUsbDevice() override { return m_usb; }
    DeckControllerUSBConnection* usbConnection() const { return m_connection.get(); }

    std::unique_ptr<FakeDeckDevice> fake;

private:
    bool m_usb;
    std::unique_ptr<DeckControllerUSBConnection> m_connection;
};
