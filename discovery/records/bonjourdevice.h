#pragma once

#include <QMetaType>

#include <cstdint>
#include <string>

// One DNS-SD service instance as a browse reports it.
struct BonjourDevice
{
    std::string serviceName;
    std::string serviceType;
    std::string domain;
    uint32_t interfaceIndex = 0;
};

// Identity is the instance on its interface, byte for byte; the cheapest field that usually
// differs is compared first.
inline bool operator==(const BonjourDevice& a, const BonjourDevice& b)
{
    return a.serviceName == b.serviceName && a.interfaceIndex == b.interfaceIndex &&
           a.serviceType == b.serviceType && a.domain == b.domain;
}

inline bool operator!=(const BonjourDevice& a, const BonjourDevice& b)
{
    return !(a == b);
}

Q_DECLARE_METATYPE(BonjourDevice)
