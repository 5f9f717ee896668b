#pragma once

#include <cstddef>
#include <cstdint>

// The key that authenticates firmware packages. It is the first input of every package's digest
// and never appears in a package file; the package writer signs with the same bytes.
inline constexpr std::uint8_t kFirmwarePackageKey[] = {0x28, 0x1c, 0xdc, 0x2b, 0x24, 0x41, 0x7b,
                                                       0x6e, 0x43, 0xbd, 0xfd, 0x82, 0xe1, 0x82,
                                                       0x85, 0x35, 0x54, 0xf5, 0xdc, 0x7d};
inline constexpr std::size_t kFirmwarePackageKeyLength = sizeof(kFirmwarePackageKey);
static_assert(kFirmwarePackageKeyLength == 20, "the package key is 20 bytes");
