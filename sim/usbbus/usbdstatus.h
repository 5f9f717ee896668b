#pragma once

#include <cstdint>

namespace Sim {

// Status words a device request ends with, as the driver reports them to the host.
namespace Usbd {
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kStall = 0xC0000004;
constexpr uint32_t kDeviceNotResponding = 0xC0000005;
constexpr uint32_t kInvalidParameter = 0x80000300;
constexpr uint32_t kInvalidPipeHandle = 0x80000600;
constexpr uint32_t kInsufficientResources = 0xC0001000;
constexpr uint32_t kInterfaceNotFound = 0xC0004000;
constexpr uint32_t kTimeout = 0xC0006000;
constexpr uint32_t kDeviceGone = 0xC0007000;
constexpr uint32_t kCanceled = 0xC0010000;
} // namespace Usbd

} // namespace Sim
