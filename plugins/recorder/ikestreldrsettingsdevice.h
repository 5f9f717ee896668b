#pragma once

#include "plugins/recorder/ikestrel.h"

#include <memory>

class SettingsBlock;

namespace CVN {
namespace DiskRecorder {

// A recorder that keeps its settings as one settings block; the back-end only moves the
// block's bytes, the record mapping lives here once for all of them.
class IKestrelDRSettingsDevice : public IKestrel
{
public:
    bool readSettings(KestrelSettings& settings) override;
    bool writeSettings(const KestrelSettings& settings) override;

    // On success `block` holds a new block whose items were checked.
    virtual bool readSettingsBlock(std::unique_ptr<SettingsBlock>& block) = 0;
    virtual bool writeSettingsBlock(const SettingsBlock* block) = 0;
};

} // namespace DiskRecorder
} // namespace CVN
