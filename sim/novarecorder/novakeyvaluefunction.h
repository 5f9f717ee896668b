#pragma once

#include "sim/usbbus/controlsetup.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Sim {

// The unit's key/value interface (class 0xFF/3/0): class requests 0 (status byte), 1 (a new
// query handle), 2 (the key for a handle) and 3 (the value as NUL-terminated text). IN
// replies fill the whole wLength, zero-padded, as the driver hands the buffer back whole.
class NovaKeyValueFunction
{
public:
    static constexpr uint8_t kDescriptorType = 0x21;

    NovaKeyValueFunction();

    // The class descriptor: bLength (at least 10 for a sound unit), type 0x21, the u32
    // capability word, then zeros.
    std::vector<uint8_t> descriptorBody(uint8_t length) const;

    void setCapabilities(uint32_t capabilities);
    void setStatus(uint8_t status);
    void setValue(const std::string& key, const std::string& value);
    std::string value(const std::string& key) const;

    // Usbd status of the request; in gets the reply.
    uint32_t control(const ControlSetup& setup, const std::vector<uint8_t>& out,
                     std::vector<uint8_t>* in);

    // Keys the host asked for, in order.
    std::vector<std::string> keysAsked() const;

private:
    mutable std::mutex m_mutex;
    uint32_t m_capabilities = 0x3;
    uint8_t m_status = 1;
    std::map<std::string, std::string> m_values;
    std::map<uint16_t, std::string> m_handles;
    uint16_t m_nextHandle = 0x100;
    std::vector<std::string> m_asked;
};

} // namespace Sim
