#pragma once

#include "plugins/webview/transport/abstractusbdevice.h"

namespace CVN {
namespace USB {
class IUSBDevice;
}

namespace AbstractUSB {
namespace CVNUSB {

// The transports' USB device over a device of the USB layer.
class CVNUSBDevice final : public AbstractUSBDevice
{
public:
    // Takes its own reference on the device.
    explicit CVNUSBDevice(CVN::USB::IUSBDevice* device);
    ~CVNUSBDevice() override;

    CVNUSBDevice(const CVNUSBDevice&) = delete;
    CVNUSBDevice& operator=(const CVNUSBDevice&) = delete;

    uint16_t vendorId() override;
    std::vector<std::unique_ptr<AbstractUSBInterface>> interfaces(uint8_t interfaceClass,
                                                                  uint8_t subclass) override;
    std::vector<std::unique_ptr<AbstractUSBInterface>> interfaces() override;
    std::unique_ptr<AbstractUSBInterface> openInterface(uint8_t interfaceClass,
                                                        uint8_t subclass) override;

private:
    std::vector<std::unique_ptr<AbstractUSBInterface>> find(uint16_t interfaceClass,
                                                            uint16_t subclass);

    CVN::USB::IUSBDevice* m_device;
};

} // namespace CVNUSB
} // namespace AbstractUSB
} // namespace CVN
