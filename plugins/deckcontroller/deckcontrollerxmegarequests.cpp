#include "plugins/deckcontroller/deckcontrollerxmegarequests.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"
#include "usb/driver/iusbinterface.h"

#include <algorithm>

using namespace CVN::USB;

bool DeckControllerXmegaRequests::getRecoveryInfo(uint16_t& first, uint16_t& second)
{
    uint8_t bytes[4] = {};
    if (!m_device.vendorIn(kRecoveryInfo, bytes, sizeof bytes))
        return false;
    Platform::ByteReader r(bytes, sizeof bytes);
    r.u16(0, &first);
    r.u16(2, &second);
    return true;
}

bool DeckControllerXmegaRequests::getReadStatus(bool& busy)
{
    uint8_t status[6] = {};
    if (!m_device.vendorIn(kReadStatus, status, sizeof status))
        return false;
    busy = status[3] != 0;
    return true;
}

bool DeckControllerXmegaRequests::readMemoryBulk(uint32_t address, uint32_t size, uint8_t* buffer,
                                                 XmegaUSBDevice::ProgressCallback* progress)
{
    IUSBInterface* interface = m_device.usbInterface();
    if (!buffer || !interface)
        return false;
    uint8_t start[4] = {};
    Platform::ByteWriter(start, sizeof start).u32(0, address);
    if (!m_device.vendorOut(kBeginMemoryRead, 0, start, sizeof start))
        return false;

    // A geometry with a zero erase unit or transfer unit is refused by the layer below.
    uint32_t eraseUnit = 0, unit = 0;
    if (!m_device.getFlashGeometry(eraseUnit, unit))
        return false;
    const uint64_t packet = m_device.bulkInPacketSize();
    if (packet == 0)
        return false;
    const uint64_t rounded = (uint64_t(unit) + packet - 1) / packet * packet;
    if (rounded % unit != 0 || rounded > XmegaUSBDevice::kDownloadChunk)
        return false;
    const uint32_t chunk =
        XmegaUSBDevice::kDownloadChunk - uint32_t(XmegaUSBDevice::kDownloadChunk % rounded);
    const uint32_t chunks = uint32_t((uint64_t(size) + chunk - 1) / chunk);

    uint32_t index = 0;
    for (uint64_t done = 0; done < size; done += chunk, ++index) {
        if (progress)
            progress->progress(index, chunks);
        const uint32_t want = uint32_t(std::min<uint64_t>(chunk, size - done));
        uint32_t got = want;
        if (interface->readPipe(m_device.bulkInPipe(), buffer + done, &got, kMemoryReadTimeoutMs,
                                kMemoryReadTimeoutMs) != kCVNUsbSuccess ||
            got != want)
            return false;
    }
    if (progress)
        progress->progress(chunks, chunks);
    return m_device.vendorOut(kEndMemoryRead, 0);
}
