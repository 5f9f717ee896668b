#include "plugins/deckcontroller/deckcontrollerreplies.h"

#include "platform/bytereader.h"

bool DeckControllerReplies::parseReleaseId(const std::string& text, uint16_t& out)
{
    static const std::string prefix = "VERSION:";
    size_t at = text.compare(0, prefix.size(), prefix) == 0 ? prefix.size() : 0;
    auto number = [&](uint32_t& value) {
        const size_t from = at;
        uint64_t v = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            v = v * 10 + uint32_t(text[at] - '0');
            if (v > 0xFFFFFFFFu)
                return false;
            ++at;
        }
        value = uint32_t(v);
        return at > from;
    };
    uint32_t major = 0, minor = 0;
    if (!number(major) || at >= text.size())
        return false;
    ++at; // one separator character
    if (!number(minor))
        return false;
    out = uint16_t(minor & 0xFF);
    return true;
}

bool DeckControllerReplies::isValidBootHeader(const uint8_t* bytes, size_t size)
{
    Platform::ByteReader r(bytes, size);
    uint32_t id = 0, checksum = 0;
    if (!r.u32(kBootHeaderIdOffset, &id) || id != kBootHeaderId ||
        !r.u32(kBootHeaderChecksumOffset, &checksum))
        return false;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kBootHeaderSumWords; ++i) {
        uint32_t word = 0;
        r.u32(kBootHeaderSumOffset + 4 * i, &word);
        sum += word;
    }
    return checksum == ~sum;
}
