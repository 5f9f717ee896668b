#include "usb/fx2/fx2firmwareimage.h"

namespace CVN {
namespace USB {

Fx2FirmwareImage::Fx2FirmwareImage(const uint8_t* image, uint64_t size)
    : m_image(image)
    , m_size(image ? size : 0)
{
}

bool Fx2FirmwareImage::next(Walk walk, Record* record)
{
    if (m_done || m_malformed)
        return false;
    if (m_offset >= m_size) {
        m_done = true;
        return false;
    }
    const uint64_t left = m_size - m_offset;
    if (left < kHeaderSize) {
        m_malformed = true;
        return false;
    }
    const uint8_t* p = m_image + m_offset;
    if (walk == ToEndRecord && p[3] != 0) {
        m_done = true;
        return false;
    }
    // The data must be there; a missing checksum byte of the last record is harmless
    // because nothing reads it.
    if (left - kHeaderSize < p[0]) {
        m_malformed = true;
        return false;
    }
    record->length = p[0];
    record->address = uint16_t(p[1] << 8 | p[2]);
    record->type = p[3];
    record->data = p + kHeaderSize;
    m_offset += p[0] + kRecordOverhead;
    return true;
}

bool Fx2FirmwareImage::isWellFormed(const uint8_t* image, uint64_t size, Walk walk)
{
    Fx2FirmwareImage reader(image, size);
    Record r;
    while (reader.next(walk, &r)) {
    }
    return !reader.malformed();
}

uint64_t Fx2FirmwareImage::bootImageSize(const uint8_t* image, uint64_t size)
{
    Fx2FirmwareImage reader(image, size);
    Record r;
    uint64_t total = 8 + 5;
    while (reader.next(ToImageEnd, &r)) {
        if (r.length != 0 && r.type == 0)
            total += r.length + 4u;
    }
    return reader.malformed() ? 0 : total;
}

} // namespace USB
} // namespace CVN
