#pragma once

#include "plugins/webview/transport/block.h"

#include <QByteArray>

#include <functional>
#include <vector>

namespace BlockProtocol {

// A peer may not make us hold more than this of one line or one block.
constexpr qsizetype kMaxLineLength = 16 * 1024;
constexpr qsizetype kMaxBlockLength = 256 * 1024;

// Decides whether a header starts a block we read, and how its field lines are read.
using HeaderMatcher =
    std::function<bool(const QByteArray& header, bool hadColon, Block::Format& format)>;

// What one connection's parser carries from one chunk of bytes to the next.
class ParserState
{
public:
    // Set once the peer went past a line or block limit; the conversation cannot go on.
    bool overflowed() const { return m_overflowed; }

private:
    friend bool parseBlocks(ParserState&, const char*, qsizetype, const HeaderMatcher&,
                            std::vector<Block>&);
    enum Mode { BetweenBlocks, InBlock, SkippingBlock };

    void handleLine(QByteArray line, const HeaderMatcher& matcher, std::vector<Block>& blocks,
                    bool& ended);
    void overflow();

    Mode m_mode = BetweenBlocks;
    QByteArray m_carry;
    Block m_block;
    qsizetype m_blockLength = 0;
    bool m_overflowed = false;
};

// Feeds one chunk of received bytes; completed blocks are appended to blocks. True when at
// least one block (read or skipped) ended in this chunk.
bool parseBlocks(ParserState& state, const char* data, qsizetype size, const HeaderMatcher& matcher,
                 std::vector<Block>& blocks);
bool parseBlocks(ParserState& state, const QByteArray& bytes, const HeaderMatcher& matcher,
                 std::vector<Block>& blocks);

QByteArray serializeBlock(const Block& block);

} // namespace BlockProtocol
