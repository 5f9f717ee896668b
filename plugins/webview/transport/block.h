#pragma once

#include <QByteArray>

#include <cstdint>
#include <utility>
#include <vector>

namespace BlockProtocol {

// One text block: a header line naming it, field lines, and an empty line ending it.
class Block
{
public:
    enum Format : int32_t { KeyValue = 0, Numbered = 1, Lines = 2, NoFields = 3 };
    using Field = std::pair<QByteArray, QByteArray>;

    Block() = default;
    explicit Block(const QByteArray& name);

    const QByteArray& name() const { return m_name; }
    void setName(const QByteArray& name);

    const std::vector<Field>& fields() const { return m_fields; }
    void addField(const QByteArray& key, const QByteArray& value);

    Format format() const { return m_format; }
    void setFormat(Format format) { m_format = format; }

    // Drops the fields and keeps the name.
    void clear();

    // Name plus every key and value; only sizes the serializer's output.
    uint64_t textLength() const { return m_textLength; }

private:
    uint64_t m_textLength = 0;
    QByteArray m_name;
    std::vector<Field> m_fields;
    Format m_format = KeyValue;
};

} // namespace BlockProtocol
