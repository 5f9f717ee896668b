#pragma once

#include "sim/xmega/xmegabootloader.h"
#include "sim/xmega/xmegafaults.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace Sim {

// The application's programmer: flash targets (erase sets 0xFF, writes AND into what is
// there), update mode, a paced erase with its status, and downloads over the bulk OUT pipe,
// with status polls that stay busy for a while after each write.
class XmegaProgrammer
{
public:
    struct Target
    {
        uint32_t erasePageSize = 512;
        uint32_t writeBlockSize = 64;
        std::vector<uint8_t> bytes;
    };

    // Installs the programming requests as application requests.
    void install(const XmegaBootLoader::Install& app);
    // Takes one bulk OUT packet of a download; answers its USBD status.
    uint32_t download(const std::vector<uint8_t>& data);
    void setFaults(const XmegaFaults& faults);
    // A restart leaves update mode and ends an erase, write or download under way.
    void rebooted();
    // Whether a download has written into a target since the last call.
    bool takeWritten();

    void addTarget(uint16_t target, uint32_t size, uint32_t erasePageSize, uint32_t writeBlockSize);
    Target target(uint16_t target) const;
    void setTargetBytes(uint16_t target, std::vector<uint8_t> bytes);
    void overrideGeometry(uint32_t erasePageSize, uint32_t writeBlockSize);
    void setErasePolls(int polls);
    void setBusyPolls(int polls);
    void stayBusy(int polls);
    bool inUpdateMode() const;

private:
    mutable std::mutex m_mutex;
    bool m_stuckInUpdateMode = false;
    bool m_eraseError = false;
    std::map<uint16_t, Target> m_targets;
    uint16_t m_selected = 0;
    bool m_updateMode = false;
    bool m_geometryOverride = false;
    uint32_t m_overrideErase = 0;
    uint32_t m_overrideWrite = 0;
    int m_erasePolls = 2;
    int m_busyPolls = 1;
    int m_busyLeft = 0;
    uint32_t m_eraseStart = 0;
    uint32_t m_eraseEnd = 0;
    uint32_t m_eraseDone = 0;
    int m_erasePollsLeft = 0;
    uint64_t m_downloadAddress = 0;
    bool m_downloading = false;
    bool m_written = false;
};

} // namespace Sim
