#pragma once

#include "sim/usbbus/simpleusbdevice.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace Sim {

// The simulated unit's boot loader: it announces its block size, takes a download start and
// numbered blocks into an image, and an empty block closes the download.
class XmegaBootLoader
{
public:
    // Installs a handler that answers only while the unit runs its boot loader.
    using Install = std::function<void(uint8_t requestType, uint8_t request,
                                       SimpleUsbDevice::ControlHandler handler)>;
    void install(const Install& boot);

    void setBlockSize(uint32_t size);
    std::vector<uint8_t> image() const;
    bool downloadDone() const;
    std::vector<uint16_t> blockIndexes() const;
    // A reboot drops a download in progress.
    void rebooted();

private:
    mutable std::mutex m_mutex;
    uint32_t m_blockSize = 256;
    bool m_started = false;
    bool m_done = false;
    std::vector<uint8_t> m_image;
    std::vector<uint16_t> m_blocks;
};

} // namespace Sim
