#pragma once

#include <QByteArray>

namespace BlockProtocol {

// Same length and equal under ASCII tolower; bytes above 0x7f compare exactly.
bool equalsIgnoringAsciiCase(const QByteArray& a, const QByteArray& b);

// C isspace in the C locale, whatever the process locale is.
inline bool isAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace BlockProtocol
