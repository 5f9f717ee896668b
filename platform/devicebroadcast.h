#pragma once

#include "platform/guid.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// The header block that a device-change message points to, and that a notification
// registration takes as its filter. Two kinds are used: a device interface (type 5: the
// class and the device path, as UTF-16 text) and a handle (type 6: an opened device).
struct DeviceBroadcast
{
    static constexpr uint32_t kDeviceInterface = 5;
    static constexpr uint32_t kHandle = 6;
    // Sizes of the filters passed to the registration.
    static constexpr uint32_t kInterfaceFilterSize = 32;
    static constexpr uint32_t kHandleFilterSize = 56;

    uint32_t type = 0;
    Guid classGuid;      // device interface only
    std::string name;    // device interface only; plain ASCII
    uint64_t handle = 0; // handle only

    // A device-interface header for a message (with the name) or a filter (empty name).
    static std::vector<uint8_t> encodeDeviceInterface(const Guid& classGuid,
                                                      const std::string& name);
    static std::vector<uint8_t> encodeHandle(uint64_t handle);

    // Reads a header of either kind. False for a block that is too short, whose size field
    // runs past the block, whose name is not terminated inside it or is not ASCII, or of
    // another type.
    static bool parse(const void* data, size_t size, DeviceBroadcast* out);
};

} // namespace Platform
