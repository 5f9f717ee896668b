#include "plugins/webview/transport/blockparser.h"

#include "plugins/webview/transport/asciicase.h"

#include <algorithm>
#include <cstring>

namespace BlockProtocol {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

QByteArray leftTrimmed(const QByteArray& text)
{
    qsizetype i = 0;
    while (i < text.size() && isAsciiSpace(text.at(i)))
        ++i;
    return text.mid(i);
}

QByteArray rightTrimmed(const QByteArray& text)
{
    qsizetype n = text.size();
    while (n > 0 && isAsciiSpace(text.at(n - 1)))
        --n;
    return text.left(n);
}

void addFieldLine(Block& block, const QByteArray& line)
{
    switch (block.format()) {
    case Block::KeyValue: {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return;
        block.addField(rightTrimmed(line.left(colon)), leftTrimmed(line.mid(colon + 1)));
        return;
    }
    case Block::Numbered: {
        qsizetype digits = 0;
        while (digits < line.size() && isDigit(line.at(digits)))
            ++digits;
        if (digits == line.size()) {
            block.addField({}, {});
            return;
        }
        if (digits == 0 || !isAsciiSpace(line.at(digits)))
            return;
        block.addField(line.left(digits), leftTrimmed(line.mid(digits + 1)));
        return;
    }
    case Block::Lines:
        block.addField({}, line);
        return;
    case Block::NoFields:
        return;
    }
}

} // namespace

void ParserState::overflow()
{
    m_overflowed = true;
    m_carry.clear();
    m_block = Block();
    m_mode = BetweenBlocks;
}

void ParserState::handleLine(QByteArray line, const HeaderMatcher& matcher,
                             std::vector<Block>& blocks, bool& ended)
{
    if (line.isEmpty()) {
        if (m_mode == InBlock) {
            blocks.push_back(std::move(m_block));
            m_block = Block();
        }
        if (m_mode != BetweenBlocks)
            ended = true;
        m_mode = BetweenBlocks;
        m_blockLength = 0;
        return;
    }
    switch (m_mode) {
    case BetweenBlocks: {
        // Only a header's colon is syntax; in a field line it may belong to the value.
        const bool hadColon = line.endsWith(':');
        if (hadColon)
            line.chop(1);
        Block::Format format = Block::KeyValue;
        if (matcher && matcher(line, hadColon, format)) {
            m_block = Block(line);
            m_block.setFormat(format);
            m_mode = InBlock;
        } else {
            m_mode = SkippingBlock;
        }
        return;
    }
    case InBlock:
        addFieldLine(m_block, line);
        return;
    case SkippingBlock:
        return;
    }
}

bool parseBlocks(ParserState& state, const char* data, qsizetype size, const HeaderMatcher& matcher,
                 std::vector<Block>& blocks)
{
    if (state.m_overflowed || size <= 0)
        return false;
    bool ended = false;
    qsizetype lineStart = 0;
    while (lineStart < size) {
        const void* found = std::memchr(data + lineStart, '\n', size_t(size - lineStart));
        if (!found)
            break;
        const qsizetype end = static_cast<const char*>(found) - data;
        const qsizetype rawLength = state.m_carry.size() + (end - lineStart);
        if (rawLength > kMaxLineLength) {
            state.overflow();
            return ended;
        }
        QByteArray line = state.m_carry;
        line.append(data + lineStart, end - lineStart);
        state.m_carry.clear();
        lineStart = end + 1;
        line = line.trimmed();
        if (!line.isEmpty() || state.m_mode != ParserState::BetweenBlocks) {
            state.m_blockLength += rawLength + 1;
            if (state.m_blockLength > kMaxBlockLength) {
                state.overflow();
                return ended;
            }
        }
        state.handleLine(std::move(line), matcher, blocks, ended);
    }
    const qsizetype tail = size - lineStart;
    if (state.m_carry.size() + tail > kMaxLineLength) {
        state.overflow();
        return ended;
    }
    state.m_carry.append(data + lineStart, tail);
    return ended;
}

bool parseBlocks(ParserState& state, const QByteArray& bytes, const HeaderMatcher& matcher,
                 std::vector<Block>& blocks)
{
    return parseBlocks(state, bytes.constData(), bytes.size(), matcher, blocks);
}

QByteArray serializeBlock(const Block& block)
{
    const uint64_t reserve = block.textLength() + 3 * (uint64_t(block.fields().size()) + 1);
    QByteArray out;
    out.reserve(qsizetype(std::min<uint64_t>(reserve, 1u << 30)));
    out += block.name();
    if (!block.name().endsWith(':'))
        out += ':';
    out += '\n';
    for (const Block::Field& field : block.fields()) {
        switch (block.format()) {
        case Block::KeyValue:
            out += field.first;
            if (!field.first.endsWith(':'))
                out += ':';
            out += ' ';
            out += field.second;
            break;
        case Block::Lines:
            out += field.second;
            break;
        case Block::Numbered:
        case Block::NoFields:
        default:
            out += field.first;
            out += ' ';
            out += field.second;
            break;
        }
        out += '\n';
    }
    out += '\n';
    return out;
}

} // namespace BlockProtocol
