#pragma once

#include "plugins/webview/novafamilybase.h"
#include "plugins/webview/novavisibledevice.h"
#include "plugins/webview/potentialdevice.h"

#include <QSet>

#include <algorithm>
#include <memory>
#include <vector>

// Stands in for the web-view family where the managers meet it: groups potential devices by
// unique id into visible devices and drops a visible device with its last potential device.
class GroupingFamily : public NovaFamilyBase
{
public:
    GroupingFamily()
        : NovaFamilyBase(nullptr)
    {
    }

    QSet<QString> serviceNames() override { return {"_corvane._tcp.", "_http._tcp."}; }

    void addPotentialDevice(const std::shared_ptr<PotentialDevice>& device) override
    {
        ++added;
        if (const auto visible = find(device->uniqueId())) {
            visible->attachPotentialDevice(device);
        } else {
            visibleDevices.push_back(std::make_shared<NovaVisibleDevice>(this, device));
            emit deviceArrived(visibleDevices.back().get());
        }
        device->onAddedToFamily();
    }

    void removePotentialDeviceByUniqueId(const std::shared_ptr<PotentialDevice>& device) override
    {
        ++removed;
        const auto visible = find(device->uniqueId());
        if (!visible)
            return;
        visible->detachPotentialDevice(device.get());
        if (!visible->primary()) {
            emit deviceRemoved(visible.get());
            visibleDevices.erase(std::find(visibleDevices.begin(), visibleDevices.end(), visible));
        }
    }

    std::shared_ptr<NovaVisibleDevice> find(const QString& uniqueId) const
    {
        for (const auto& visible : visibleDevices) {
            if (visible->primary() && visible->primary()->uniqueId() == uniqueId)
                return visible;
        }
        return nullptr;
    }

    std::vector<std::shared_ptr<NovaVisibleDevice>> visibleDevices;
    int added = 0;
    int removed = 0;
};
