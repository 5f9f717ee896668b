#include "usb/xmega/deviceid.h"

#include <cstring>

DeviceId DeviceId::invalid()
{
    DeviceId id;
    id.bytes.fill(0xFF);
    return id;
}

DeviceId DeviceId::fromBytes(const uint8_t* data)
{
    DeviceId id;
    std::memcpy(id.bytes.data(), data, id.bytes.size());
    return id;
}

bool DeviceId::isValid() const
{
    return *this != invalid();
}

std::string DeviceId::toHex() const
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

bool DeviceId::operator<(const DeviceId& other) const
{
    return std::memcmp(bytes.data(), other.bytes.data(), bytes.size()) < 0;
}

bool DeviceId::operator==(const DeviceId& other) const
{
    return std::memcmp(bytes.data(), other.bytes.data(), 8) == 0 &&
           std::memcmp(bytes.data() + 8, other.bytes.data() + 8, 8) == 0;
}
