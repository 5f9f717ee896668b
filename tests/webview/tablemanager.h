#pragma once

#include "framework/contract/devicefirmwareupdater.h"
#include "plugins/webview/connectionmanager.h"
#include "plugins/webview/productrecord.h"

#include <memory>

// A manager that only lends its product table: it makes no connected devices and no updaters.
class TableManager : public ConnectionManager
{
public:
    explicit TableManager(QString name = QStringLiteral("Test"))
        : ConnectionManager(std::move(name), nullptr, supportedProducts())
    {
    }
    std::shared_ptr<ConnectedDevice> createConnectedDevice(NovaVisibleDevice*,
                                                           PotentialDevice*) override
    {
        return nullptr;
    }
    QSharedPointer<DeviceFirmwareUpdater> createFirmwareUpdater(NovaVisibleDevice*,
                                                                PotentialDevice*) override
    {
        return nullptr;
    }
};
