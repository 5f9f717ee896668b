#pragma once

#include "plugins/webview/transport/usbref.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/iusbinterface.h"

#include <cstdint>
#include <string>

// The key/value query of a recorder: class requests on its vendor interface (class 0xFF,
// subclass 3, protocol 0) that answer facts such as "BuildId", "ReleaseVersion" and
// "DeviceName". Failures throw std::runtime_error. One thread at a time.
class UsbQueryInterface
{
public:
    static constexpr uint8_t kInterfaceClass = 0xFF;
    static constexpr uint8_t kInterfaceSubclass = 3;
    static constexpr uint8_t kInterfaceProtocol = 0;
    static constexpr uint32_t kTimeoutMs = 10000;
    static constexpr uint16_t kMaxValueLength = 255;

    enum Request : uint8_t { kGetStatus = 0, kNewHandle = 1, kSetKey = 2, kGetValue = 3 };

    // Takes a reference on the device. Throws "Unable to create iterator", "Unable to find
    // interface" or "Unable to find associated functional descriptor".
    explicit UsbQueryInterface(CVN::USB::IUSBDevice* device);
    ~UsbQueryInterface();

    UsbQueryInterface(const UsbQueryInterface&) = delete;
    UsbQueryInterface& operator=(const UsbQueryInterface&) = delete;

    // The unit's status byte.
    uint8_t getStatus();
    // The value of a key: the text up to the first NUL, at most kMaxValueLength bytes.
    std::string query(const std::string& key);

    // Bits of the keys the unit answers; callers test theirs before they ask.
    uint32_t capabilities() const { return m_capabilities; }
    uint8_t interfaceNumber() const { return m_interfaceNumber; }

private:
    void get(Request request, uint16_t value, void* data, uint16_t length, uint32_t* transferred);
    void set(Request request, uint16_t value, const void* data, uint16_t length);

    WebViewUsb::UsbRef<CVN::USB::IUSBDevice> m_device;
    WebViewUsb::UsbRef<CVN::USB::IUSBInterface> m_interface;
    uint8_t m_interfaceNumber = 0;
    uint32_t m_capabilities = 0;
};
