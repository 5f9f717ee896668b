// Feeds arbitrary bytes to the block parser in chunks and whole, and checks that the cut makes no
// difference, that blocks keep their text length, and that the FIRMWARE UPDATE handler copes.
#include "plugins/webview/transport/blockparser.h"
#include "plugins/webview/transport/firmwareupdateblock.h"

#include <cstdint>
#include <cstdlib>

using BlockProtocol::Block;

namespace {

// The header's first byte picks the format and whether a colon is needed.
bool matcher(const QByteArray& header, bool hadColon, Block::Format& format)
{
    if (header.isEmpty())
        return false;
    const auto first = uint8_t(header.at(0));
    format = Block::Format(first & 3);
    return hadColon || (first & 4);
}

bool sameBlocks(const std::vector<Block>& a, const std::vector<Block>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name() != b[i].name() || a[i].format() != b[i].format() ||
            a[i].fields() != b[i].fields())
            return false;
    }
    return true;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const qsizetype step = data[0] % 23 + 1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const qsizetype length = qsizetype(size - 1);

    BlockProtocol::ParserState whole;
    std::vector<Block> wholeBlocks;
    BlockProtocol::parseBlocks(whole, text, length, matcher, wholeBlocks);

    BlockProtocol::ParserState chunked;
    std::vector<Block> chunkedBlocks;
    for (qsizetype at = 0; at < length; at += step)
        BlockProtocol::parseBlocks(chunked, text + at, std::min(step, length - at), matcher,
                                   chunkedBlocks);
    check(sameBlocks(wholeBlocks, chunkedBlocks));
    check(whole.overflowed() == chunked.overflowed());

    const auto description = Protocols::FirmwareUpdate::blockDescription(
        [](uint16_t) {}, [](Protocols::FirmwareUpdate::Status) {});
    for (Block& block : wholeBlocks) {
        uint64_t expected = uint64_t(block.name().size());
        for (const Block::Field& field : block.fields()) {
            expected += uint64_t(field.first.size()) + uint64_t(field.second.size());
            uint16_t port = 0;
            Protocols::FirmwareUpdate::portFromString(field.second, port);
        }
        check(block.textLength() == expected);
        check(BlockProtocol::serializeBlock(block).endsWith("\n\n"));
        description.handler(block, {}, BlockProtocol::ClientInfo());
    }
    return 0;
}
