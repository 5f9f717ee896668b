#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Sim {

// Builds a configuration descriptor for a device model: interfaces, their endpoints and any
// class-specific descriptors, in the order added. build() fills wTotalLength and
// bNumInterfaces (distinct interface numbers).
class ConfigurationBuilder
{
public:
    explicit ConfigurationBuilder(uint8_t configurationValue = 1, uint8_t attributes = 0x80,
                                  uint8_t maxPower = 50);

    ConfigurationBuilder& interface(uint8_t number, uint8_t alternateSetting,
                                    uint8_t interfaceClass, uint8_t subClass, uint8_t protocol);
    // bEndpointAddress (bit 7 = IN), bmAttributes (2 = bulk), wMaxPacketSize, bInterval.
    ConfigurationBuilder& endpoint(uint8_t address, uint8_t attributes, uint16_t maxPacketSize,
                                   uint8_t interval = 0);
    ConfigurationBuilder& bulkIn(uint8_t address, uint16_t maxPacketSize = 512);
    ConfigurationBuilder& bulkOut(uint8_t address, uint16_t maxPacketSize = 512);
    // Any descriptor: bLength and bDescriptorType are put in front of body.
    ConfigurationBuilder& descriptor(uint8_t type, const std::vector<uint8_t>& body);

    std::vector<uint8_t> build() const;

private:
    uint8_t m_value;
    uint8_t m_attributes;
    uint8_t m_maxPower;
    std::vector<uint8_t> m_body;
    std::vector<uint8_t> m_numbers;
    size_t m_lastInterface = 0;
    bool m_haveInterface = false;
};

} // namespace Sim
