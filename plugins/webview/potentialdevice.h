#pragma once

#include "productrecord.h"

#include <QSharedPointer>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class ConnectedDevice;
class ConnectionManager;
class DeviceFirmwareUpdater;
class NovaVisibleDevice;
class QWidget;

// One way of reaching one recorder (a DNS-SD service, a USB unit) that is not connected yet.
// Refers to its manager weakly: every manager-bound call is empty once the manager is gone.
class PotentialDevice
{
public:
    enum ConnectionType { kNone = 0, kUsb = 1, kEthernet = 2 };

    explicit PotentialDevice(const std::shared_ptr<ConnectionManager>& manager);
    virtual ~PotentialDevice();

    PotentialDevice(const PotentialDevice&) = delete;
    PotentialDevice& operator=(const PotentialDevice&) = delete;

    virtual uint16_t productId() = 0;
    virtual uint16_t hardwareRevision() = 0;
    virtual QString uniqueId() = 0;
    virtual QString name() = 0;
    virtual QString firmwareBuild() = 0;
    virtual QString releaseVersion() = 0;
    virtual int connectionType() = 0;
    virtual void requestResolve() = 0;
    virtual std::string host();
    virtual uint16_t port();
    // Exact comparison: both sides report builds in lower case.
    virtual bool firmwareBuildMatches(const QString& build);
    virtual bool allowsFirmwareUpdate() = 0;
    virtual bool isLegacy() = 0;
    // The lower value is preferred when one recorder is reachable several ways.
    virtual uint16_t priority() = 0;
    virtual void showControlApp();
    virtual bool isTestMode();
    virtual bool showsFirmwareStatus();
    virtual void onAddedToFamily();

    std::shared_ptr<ConnectedDevice> createConnectedDevice(NovaVisibleDevice* visibleDevice);
    QSharedPointer<DeviceFirmwareUpdater> createFirmwareUpdater(NovaVisibleDevice* visibleDevice);
    QWidget* createWidget(NovaVisibleDevice* visibleDevice);
    // A copy, so it outlives the manager that holds the table.
    std::optional<ProductRecord> productRecord();

protected:
    std::shared_ptr<ConnectionManager> manager() const { return m_manager.lock(); }

private:
    std::weak_ptr<ConnectionManager> m_manager;
};
