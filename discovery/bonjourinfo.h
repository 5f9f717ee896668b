#pragma once

#include "discovery/bonjourdevice.h"

#include <map>

// What the system learns of an instance after browsing it. Compares as its BonjourDevice part.
class BonjourInfo : public BonjourDevice
{
public:
    std::map<std::string, std::string> txt;
    std::string hostName;
    std::string address;
    uint16_t port = 0;
    bool seen = false;
};

// Registers the record types under their names so queued connections and string-based
// look-ups know them. Safe to call more than once.
void registerBonjourRecordTypes();

Q_DECLARE_METATYPE(BonjourInfo)
