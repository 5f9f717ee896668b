#include "plugins/recorder/ikestreldrsettingsdevice.h"

#include "plugins/recorder/kestrelsettings.h"
#include "plugins/recorder/settingsblock.h"

namespace CVN {
namespace DiskRecorder {

bool IKestrelDRSettingsDevice::readSettings(KestrelSettings& settings)
{
    std::unique_ptr<SettingsBlock> block;
    if (!readSettingsBlock(block) || !block)
        return false;
    settings = KestrelSettings::fromBlock(*block, *this);
    return true;
}

bool IKestrelDRSettingsDevice::writeSettings(const KestrelSettings& settings)
{
    SettingsBlock block;
    if (!settings.toBlock(*this, block))
        return false;
    return writeSettingsBlock(&block);
}

} // namespace DiskRecorder
} // namespace CVN
