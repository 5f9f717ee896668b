#pragma once

#include <cstddef>
#include <cstdint>

namespace CVN {
namespace USB {

// Walks the records of an FX2 RAM image: u8 data length N, u16 load address (high byte
// first), u8 type (0 data, anything else the end record), N data bytes and a checksum byte
// that is carried but not examined. Records follow each other at a stride of N + 5. Every
// record is checked against the image's size before any of it is handed out.
class Fx2FirmwareImage
{
public:
    struct Record
    {
        uint8_t length = 0;
        uint16_t address = 0;
        uint8_t type = 0;
        const uint8_t* data = nullptr;
    };

    enum Walk {
        ToEndRecord, // stop at the first record whose type is not 0 (the RAM loader)
        ToImageEnd,  // walk every record to the image's length (the boot-image writer)
    };

    Fx2FirmwareImage(const uint8_t* image, uint64_t size);

    // The record at the cursor, then moves past it. False at the end of the walk (done())
    // or at a record whose header or data run past the image (malformed()).
    bool next(Walk walk, Record* record);
    bool malformed() const { return m_malformed; }
    bool done() const { return m_done; }

    // Whether the walk gets to its end without a record running past the image.
    static bool isWellFormed(const uint8_t* image, uint64_t size, Walk walk);
    // Bytes of the 0xC2 boot image that the records make: the 8-byte header, an entry of
    // N + 4 bytes per data record of non-zero length and the 5-byte closing entry; 0 when
    // the image is malformed.
    static uint64_t bootImageSize(const uint8_t* image, uint64_t size);

    static constexpr size_t kHeaderSize = 4;
    static constexpr size_t kRecordOverhead = 5;

private:
    const uint8_t* m_image;
    uint64_t m_size;
    uint64_t m_offset = 0;
    bool m_malformed = false;
    bool m_done = false;
};

} // namespace USB
} // namespace CVN
