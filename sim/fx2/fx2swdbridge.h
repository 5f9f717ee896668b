#pragma once

#include "sim/fx2/fx2peripheral.h"
#include "sim/fx2/swdmemorybus.h"

#include <memory>
#include <mutex>

namespace Sim {

// The FX2 firmware's Serial Wire Debug bridge with an ARM debug port (ADIv5) and one
// memory access port behind it. Request 0xC0 writes and 0xC1 reads a register: wIndex is
// (APnDP << 8) | (address & 0xC), the value four bytes most significant first. Access port
// reads are posted (the value comes from RDBUFF); a failed memory access sets STICKYERR,
// and while it is set every access port access faults, until ABORT clears it. A fault
// stalls the request.
class Fx2SwdBridge : public Fx2Peripheral
{
public:
    static constexpr uint32_t kIdcode = 0x0BB11477;
    static constexpr uint32_t kStickyError = 1u << 5;

    explicit Fx2SwdBridge(std::shared_ptr<SwdMemoryBus> memory);

    uint32_t control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                     std::vector<uint8_t>* in) override;
    uint32_t bulkOut(const std::vector<uint8_t>& data) override;

    // Knobs.
    // Whether CTRL/STAT ever shows the power-up acknowledge (default yes); the access port
    // answers once power-up was requested either way.
    void setAcknowledgePowerUp(bool acknowledge);
    void setAccessPortIdr(uint32_t idr);
    void setCsw(uint32_t csw);
    // The n-th access port access from now faults (0: none).
    void failAccessPortAccess(int n);

    uint32_t csw() const;
    bool stickyError() const;
    int aborts() const;

private:
    bool debugPort(bool read, uint8_t address, uint32_t* value);
    bool accessPort(bool read, uint8_t address, uint32_t* value);

    mutable std::mutex m_mutex;
    std::shared_ptr<SwdMemoryBus> m_memory;
    uint32_t m_ctrlStat = 0;
    uint32_t m_select = 0;
    uint32_t m_rdbuff = 0;
    uint32_t m_tar = 0;
    uint32_t m_csw = 0x03000040;
    uint32_t m_idr = 0x24770011;
    bool m_acknowledge = true;
    int m_failAt = 0;
    int m_aborts = 0;
};

} // namespace Sim
