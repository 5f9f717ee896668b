#include "sim/fx2/lpctarget.h"

#include <algorithm>

namespace Sim {

namespace {
constexpr uint32_t kDhcsr = 0xE000EDF0;
constexpr uint32_t kDcrsr = 0xE000EDF4;
constexpr uint32_t kDcrdr = 0xE000EDF8;
constexpr uint32_t kDemcr = 0xE000EDFC;
constexpr uint32_t kAircr = 0xE000ED0C;
constexpr uint32_t kDwtCtrl = 0xE0001000;
constexpr uint32_t kDwtComparators = 0xE0001020;
constexpr uint32_t kDebugKey = 0xA05F0000;
constexpr uint32_t kAircrKey = 0x05FA0000;
constexpr uint32_t kWatchWrite = 6;
constexpr uint8_t kR0 = 0, kR1 = 1, kR8 = 8, kPc = 15;
// Where the boot ROM starts after a reset, and where it stands when its remap write is
// caught.
constexpr uint32_t kResetPc = 0x1FFF0080;
constexpr uint32_t kRemapWritePc = 0x1FFF00C4;

uint32_t word(const std::vector<uint8_t>& bytes, size_t at)
{
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}
} // namespace

LpcTarget::LpcTarget(uint32_t sectors, uint32_t ramSize)
    : m_flash(size_t(sectors) * kSectorSize, 0xFF)
    , m_ram(ramSize, 0)
    , m_prepared(sectors, false)
{
}

bool LpcTarget::inRam(uint32_t address, uint32_t length) const
{
    return address >= kRamBase && address - kRamBase <= m_ram.size() &&
           length <= m_ram.size() - (address - kRamBase);
}

bool LpcTarget::inFlash(uint32_t address, uint32_t length) const
{
    return address <= m_flash.size() && length <= m_flash.size() - address;
}

bool LpcTarget::ramWord(uint32_t address, uint32_t* value) const
{
    if (address % 4 || !inRam(address, 4))
        return false;
    *value = word(m_ram, address - kRamBase);
    return true;
}

uint32_t* LpcTarget::comparatorField(uint32_t address)
{
    if (address < kDwtComparators || address >= kDwtComparators + 16 * m_comparatorCount)
        return nullptr;
    const uint32_t n = (address - kDwtComparators) / 16;
    const uint32_t field = (address - kDwtComparators) % 16 / 4;
    // The fourth word of a comparator is reserved: reads 0, ignores writes.
    m_reservedWord = 0;
    return field < 3 ? &m_comparators[n][field] : &m_reservedWord;
}

bool LpcTarget::read32(uint32_t address, uint32_t* value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (address % 4)
        return false;
    if (inFlash(address, 4)) {
        *value = word(m_flash, address);
        return true;
    }
    if (ramWord(address, value))
        return true;
    switch (address) {
    case kDhcsr: {
        bool halted = m_halted;
        if (halted && m_haltIn > 0) {
            --m_haltIn;
            halted = false;
        }
        *value = (m_debugEnabled ? 1u : 0u) | (halted ? 1u << 17 : 0) |
                 (m_lockedUp ? 1u << 19 : 0) | 1u << 16;
        return true;
    }
    case kDcrdr:
        *value = m_dcrdr;
        return true;
    case kDemcr:
        *value = m_demcr;
        return true;
    case kAircr:
        *value = 0xFA050000;
        return true;
    case kDwtCtrl:
        *value = m_comparatorCount << 28;
        return true;
    default:
        break;
    }
    if (uint32_t* field = comparatorField(address)) {
        *value = *field;
        return true;
    }
    return false;
}

bool LpcTarget::write32(uint32_t address, uint32_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (address % 4)
        return false;
    if (inRam(address, 4)) {
        const size_t at = address - kRamBase;
        for (int i = 0; i < 4; ++i)
            m_ram[at + size_t(i)] = uint8_t(value >> (8 * i));
        return true;
    }
    switch (address) {
    case kDhcsr:
        if ((value & 0xFFFF0000) != kDebugKey)
            return true; // ignored without the key
        m_debugEnabled = value & 1;
        if (value & 2)
            haltNow();
        else if (m_debugEnabled && !(value & 4))
            run();
        // C_STEP alone: one instruction, then halted again.
        return true;
    case kDcrsr: {
        const uint32_t reg = value & 0x7F;
        if (reg >= m_core.size() || !m_halted)
            return true;
        if (value & 0x10000)
            m_core[reg] = m_dcrdr;
        else
            m_dcrdr = m_core[reg];
        return true;
    }
    case kDcrdr:
        m_dcrdr = value;
        return true;
    case kDemcr:
        m_demcr = value;
        return true;
    case kAircr:
        if ((value & 0xFFFF0000) == kAircrKey && (value & 4)) {
            ++m_resets;
            m_core.fill(0);
            m_lockedUp = false;
            m_haltIn = 0;
            std::fill(m_prepared.begin(), m_prepared.end(), false);
            // With the reset vector caught the core stops before the boot code.
            m_core[kPc] = kResetPc;
            m_halted = (m_demcr & 1) && m_debugEnabled;
        }
        return true;
    default:
        break;
    }
    if (uint32_t* field = comparatorField(address)) {
        *field = value;
        return true;
    }
    return false;
}

void LpcTarget::haltNow()
{
    m_halted = true;
    m_haltIn = 0;
}

void LpcTarget::run()
{
    if (!m_halted || m_lockedUp)
        return;
    m_halted = false;
    if (m_lockUpOnRun) {
        m_lockedUp = true;
        return;
    }
    if (m_neverHalts)
        return;
    if (m_core[kPc] == kResetPc) {
        for (uint32_t n = 0; n < m_comparatorCount; ++n) {
            if (m_comparators[n][0] == m_remapRegister && m_comparators[n][2] == kWatchWrite) {
                m_core[kPc] = kRemapWritePc;
                m_halted = true;
                m_haltIn = m_haltDelayReads;
                return;
            }
        }
        return; // into user code
    }
    uint32_t stub = 0;
    if (!ramWord(m_core[kPc] & ~1u, &stub) || stub != kStubCode) {
        return; // off into whatever is there
    }
    if (m_core[kR8] != kIapEntry) {
        m_lockedUp = true;
        return;
    }
    runIap();
    m_halted = true;
    m_haltIn = m_haltDelayReads;
}

void LpcTarget::runIap()
{
    std::array<uint32_t, 5> command{};
    std::array<uint32_t, 5> result{};
    for (uint32_t i = 0; i < 5; ++i) {
        if (!ramWord(m_core[kR0] + 4 * i, &command[i])) {
            m_lockedUp = true;
            return;
        }
    }
    m_iapCommands.push_back(command[0]);
    auto forced = m_forcedStatus.find(command[0]);
    result[0] = forced != m_forcedStatus.end() ? forced->second : iap(command, &result);
    for (uint32_t i = 0; i < 5; ++i) {
        const uint32_t address = m_core[kR1] + 4 * i;
        if (address % 4 || !inRam(address, 4)) {
            m_lockedUp = true;
            return;
        }
        for (int b = 0; b < 4; ++b)
            m_ram[address - kRamBase + size_t(b)] = uint8_t(result[i] >> (8 * b));
    }
}

bool LpcTarget::sectorsPrepared(uint32_t first, uint32_t last) const
{
    for (uint32_t s = first; s <= last; ++s) {
        if (!m_prepared[s])
            return false;
    }
    return true;
}

uint32_t LpcTarget::iap(const std::array<uint32_t, 5>& c, std::array<uint32_t, 5>* result)
{
    const uint32_t sectors = uint32_t(m_prepared.size());
    switch (c[0]) {
    case 50: // prepare sectors
        if (c[1] > c[2] || c[2] >= sectors)
            return kInvalidSector;
        for (uint32_t s = c[1]; s <= c[2]; ++s)
            m_prepared[s] = true;
        return kCmdSuccess;
    case 52: // erase sectors
        if (c[1] > c[2] || c[2] >= sectors)
            return kInvalidSector;
        if (!sectorsPrepared(c[1], c[2]))
            return kSectorNotPrepared;
        std::fill(m_flash.begin() + long(c[1] * kSectorSize),
                  m_flash.begin() + long((c[2] + 1) * kSectorSize), 0xFF);
        for (uint32_t s = c[1]; s <= c[2]; ++s)
            m_prepared[s] = false;
        return kCmdSuccess;
    case 51: { // copy RAM to flash
        const uint32_t dst = c[1], src = c[2], count = c[3];
        if (dst % 256)
            return kDstAddrError;
        if (src % 4)
            return kSrcAddrError;
        if (count != 256 && count != 512 && count != 1024 && count != 4096)
            return kCountError;
        if (!inRam(src, count))
            return kSrcAddrNotMapped;
        if (!inFlash(dst, count))
            return kDstAddrNotMapped;
        if (!sectorsPrepared(dst / kSectorSize, (dst + count - 1) / kSectorSize))
            return kSectorNotPrepared;
        for (uint32_t i = 0; i < count; ++i)
            m_flash[dst + i] &= m_ram[src - kRamBase + i];
        for (uint32_t s = dst / kSectorSize; s <= (dst + count - 1) / kSectorSize; ++s)
            m_prepared[s] = false;
        return kCmdSuccess;
    }
    case 56: { // compare
        const uint32_t dst = c[1], src = c[2], count = c[3];
        if (dst % 4)
            return kDstAddrError;
        if (src % 4)
            return kSrcAddrError;
        if (count % 4)
            return kCountError;
        if (!inFlash(dst, count))
            return kDstAddrNotMapped;
        if (!inRam(src, count))
            return kSrcAddrNotMapped;
        for (uint32_t i = 0; i < count; ++i) {
            if (m_flash[dst + i] != m_ram[src - kRamBase + i]) {
                (*result)[1] = i & ~3u;
                return kCompareError;
            }
        }
        return kCmdSuccess;
    }
    default:
        return kInvalidCommand;
    }
}

std::vector<uint8_t> LpcTarget::flash() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_flash;
}

void LpcTarget::setFlash(uint32_t address, const std::vector<uint8_t>& data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < data.size() && address + i < m_flash.size(); ++i)
        m_flash[address + i] = data[i];
}

bool LpcTarget::halted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_halted;
}

std::vector<uint32_t> LpcTarget::iapCommands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_iapCommands;
}

int LpcTarget::resets() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_resets;
}

void LpcTarget::setComparators(uint32_t count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_comparatorCount = std::min<uint32_t>(count, 4);
}

void LpcTarget::setRemapRegister(uint32_t address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_remapRegister = address;
}

void LpcTarget::forceIapStatus(uint32_t command, uint32_t status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_forcedStatus[command] = status;
}

void LpcTarget::setNeverHalts(bool never)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_neverHalts = never;
}

void LpcTarget::setHaltDelayReads(int reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_haltDelayReads = reads;
}

void LpcTarget::setLockUpOnRun(bool lockUp)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lockUpOnRun = lockUp;
}

} // namespace Sim
