// Parses arbitrary device-change header blocks.
#include "platform/devicebroadcast.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto* copy = new uint8_t[size ? size : 1];
    if (size)
        std::memcpy(copy, data, size);
    Platform::DeviceBroadcast header;
    if (Platform::DeviceBroadcast::parse(copy, size, &header)
        && header.type == Platform::DeviceBroadcast::kDeviceInterface) {
        // What parses must survive a round trip.
        auto again = Platform::DeviceBroadcast::encodeDeviceInterface(header.classGuid,
                                                                      header.name);
        Platform::DeviceBroadcast second;
        if (!Platform::DeviceBroadcast::parse(again.data(), again.size(), &second)
            || second.name != header.name)
            __builtin_trap();
    }
    delete[] copy;
    return 0;
}
