#pragma once

#include <string>

namespace CVN {
namespace USB {
class IUSBDevice;
}
} // namespace CVN

// The device's serial-number string (language 0x0409). Throws std::runtime_error "Unable to
// get Serial Number" when the device has none to give.
std::wstring serialNumber(CVN::USB::IUSBDevice* device);
