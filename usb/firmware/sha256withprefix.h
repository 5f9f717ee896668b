#pragma once

#include <cstddef>
#include <cstdint>

// SHA-256 of key followed by data, in one pass and without joining the two; the working state is
// wiped afterwards. Returns false only when the digest could not be computed.
bool sha256WithPrefix(const std::uint8_t* key, std::size_t keyLength, const std::uint8_t* data,
                      std::size_t dataLength, std::uint8_t digest[32]);
