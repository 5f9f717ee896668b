#pragma once

#include "framework/contract/family.h"
#include "usb/xmega/qtxmegausbnotifier.h"
#include "usb/xmega/xmegausbdevice.h"

#include <QMainWindow>
#include <QPointer>

#include <forward_list>
#include <memory>
#include <string>

class DeckControllerXmegaUSBNotifier;
class FirmwareUpdateController;
class TendwellWindow;
class VisibleDeckController;

// The deck controllers on USB: one visible device per unit, keyed by the unit's unique id,
// the card or the firmware update when the host asks, and the support report. Lives on the GUI
// thread; the notifiers report there.
class DeckControllerFamily : public Family, private QtXmegaUSBNotifier<XmegaUSBDevice>::Delegate
{
    Q_OBJECT
public:
    using Handle = QtXmegaUSBDevice<XmegaUSBDevice>;

    explicit DeckControllerFamily(TendwellWindow* window);
    ~DeckControllerFamily() override;

    QString name() const override;
    void startDiscovery() override;
    void stopDiscovery() override;
    void showDevice(VisibleDevice* device) override;
    void updateFirmware(VisibleDevice* device) override;
    QString buildDetails() override;
    bool nativeEvent(const Platform::Message* message) override;

    // Listed visible devices, newest first.
    QList<VisibleDeckController*> visibleDevices() const;
    FirmwareUpdateController* firmwareUpdateController() const { return m_controller.get(); }
    // The registry of live units, once discovery has started.
    QtXmegaUSBNotifier<XmegaUSBDevice>* qtNotifier() const { return m_qtNotifier.get(); }

    // The line form of the report: TAB, key, ":", filling to 14 characters, value, line end.
    static QString reportLine(const QString& key, const QString& value);
    static QString reportHex(uint16_t value);
    // Each "key:value" line of text as a report line.
    static QString keyValueBlock(const std::string& text);
    // The unit's identity and firmware lines of the report.
    static QString deviceReport(VisibleDeckController* device, const QString& noIdentity);
    // The available-firmware lines of one product.
    static QString availableFirmwareReport(uint16_t productId);

Q_SIGNALS:
    void usbDeviceAdded(QtXmegaUSBDevice<XmegaUSBDevice>& device);
    void usbDeviceRemoved(QtXmegaUSBDevice<XmegaUSBDevice>& device);
    void bonjourResolveRequested(BonjourInfo info);

public Q_SLOTS:
    void onFirmwareUpdateRequested(VisibleDeckController* device, QMainWindow* parent);

private Q_SLOTS:
    void onUsbDeviceAdded(QtXmegaUSBDevice<XmegaUSBDevice>& device);
    void onUsbDeviceRemoved(QtXmegaUSBDevice<XmegaUSBDevice>& device);

private:
    void arrived(Handle& device) override;
    void rebooted(Handle& device) override;
    void removed(Handle& device) override;
    // Whether a unit's arrival or removal concerns this family.
    static bool isSupported(Handle& handle, bool removal);

    VisibleDeckController* find(VisibleDevice* device) const;
    void setController(FirmwareUpdateController* controller);
    void dropNullNodes();

    TendwellWindow* m_window;
    std::forward_list<VisibleDeckController*> m_devices;
    // The USB-side notifier stops before the registry it reports to.
    std::unique_ptr<QtXmegaUSBNotifier<XmegaUSBDevice>> m_qtNotifier;
    std::unique_ptr<DeckControllerXmegaUSBNotifier> m_xmegaNotifier;
    std::unique_ptr<FirmwareUpdateController> m_controller;
};
