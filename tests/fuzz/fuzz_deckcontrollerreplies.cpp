// What a deck controller tells that is parsed: its release text and a flash bank's boot
// header. Input: the bytes, used as both.
#include "plugins/deckcontroller/deckcontrollerreplies.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint16_t id = 0;
    DeckControllerReplies::parseReleaseId(std::string(reinterpret_cast<const char*>(data), size),
                                          id);
    DeckControllerReplies::isValidBootHeader(data, size);
    DeckControllerReplies::isValidBootHeader(size ? data : nullptr, size);
    return 0;
}
