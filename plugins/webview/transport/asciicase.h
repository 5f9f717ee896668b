#pragma once

#include <QByteArray>

namespace BlockProtocol {

// Same length and equal under ASCII tolower; bytes above 0x7f compare exactly.
bool equalsIgnoringAsciiCase(const QByteArray& a, const QByteArray& b);

} // namespace BlockProtocol
