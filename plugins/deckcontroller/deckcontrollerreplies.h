#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the deck controller tells that needs parsing: its release text and the boot header at
// the start of a flash bank. Plain code over bytes and text, no device.
class DeckControllerReplies
{
public:
    // Zynq-7000 boot header: identification word and header checksum over words 8 to 17.
    static constexpr uint32_t kBootHeaderIdOffset = 0x24;
    static constexpr uint32_t kBootHeaderId = 0x584C4E58;
    static constexpr uint32_t kBootHeaderSumOffset = 0x20;
    static constexpr uint32_t kBootHeaderSumWords = 10;
    static constexpr uint32_t kBootHeaderChecksumOffset = 0x48;
    static constexpr uint32_t kBootHeaderSize = kBootHeaderChecksumOffset + 4;

    // "VERSION:7.1" and "7.1" give 1: the low byte of the number after the one separator.
    static bool parseReleaseId(const std::string& text, uint16_t& out);
    // Whether bytes start with a boot header whose identification word and checksum hold.
    static bool isValidBootHeader(const uint8_t* bytes, size_t size);
};
