#pragma once

#include <cstdint>
#include <string>

// Numbers in DNS-SD TXT values, read as the standard integer conversion does (leading blanks,
// an optional "0x" for hexadecimal, trailing text ignored). Throw std::invalid_argument when
// no number starts the text and std::out_of_range when it does not fit 16 bits unsigned.
uint16_t txtHexadecimal16(const std::string& text);
uint16_t txtDecimal16(const std::string& text);
