#include "plugins/webview/transport/asciicase.h"

namespace BlockProtocol {

namespace {
char toLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
} // namespace

bool equalsIgnoringAsciiCase(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (toLower(a.at(i)) != toLower(b.at(i)))
            return false;
    }
    return true;
}

} // namespace BlockProtocol
