#include "plugins/webview/transport/block.h"

namespace BlockProtocol {

Block::Block(const QByteArray& name)
    : m_textLength(uint64_t(name.size()))
    , m_name(name)
{
}

void Block::setName(const QByteArray& name)
{
    m_textLength = m_textLength - uint64_t(m_name.size()) + uint64_t(name.size());
    m_name = name;
}

void Block::addField(const QByteArray& key, const QByteArray& value)
{
    m_textLength += uint64_t(key.size()) + uint64_t(value.size());
    m_fields.emplace_back(key, value);
}

void Block::clear()
{
    m_fields.clear();
    m_textLength = uint64_t(m_name.size());
}

} // namespace BlockProtocol
