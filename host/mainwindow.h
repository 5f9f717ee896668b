#pragma once

#include "discovery/records/bonjourinfo.h"
#include "framework/contract/devicelist.h"
#include "framework/contract/tendwellwindow.h"
#include "platform/qtrecipient.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QString>

#include <memory>
#include <string>

class AddByIpAddressController;
class BonjourService;
class Family;
class QStackedWidget;
class ServiceBrowser;
class TightVBoxLayout;
class VisibleDevice;
class VisibleDevicesWidget;
class WindowFooter;

// The program's one window: header, gallery and footer, the families in load order, and the
// routing of every device event and user action to the family that should act.
class MainWindow : public TendwellWindow
{
    Q_OBJECT
public:
    struct Options
    {
        // DNS-SD as the program reaches it; null gives the avahi-backed one.
        std::shared_ptr<BonjourService> bonjour;
        // Starts the web engine before any plug-in loads.
        bool warmUpWebEngine = true;
    };

    MainWindow();
    explicit MainWindow(Options options);
    ~MainWindow() override;

    void addFamily(Family* family);

    bool handleNativeMessage(const Platform::Message* message, intptr_t* result) override;
    QWidget* customPage() override;
    Platform::Recipient* notificationRecipient() override;

    const QList<Family*>& families() const { return m_families; }
    DeviceList* deviceList() { return &m_deviceList; }
    VisibleDevicesWidget* gallery() const { return m_gallery; }
    WindowFooter* footer() const { return m_footer; }
    QStackedWidget* pageStack() const { return m_pageStack; }
    AddByIpAddressController* addByIpController() const { return m_addByIpController; }
    QStringList crossMenuTexts() const;
    // The browses running, one per distinct service name.
    QList<ServiceBrowser*> browsers() const { return m_browsers; }
    bool isStarted() const { return m_started; }

public Q_SLOTS:
    void showAboutBox();
    void showBuildDetails();

private Q_SLOTS:
    void onBonjourDeviceAdded(BonjourInfo info);
    void onBonjourDeviceRemoved(BonjourInfo info);
    void onBonjourDeviceUpdated(BonjourInfo info);
    void onBonjourResolveRequested(BonjourInfo info, QSet<QString> serviceNames);
    void onBonjourResolveRequestedWithPort(BonjourInfo info, int port, QSet<QString> serviceNames);
    void onBonjourDeviceHaveHostName(BonjourInfo info, bool success, std::string hostName,
                                     int port);
    void onBonjourDeviceResolved(BonjourInfo info, bool success, QString hostName,
                                 QString ipAddress, int port);
    void newDeviceAddedByIP(BonjourInfo info);
    void onAddByIpClicked();
    void onGalleryViewSelected();
    void onListViewSelected();
    void showDevice(VisibleDevice* device);
    void showControlApp(VisibleDevice* device);
    void updateFirmware(VisibleDevice* device);
    void onCrossMenuChanged();
    void onCrossMenuOptionSelected(QString option);
    void postShowStartup();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void resolve(const BonjourInfo& info, int port, bool keepPort, QSet<QString> serviceNames);
    void queryKnownHost(const BonjourInfo& info, QSet<QString> serviceNames);

    DeviceList m_deviceList;
    bool m_started = false;
    VisibleDevicesWidget* m_gallery = nullptr;
    QWidget* m_customPage = nullptr;
    QList<Family*> m_families;
    AddByIpAddressController* m_addByIpController = nullptr;
    TightVBoxLayout* m_mainLayout = nullptr;
    QStackedWidget* m_pageStack = nullptr;
    WindowFooter* m_footer = nullptr;
    // The option text and its family; none for the host's own entry.
    QList<QPair<QString, Family*>> m_crossMenuEntries;

    std::shared_ptr<BonjourService> m_bonjour;
    QList<ServiceBrowser*> m_browsers;
    Platform::QtRecipient m_recipient;
};
