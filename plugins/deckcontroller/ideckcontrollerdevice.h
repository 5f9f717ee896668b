#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// One connected deck controller as the plug-in sees it. Operations report failure by their
// result and never throw; progress is a fraction from 0.0 to 1.0, -1.0 while none is known.
class IDeckControllerDevice
{
public:
    class Delegate
    {
    public:
        virtual ~Delegate() = default;
        virtual void unitNameChanged() = 0;
    };

    using Progress = std::function<void(float)>;

    virtual ~IDeckControllerDevice() = default;

    virtual bool getProductId(uint16_t& out) = 0;
    virtual bool getReleaseId(uint16_t& out) = 0;
    virtual bool getUniqueId(std::string& out) = 0;
    virtual bool isRecovery() = 0;
    virtual uint8_t getApplicationState() = 0;
    virtual bool isFirmwareCurrent() = 0;
    virtual bool isFirmwareCompatible() = 0;
    virtual bool getFirmwareString(std::string& out) = 0;
    virtual bool getReleaseString(std::string& out) = 0;
    virtual bool getUnitName(std::string& out) = 0;
    virtual bool setUnitName(const std::string& name) = 0;
    virtual bool flushSettings() = 0;
    virtual bool writeXmegaFirmware(const uint8_t* data, uint32_t size) = 0;
    virtual bool beginUpdate() = 0;
    virtual bool program(uint8_t target, uint32_t address, const uint8_t* data, uint32_t size,
                         Progress progress) = 0;
    virtual bool writeImage(const uint8_t* data, uint32_t size, Progress progress) = 0;
    virtual bool endUpdate() = 0;
    virtual bool reboot() = 0;

    // Attached by whoever shows the unit; read by operations on any thread.
    void setDelegate(Delegate* delegate) { m_delegate.store(delegate); }
    Delegate* delegate() const { return m_delegate.load(); }

private:
    std::atomic<Delegate*> m_delegate{nullptr};
};
