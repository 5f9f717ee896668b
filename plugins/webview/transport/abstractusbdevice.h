#pragma once

#include "plugins/webview/transport/abstractusbinterface.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace CVN {
namespace AbstractUSB {

// A USB device in the transports' USB model.
class AbstractUSBDevice
{
public:
    virtual ~AbstractUSBDevice() = default;
    virtual uint16_t vendorId() = 0;
    // Interfaces of this class and subclass (any protocol and alternate setting).
    virtual std::vector<std::unique_ptr<AbstractUSBInterface>> interfaces(uint8_t interfaceClass,
                                                                          uint8_t subclass) = 0;
    virtual std::vector<std::unique_ptr<AbstractUSBInterface>> interfaces() = 0;
    // The first interface of this class and subclass, or null.
    virtual std::unique_ptr<AbstractUSBInterface> openInterface(uint8_t interfaceClass,
                                                                uint8_t subclass) = 0;
};

} // namespace AbstractUSB
} // namespace CVN
