#pragma once

#include "usb/xmega/xmegausbdevice.h"

#include <cstdint>

// The XMEGA requests only the deck controller answers, on any XMEGA device object of the unit:
// the recovery probe (answered only while the unit's processor has no image to run), the
// status byte that tells a memory read is still being served, and the bulk memory read.
class DeckControllerXmegaRequests
{
public:
    enum Request : uint8_t {
        kRecoveryInfo = 0x00,    // vendor IN, 4 bytes: two u16
        kReadStatus = 0x30,      // vendor IN, 6 bytes: byte 3 is the read-status flag
        kBeginMemoryRead = 0x3A, // vendor OUT, 4 bytes: u32 address
        kEndMemoryRead = 0x3B,   // vendor OUT
    };

    static constexpr uint32_t kMemoryReadTimeoutMs = 7000;

    explicit DeckControllerXmegaRequests(XmegaUSBDevice& device)
        : m_device(device)
    {
    }

    bool getRecoveryInfo(uint16_t& first, uint16_t& second);
    bool getReadStatus(bool& busy);
    // Reads size bytes of the selected target from address over the XMEGA bulk IN pipe in
    // whole transfer units, telling progress (chunk, chunks) before each chunk and at the end.
    bool readMemoryBulk(uint32_t address, uint32_t size, uint8_t* buffer,
                        XmegaUSBDevice::ProgressCallback* progress = nullptr);

private:
    XmegaUSBDevice& m_device;
};
