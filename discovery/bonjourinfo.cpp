#include "discovery/bonjourinfo.h"

void registerBonjourRecordTypes()
{
    qRegisterMetaType<BonjourDevice>("BonjourDevice");
    qRegisterMetaType<BonjourInfo>("BonjourInfo");
}
