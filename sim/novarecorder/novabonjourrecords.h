#pragma once

#include "discovery/records/bonjourinfo.h"

#include <map>
#include <string>

// DNS-SD records as the host offers them to the families for a network recorder of the newer
// platform: its two service types, on an interface of the computer, with its TXT values.
namespace Sim::NovaBonjour {

inline std::map<std::string, std::string> novaTxt(const std::string& uniqueId,
                                                  const std::string& release = "8.4")
{
    return {{"product id", "be1d"},
            {"unique id", uniqueId},
            {"hw version", "100"},
            {"device name", "Stage Left"},
            {"internal version", "8A4C1F02"},
            {"release version", release}};
}

inline BonjourInfo record(const std::string& serviceType, std::map<std::string, std::string> txt,
                          uint32_t interfaceIndex = 2,
                          const std::string& instance = "Kestrel Alder One")
{
    BonjourInfo info;
    info.serviceName = instance;
    info.serviceType = serviceType;
    info.domain = "local.";
    info.interfaceIndex = interfaceIndex;
    info.txt = std::move(txt);
    return info;
}

inline BonjourInfo http(const std::string& uniqueId, uint32_t interfaceIndex = 2)
{
    return record("_http._tcp.", novaTxt(uniqueId), interfaceIndex);
}

inline BonjourInfo corvane(const std::string& uniqueId, uint32_t interfaceIndex = 2)
{
    return record("_corvane._tcp.", novaTxt(uniqueId), interfaceIndex);
}

} // namespace Sim::NovaBonjour
