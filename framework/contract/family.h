#pragma once

#include "discovery/records/bonjourinfo.h"
#include "platform/qtrecipient.h"

#include <QColor>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class DeviceList;
class TendwellWindow;
class VisibleDevice;
class QWidget;

// A plug-in's device family: its single point of contact with the host window.
//
// Teardown: when the window goes it first calls stopDiscovery on every family, then deletes
// every widget on it, cards, pages and dialogs included (newest first), and only then the
// families, in load order. So a card may use its family and devices until it is destroyed, but
// a family's destructor must not delete widgets it put on the window: they are gone by then.
// Hold them through QPointer.
class Family : public QObject
{
    Q_OBJECT
public:
    explicit Family(QObject* window);
    ~Family() override;

    virtual void stopDiscovery();
    virtual QString name() const;
    virtual bool handlesNetworkDevices();
    virtual QWidget* customPage(DeviceList* list, TendwellWindow* window);
    virtual QSet<QString> serviceNames();
    virtual void setAccentColour(QColor colour);
    virtual void startDiscovery();
    virtual bool canClose();
    virtual bool deviceAdded(BonjourInfo info);
    virtual bool deviceRemoved(BonjourInfo info);
    virtual bool deviceUpdated(BonjourInfo info);
    virtual bool deviceResolved(const BonjourInfo& info, bool ok, QString hostName,
                                QString ipAddress, int port);
    virtual void showDevice(VisibleDevice* device);
    virtual void showControlApp(VisibleDevice* device);
    virtual void updateFirmware(VisibleDevice* device);
    virtual QStringList crossMenuOptions();
    virtual void crossMenuOptionSelected(QString option);
    virtual QString buildDetails();
    // A device-change message that reached the family's recipient; true takes it.
    virtual bool nativeEvent(const Platform::Message* message);
    // Where device-change notifications for this family are registered.
    virtual Platform::Recipient* notificationWindowId();

    QObject* window() const { return m_window; }
    VisibleDevice* currentDevice() const { return m_currentDevice; }

Q_SIGNALS:
    void deviceArrived(VisibleDevice* device);
    void deviceRemoved(VisibleDevice* device);
    void deviceInfoChanged(VisibleDevice* device);
    void displayDevice(VisibleDevice* device);
    void bonjourResolveRequested(BonjourInfo info, QSet<QString> serviceNames);
    void bonjourResolveRequestedWithPort(BonjourInfo info, int port, QSet<QString> serviceNames);
    void crossMenuChanged();
    void badInstall();

public Q_SLOTS:
    void onDeviceSelected(VisibleDevice* device);

private:
    bool receiveMessage(const Platform::Message& message, intptr_t* result);

    QObject* m_window;
    VisibleDevice* m_currentDevice = nullptr;
    // Stands in for the hidden event-receiver window: device-change messages land here.
    std::unique_ptr<Platform::QtRecipient> m_receiver;
};
