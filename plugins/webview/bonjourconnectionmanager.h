#pragma once

#include "connectionmanager.h"
#include "discovery/records/bonjourinfo.h"

#include <QObject>

#include <functional>
#include <list>
#include <memory>

class BonjourPotentialDevice;

// Potential devices of the recorders that the host finds by DNS-SD. It does not browse: the
// family offers it every record the host reports. One device per unique id; new ones are
// resolved before the family gets them. GUI thread only.
class BonjourConnectionManager : public QObject, public ConnectionManager
{
    Q_OBJECT
public:
    using DevicePtr = std::shared_ptr<BonjourPotentialDevice>;
    using ManagerPtr = std::shared_ptr<BonjourConnectionManager>;
    using ConnectedDeviceFactory =
        std::function<std::shared_ptr<ConnectedDevice>(NovaVisibleDevice*, DevicePtr)>;
    using FirmwareUpdaterFactory =
        std::function<QSharedPointer<DeviceFirmwareUpdater>(ManagerPtr, DevicePtr)>;
    using PotentialDeviceFactory = std::function<DevicePtr(ManagerPtr, const BonjourInfo&)>;
    using WidgetFactory = std::function<QWidget*(NovaVisibleDevice*, DevicePtr)>;

    // A failed resolve of a device not handed to the family yet is asked again after this.
    static constexpr int kResolveRetryMs = 1000;

    BonjourConnectionManager(NovaFamilyBase* family, ProductTable products,
                             ConnectedDeviceFactory connectedDeviceFactory,
                             FirmwareUpdaterFactory firmwareUpdaterFactory,
                             PotentialDeviceFactory potentialDeviceFactory,
                             WidgetFactory widgetFactory);
    ~BonjourConnectionManager() override;

    // Each true when the record is of a product this manager supports.
    bool deviceAdded(const BonjourInfo& info);
    bool deviceRemoved(const BonjourInfo& info);
    bool deviceUpdated(const BonjourInfo& info);
    bool deviceResolved(const BonjourInfo& info, bool ok, const std::string& hostName,
                        const std::string& address, uint16_t port);

    std::shared_ptr<ConnectedDevice> createConnectedDevice(NovaVisibleDevice* visibleDevice,
                                                           PotentialDevice* device) override;
    QSharedPointer<DeviceFirmwareUpdater> createFirmwareUpdater(NovaVisibleDevice* visibleDevice,
                                                                PotentialDevice* device) override;
    QWidget* createWidget(NovaVisibleDevice* visibleDevice, PotentialDevice* device) override;

    // A device handed to the family, by unique id (exact); the update tasks find a recorder
    // again with it after it restarts.
    DevicePtr findKnownByUniqueId(const QString& uniqueId) const;
    bool isPending(const QString& uniqueId) const;

    // Asks the host to resolve the record, through the family.
    virtual void requestResolve(const BonjourInfo& info);

    // The unique id of a record: its "unique id" value in lower case.
    static QString uniqueIdOf(const BonjourInfo& info);

private:
    bool isSupported(const BonjourInfo& info) const;
    static DevicePtr findIn(const std::list<DevicePtr>& devices, const QString& uniqueId);

    std::list<DevicePtr> m_known;
    std::list<DevicePtr> m_pending;
    ConnectedDeviceFactory m_connectedDeviceFactory;
    FirmwareUpdaterFactory m_firmwareUpdaterFactory;
    PotentialDeviceFactory m_potentialDeviceFactory;
    WidgetFactory m_widgetFactory;
};
