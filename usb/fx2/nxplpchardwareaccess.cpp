#include "usb/fx2/nxplpchardwareaccess.h"

#include "usb/fx2/abstractusbdevice.h"

#include <algorithm>

namespace CVN {
namespace USB {

namespace {
constexpr uint32_t kDemcrCatchResetAndFaults = 0x01000511;
constexpr uint32_t kDemcrTraceEnable = 0x01000000;
constexpr uint32_t kAircrSystemReset = 0x05FA0004;
constexpr uint32_t kDwtWatchWrite = 6;
constexpr uint8_t kRegisterR0 = 0;
constexpr uint8_t kRegisterR1 = 1;
constexpr uint8_t kRegisterR8 = 8;
constexpr uint8_t kRegisterSp = 13;
constexpr uint8_t kRegisterPc = 15;

uint32_t comparator(uint32_t n, uint32_t offset)
{
    return ArmCortexMHardwareAccess::kDwtComparators + 16 * n + offset;
}
} // namespace

NxpLpcHardwareAccess::NxpLpcHardwareAccess(AbstractUSBDevice* device)
    : ArmCortexMHardwareAccess(device)
{
}

uint32_t NxpLpcHardwareAccess::pageSize()
{
    return kPageSize;
}

bool NxpLpcHardwareAccess::haltAfterBoot()
{
    uint32_t demcr = 0;
    uint32_t dwt = 0;
    if (!memoryWrite(kDhcsr, kDhcsrHalt) || !memoryWrite(kDemcr, kDemcrCatchResetAndFaults) ||
        !memoryWrite(kAircr, kAircrSystemReset) || !memoryRead(kDemcr, &demcr) ||
        !memoryWrite(kDemcr, demcr | kDemcrTraceEnable) || !memoryRead(kDemcr, &demcr) ||
        !memoryRead(kDwtCtrl, &dwt))
        return false;
    const uint32_t comparators = dwt >> 28;
    if (comparators < 2)
        return true;
    if (!memoryWrite(comparator(0, 0), kRemapRegisterA) || !memoryWrite(comparator(0, 4), 0) ||
        !memoryWrite(comparator(0, 8), kDwtWatchWrite) ||
        !memoryWrite(comparator(1, 0), kRemapRegisterB) || !memoryWrite(comparator(1, 4), 0) ||
        !memoryWrite(comparator(1, 8), kDwtWatchWrite))
        return false;
    if (comparators >= 3 && !memoryWrite(comparator(2, 8), 0))
        return false;
    if (comparators >= 4 && !memoryWrite(comparator(3, 8), 0))
        return false;
    if (!memoryWrite(kDhcsr, kDhcsrRun) || !waitForHalt(kBootHaltTimeout))
        return false;
    return memoryWrite(comparator(0, 8), 0) && memoryWrite(comparator(1, 8), 0) &&
           memoryWrite(kDhcsr, kDhcsrStep);
}

bool NxpLpcHardwareAccess::callIap(const uint32_t (&command)[5], uint32_t (&result)[5])
{
    if (!memoryWrite(kDhcsr, kDhcsrHalt) || !writeCoreRegister(kRegisterSp, kStackPointer) ||
        !memoryWrite(kCallStub, kCallStubCode) || !writeCoreRegister(kRegisterR8, kIapEntry) ||
        !writeCoreRegister(kRegisterR0, kCommandBlock) ||
        !writeCoreRegister(kRegisterR1, kResultBlock) || !writeCoreRegister(kRegisterPc, kCallStub))
        return false;
    for (uint32_t i = 0; i < 5; ++i) {
        if (!memoryWrite(kCommandBlock + 4 * i, command[i]))
            return false;
    }
    for (uint32_t i = 0; i < 5; ++i) {
        if (!memoryWrite(kResultBlock + 4 * i, 0))
            return false;
    }
    if (!memoryWrite(kDhcsr, kDhcsrRun) || !waitForHalt(kIapTimeout))
        return false;
    for (uint32_t i = 0; i < 5; ++i) {
        if (!memoryRead(kResultBlock + 4 * i, &result[i]))
            return false;
    }
    return true;
}

bool NxpLpcHardwareAccess::iapSucceeds(const uint32_t (&command)[5])
{
    uint32_t result[5] = {};
    return callIap(command, result) && result[0] == 0;
}

bool NxpLpcHardwareAccess::erase(uint32_t length)
{
    const uint32_t sectors = uint32_t((uint64_t(length) + kSectorSize - 1) / kSectorSize);
    if (sectors > kMaxSectors)
        return false;
    if (sectors == 0)
        return true;
    // An erase whose status reports an error has not erased.
    return iapSucceeds({kIapPrepare, 0, sectors - 1, 0, 0}) &&
           iapSucceeds({kIapErase, 0, sectors - 1, kCoreClockKHz, 0});
}

bool NxpLpcHardwareAccess::loadPageBuffer(const uint8_t* data, uint32_t length)
{
    if (!data || length > kPageSize)
        return false;
    uint8_t page[kPageSize] = {};
    std::copy(data, data + length, page);
    for (uint32_t i = 0; i < kPageSize / 4; ++i) {
        const uint8_t* p = page + 4 * i;
        const uint32_t word =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        if (!memoryWrite(kPageBuffer + 4 * i, word))
            return false;
    }
    return true;
}

bool NxpLpcHardwareAccess::eraseFlash(uint32_t length)
{
    if (!connect())
        return false;
    const bool erased = haltAfterBoot() && erase(length ? length : kMaxSectors * kSectorSize);
    const bool left = device()->leaveHardwareAccess();
    return erased && left;
}

bool NxpLpcHardwareAccess::beginProgramming(uint32_t length)
{
    if (connect() && haltAfterBoot() && erase(length)) {
        m_programming = true;
        m_nextFlashAddress = 0;
        return true;
    }
    if (device())
        device()->leaveHardwareAccess();
    return false;
}

bool NxpLpcHardwareAccess::writePage(const uint8_t* data, uint32_t length)
{
    if (!m_programming || !loadPageBuffer(data, length))
        return false;
    const uint32_t sector = m_nextFlashAddress / kSectorSize;
    if (!iapSucceeds({kIapPrepare, sector, sector, 0, 0}) ||
        !iapSucceeds(
            {kIapCopyRamToFlash, m_nextFlashAddress, kPageBuffer, kPageSize, kCoreClockKHz}))
        return false;
    m_nextFlashAddress += kPageSize;
    return true;
}

bool NxpLpcHardwareAccess::endProgramming()
{
    if (!m_programming)
        return false;
    m_programming = false;
    return device()->leaveHardwareAccess();
}

bool NxpLpcHardwareAccess::beginVerify()
{
    if (connect() && haltAfterBoot())
        return true;
    if (device())
        device()->leaveHardwareAccess();
    return false;
}

bool NxpLpcHardwareAccess::verifyPage(const uint8_t* data, uint32_t flashAddress, uint32_t length)
{
    // A compare whose status reports a difference has not verified.
    return loadPageBuffer(data, length) &&
           iapSucceeds({kIapCompare, flashAddress, kPageBuffer, kPageSize, 0});
}

bool NxpLpcHardwareAccess::endVerify()
{
    return device() && device()->leaveHardwareAccess();
}

} // namespace USB
} // namespace CVN
