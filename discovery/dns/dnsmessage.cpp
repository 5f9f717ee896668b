#include "discovery/dns/dnsmessage.h"

#include "discovery/dns/dnsreader.h"

#include <sstream>

namespace {

constexpr uint16_t kRecursionDesired = 0x0100;
constexpr uint16_t kTypePtr = 12;
constexpr uint16_t kClassIn = 1;
constexpr size_t kHeaderLength = 12;

void putU16(std::vector<unsigned char>& out, size_t at, uint16_t value)
{
    out[at] = uint8_t(value >> 8);
    out[at + 1] = uint8_t(value);
}

} // namespace

std::vector<std::string> splitString(const std::string& text, char delimiter)
{
    std::vector<std::string> parts;
    std::istringstream stream(text);
    std::string part;
    while (std::getline(stream, part, delimiter))
        parts.push_back(part);
    return parts;
}

unsigned encodeDnsName(const std::string& text, unsigned char* out)
{
    unsigned written = 0;
    for (const std::string& part : splitString(text, '.')) {
        out[written++] = uint8_t(part.size());
        for (char c : part)
            out[written++] = uint8_t(c);
    }
    out[written++] = 0;
    return written;
}

bool isEncodableDnsName(const std::string& text)
{
    const std::vector<std::string> parts = splitString(text, '.');
    if (parts.empty())
        return false;
    size_t wireLength = 1;
    for (const std::string& part : parts) {
        if (part.empty() || part.size() > 63)
            return false;
        wireLength += 1 + part.size();
    }
    return wireLength <= DnsReader::kMaxNameLength;
}

bool readName(const unsigned char* message, size_t length, unsigned* position, std::string& out)
{
    DnsReader reader(message, length, *position, length);
    if (!reader.readName(&out))
        return false;
    *position = unsigned(reader.position());
    return true;
}

std::vector<unsigned char> encodePtrQuery(uint16_t id, const std::string& serviceType)
{
    if (!isEncodableDnsName(serviceType))
        return {};
    // Room for the header, the question's type and class and the name (text length + 2).
    std::vector<unsigned char> message(kHeaderLength + serviceType.size() + 2 + 4, 0);
    putU16(message, 0, id);
    putU16(message, 2, kRecursionDesired);
    putU16(message, 4, 1);
    const size_t nameEnd =
        kHeaderLength + encodeDnsName(serviceType, message.data() + kHeaderLength);
    putU16(message, nameEnd, kTypePtr);
    putU16(message, nameEnd + 2, kClassIn);
    message.resize(nameEnd + 4);
    return message;
}
