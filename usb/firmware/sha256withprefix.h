#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// SHA-256 of key followed by data, in one pass and without joining the two; the working state is
// wiped afterwards. Returns false only when the digest could not be computed.
bool sha256WithPrefix(const std::uint8_t* key, std::size_t keyLength, const std::uint8_t* data,
                      std::size_t dataLength, std::uint8_t digest[32]);

// The same over data that arrives piece by piece, so that each piece is hashed while it is still
// in the cache: next() points at the next piece and returns its length, 0 after the last one,
// or -1 when the data cannot be had (then the result is false).
using Sha256Pieces = std::function<std::int64_t(const std::uint8_t** piece)>;
bool sha256WithPrefix(const std::uint8_t* key, std::size_t keyLength, const Sha256Pieces& next,
                      std::uint8_t digest[32]);
