#pragma once

#include <cstddef>
#include <cstdint>

// The six bytes a DFU interface answers GETSTATUS with.
struct DfuStatus
{
    enum State : uint8_t {
        kAppIdle = 0,
        kAppDetach = 1,
        kDfuIdle = 2,
        kDnloadSync = 3,
        kDnBusy = 4,
        kDnloadIdle = 5,
        kManifestSync = 6,
        kManifest = 7,
        kManifestWaitReset = 8,
        kUploadIdle = 9,
        kDfuError = 10,
    };
    static constexpr size_t kSize = 6;

    uint8_t status = 0;         // bStatus, 0 OK
    uint32_t pollTimeoutMs = 0; // bwPollTimeout, 24 bits
    uint8_t state = 0;          // bState
    uint8_t stringIndex = 0;    // iString

    // False when fewer than kSize bytes arrived.
    static bool parse(const uint8_t* data, size_t size, DfuStatus* out);
};
