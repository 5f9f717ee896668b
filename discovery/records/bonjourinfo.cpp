#include "discovery/records/bonjourinfo.h"

void registerBonjourRecordTypes()
{
    qRegisterMetaType<BonjourDevice>("BonjourDevice");
    qRegisterMetaType<BonjourInfo>("BonjourInfo");
}

void BonjourInfo::parseTxt(const unsigned char* data, int length)
{
    txt.clear();
    if (!data || length <= 0)
        return;
    const size_t end = size_t(length);
    size_t p = 0;
    while (p + 1 < end) {
        const size_t stringLength = data[p];
        if (stringLength == 0 || stringLength > end - p - 1)
            break;
        const std::string entry(reinterpret_cast<const char*>(data + p + 1), stringLength);
        const size_t equals = entry.find('=');
        if (equals == std::string::npos)
            txt[entry].clear();
        else
            txt[entry.substr(0, equals)] = entry.substr(equals + 1);
        p += 1 + stringLength;
    }
}
