#pragma once

#include <QByteArray>

#include <cstdint>
#include <initializer_list>
#include <vector>

// Big-endian words, the way settings blocks are written on the wire.
inline QByteArray beWords(std::initializer_list<quint32> words)
{
    QByteArray bytes;
    for (quint32 word : words) {
        bytes.append(char(word >> 24));
        bytes.append(char(word >> 16));
        bytes.append(char(word >> 8));
        bytes.append(char(word));
    }
    return bytes;
}

// An exactly sized heap copy, so the address sanitizer sees a read one byte past the end.
inline std::vector<std::uint8_t> exact(const QByteArray& bytes)
{
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}
