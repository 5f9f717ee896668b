#include "txtnumber.h"

#include <stdexcept>

namespace {

uint16_t toU16(const std::string& text, int base)
{
    const long value = std::stol(text, nullptr, base);
    // A negative text would otherwise wrap to a plausible id.
    if (value < 0 || value > 0xFFFF)
        throw std::out_of_range("stoi argument out of range");
    return uint16_t(value);
}

} // namespace

uint16_t txtHexadecimal16(const std::string& text)
{
    return toU16(text, 16);
}

uint16_t txtDecimal16(const std::string& text)
{
    return toU16(text, 10);
}
