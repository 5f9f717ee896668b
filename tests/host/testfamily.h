#pragma once

#include "framework/contract/family.h"
#include "framework/contract/visibledevice.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <vector>

class TendwellWindow;

// A device the gallery can show: a drawn picture and a few texts.
class TestDevice : public VisibleDeviceBase
{
public:
    TestDevice(Family* owner, const QString& name, const QColor& colour);

    QPixmap launcherConnectionIcon() override { return connectionIcon; }
    QPixmap cardConnectionIcon() override { return {}; }
    bool showsFirmwareStatus() override { return firmwareStatus; }
    QString softwareVersion() override { return version; }
    bool isSupported() override { return true; }
    bool needsFirmwareUpdate() override { return needsUpdate; }
    bool isLegacy() override { return false; }
    QString availableVersion() override { return available; }
    QSharedPointer<DeviceFirmwareUpdater> deviceHandle() override { return {}; }
    QWidget* summaryWidget() override { return summary; }
    bool isConnected() override { return connected; }
    QString productName() override { return status.isEmpty() ? name : status; }

    QPixmap connectionIcon;
    bool firmwareStatus = false;
    bool needsUpdate = false;
    bool connected = true;
    QString version;
    QString available;
    QString status;
    QPointer<QWidget> summary;
};

// A family whose answers are set through dynamic properties, so a test can steer a family
// that lives in a plug-in module without calling into it:
//   claim (QStringList)   event kinds answered true: "added", "removed", "updated",
//                         "resolved", "native"
//   network (bool), serviceNames (QStringList), crossOptions (QStringList),
//   canClose (bool), devices (QStringList, arrive on startDiscovery),
//   postToWindow (bool, posts a device-change message to the window on startDiscovery)
// Every call is appended to the "calls" property (QStringList).
class TestFamily : public Family
{
    Q_OBJECT
public:
    TestFamily(const QString& name, TendwellWindow* window);
    ~TestFamily() override;

    QString name() const override;
    bool handlesNetworkDevices() override;
    QSet<QString> serviceNames() override;
    void startDiscovery() override;
    void stopDiscovery() override;
    bool canClose() override;
    bool deviceAdded(BonjourInfo info) override;
    bool deviceRemoved(BonjourInfo info) override;
    bool deviceUpdated(BonjourInfo info) override;
    bool deviceResolved(const BonjourInfo& info, bool ok, QString hostName, QString ipAddress,
                        int port) override;
    void showDevice(VisibleDevice* device) override;
    void showControlApp(VisibleDevice* device) override;
    void updateFirmware(VisibleDevice* device) override;
    QStringList crossMenuOptions() override;
    void crossMenuOptionSelected(QString option) override;
    QString buildDetails() override;
    bool nativeEvent(const Platform::Message* message) override;

    // When set, every call of every family in this module is also written here as
    // "family:call", so a test sees the order across families.
    static QStringList* journal;

    QStringList calls() const { return property("calls").toStringList(); }
    void clearCalls() { setProperty("calls", QStringList()); }
    TestDevice* addDevice(const QString& name, const QColor& colour = QColor(1, 171, 255));
    void removeDevice(TestDevice* device);
    const std::vector<std::unique_ptr<TestDevice>>& devices() const { return m_devices; }

private:
    void log(const QString& call);
    bool claims(const QString& kind);

    QString m_name;
    TendwellWindow* m_window;
    std::vector<std::unique_ptr<TestDevice>> m_devices;
};
