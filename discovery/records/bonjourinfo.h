#pragma once

#include "discovery/records/bonjourdevice.h"

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

    // Replaces the TXT map with the strings of one TXT record's data (a length byte, then
    // "key=value" or a bare key). Never fails: it stops at a zero length byte or at a string
    // that would run past the end, keeping what it has; the last of repeated keys wins.
    void parseTxt(const unsigned char* data, int length);
};

// Registers the record types under their names so queued connections and string-based
// look-ups know them. Safe to call more than once.
void registerBonjourRecordTypes();

Q_DECLARE_METATYPE(BonjourInfo)
