#pragma once

#include "novafamilybase.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QSharedPointer>
#include <QString>

#include <memory>
#include <vector>

class ConnectionManager;
class FirmwareUpdateController;
class FirmwareUpdateDialog;
class NovaVisibleDevice;
class QWidget;

// The web-view plug-in's family: owns the connection managers, groups their potential devices
// by unique id into visible devices, opens a device's card or its firmware update and writes
// the plug-in's part of the build details. GUI thread only.
class NovaFamily : public NovaFamilyBase
{
    Q_OBJECT
public:
    using VisiblePtr = std::shared_ptr<NovaVisibleDevice>;
    using DevicePtr = std::shared_ptr<PotentialDevice>;

    NovaFamily(QString name, QSet<QString> serviceTypes, QObject* window);
    ~NovaFamily() override;

    QString name() const override { return m_name; }
    bool handlesNetworkDevices() override { return !m_serviceTypes.isEmpty(); }
    QSet<QString> serviceNames() override { return m_serviceTypes; }
    void startDiscovery() override;
    bool deviceAdded(BonjourInfo info) override;
    bool deviceRemoved(BonjourInfo info) override;
    bool deviceUpdated(BonjourInfo info) override;
    bool deviceResolved(const BonjourInfo& info, bool ok, QString hostName, QString ipAddress,
                        int port) override;
    void showDevice(VisibleDevice* device) override { showDevice(device, true); }
    void showControlApp(VisibleDevice* device) override;
    void updateFirmware(VisibleDevice* device) override
    {
        startFirmwareUpdate(device, false, true);
    }
    QString buildDetails() override;

    virtual void showDevice(VisibleDevice* device, bool offerUpdate);
    virtual void startFirmwareUpdate(VisibleDevice* device, bool askFirst, bool required);
    virtual void addToVisibleDevice(const VisiblePtr& visible, const DevicePtr& device);
    virtual void removePotentialDevice(const VisiblePtr& visible, const DevicePtr& device);
    virtual void createVisibleDevice(const DevicePtr& device);
    virtual FirmwareUpdateDialog* createFirmwareUpdateDialog(QWidget* parent);

    // Logs each product whose firmware file is missing; the manager is added all the same.
    void addConnectionManager(const std::shared_ptr<ConnectionManager>& manager);
    void addPotentialDevice(const DevicePtr& device) override;
    void removePotentialDeviceByUniqueId(const DevicePtr& device) override;
    VisiblePtr findVisibleDeviceByUniqueId(const DevicePtr& device) const;
    void setBuildInfo(QString time, QString version, QString rcTag, QString revision);

    const std::vector<VisiblePtr>& visibleDevices() const { return m_visibleDevices; }
    VisiblePtr shownDevice() const { return m_shownDevice; }
    FirmwareUpdateController* firmwareUpdateController() const { return m_controller.data(); }
    const std::vector<std::shared_ptr<ConnectionManager>>& connectionManagers() const
    {
        return m_managers;
    }

private Q_SLOTS:
    void onProductCardDestroyed();
    void onFirmwareUpdateFinish(bool success);

private:
    VisiblePtr find(VisibleDevice* device) const;
    // Drops a visible device that has no potential device left.
    void removeIfUnreachable(const VisiblePtr& visible);
    QWidget* parentWindow() const;
    template<class F> bool offerToBonjourManagers(F&& offer);

    QSharedPointer<FirmwareUpdateController> m_controller;
    VisiblePtr m_updatingDevice;
    std::vector<VisiblePtr> m_visibleDevices;
    VisiblePtr m_shownDevice;
    // Each open card and the device it shows: a card closing after another one opened must not
    // take the newer card's device with it.
    QHash<QObject*, VisiblePtr> m_cards;
    QString m_name;
    QSet<QString> m_serviceTypes;
    QString m_buildTime;
    QString m_buildVersion;
    QString m_rcTag;
    QString m_revision;
    std::vector<std::shared_ptr<ConnectionManager>> m_managers;
};
