#include "sim/usbbus/configurationbuilder.h"

#include <algorithm>

namespace Sim {

ConfigurationBuilder::ConfigurationBuilder(uint8_t configurationValue, uint8_t attributes,
                                           uint8_t maxPower)
    : m_value(configurationValue)
    , m_attributes(attributes)
    , m_maxPower(maxPower)
{
}

ConfigurationBuilder& ConfigurationBuilder::interface(uint8_t number, uint8_t alternateSetting,
                                                      uint8_t interfaceClass, uint8_t subClass,
                                                      uint8_t protocol)
{
    m_lastInterface = m_body.size();
    m_haveInterface = true;
    m_body.insert(m_body.end(),
                  {9, 4, number, alternateSetting, 0, interfaceClass, subClass, protocol, 0});
    if (std::find(m_numbers.begin(), m_numbers.end(), number) == m_numbers.end())
        m_numbers.push_back(number);
    return *this;
}

ConfigurationBuilder& ConfigurationBuilder::endpoint(uint8_t address, uint8_t attributes,
                                                     uint16_t maxPacketSize, uint8_t interval)
{
    m_body.insert(m_body.end(), {7, 5, address, attributes, uint8_t(maxPacketSize),
                                 uint8_t(maxPacketSize >> 8), interval});
    if (m_haveInterface)
        ++m_body[m_lastInterface + 4];
    return *this;
}

ConfigurationBuilder& ConfigurationBuilder::bulkIn(uint8_t address, uint16_t maxPacketSize)
{
    return endpoint(uint8_t(address | 0x80), 2, maxPacketSize);
}

ConfigurationBuilder& ConfigurationBuilder::bulkOut(uint8_t address, uint16_t maxPacketSize)
{
    return endpoint(uint8_t(address & 0x7F), 2, maxPacketSize);
}

ConfigurationBuilder& ConfigurationBuilder::descriptor(uint8_t type,
                                                       const std::vector<uint8_t>& body)
{
    m_body.push_back(uint8_t(body.size() + 2));
    m_body.push_back(type);
    m_body.insert(m_body.end(), body.begin(), body.end());
    return *this;
}

std::vector<uint8_t> ConfigurationBuilder::build() const
{
    const size_t total = 9 + m_body.size();
    std::vector<uint8_t> bytes = {
        9,       2, uint8_t(total), uint8_t(total >> 8), uint8_t(m_numbers.size()),
        m_value, 0, m_attributes,   m_maxPower};
    bytes.insert(bytes.end(), m_body.begin(), m_body.end());
    return bytes;
}

} // namespace Sim
