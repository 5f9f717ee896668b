#pragma once

#include "framework/contract/visibledevice.h"
#include "plugins/deckcontroller/ideckcontrollerdevice.h"

#include <QObject>

#include <string>

class DeckControllerConnection;

// A deck controller as the gallery and its card see it. Every answer is asked of the unit anew;
// a missing or silent unit gives the fallback answers.
class VisibleDeckController : public QObject,
                              public VisibleDeviceBase,
                              public IDeckControllerDevice::Delegate
{
    Q_OBJECT
public:
    static constexpr uint16_t kProductId = 0xBE32;

    explicit VisibleDeckController(Family* owner);
    ~VisibleDeckController() override;

    // Called by the family right after construction.
    virtual void initialise();
    virtual IDeckControllerDevice* device() = 0;
    virtual DeckControllerConnection* connection() = 0;

    // The unit's unique id as 32 lower-case hexadecimal digits; empty when it cannot be read.
    std::string uniqueId();

    // A visible device of another kind that this one hides in the family's list; not owned.
    VisibleDevice* replacedDevice() const { return m_replaced; }
    void setReplacedDevice(VisibleDevice* device) { m_replaced = device; }

    static QString modelName(uint16_t productId);

    QString productName() override;
    QPixmap productPixmap() override;
    QPixmap thumbnailPixmap() override;
    QString displayName() override;
    QPixmap launcherConnectionIcon() override;
    QPixmap cardConnectionIcon() override;
    bool isUsbDevice() override;
    bool showsFirmwareStatus() override;
    QString softwareVersion() override;
    bool isSupported() override;
    bool needsFirmwareUpdate() override;
    bool isLegacy() override;
    QString availableVersion() override;
    // Only a unit that can be updated hands out an updater.
    QSharedPointer<DeviceFirmwareUpdater> deviceHandle() override;
    bool isTestMode() override;
    QWidget* summaryWidget() override;
    bool isConnected() override;
    bool hasControlApp() override;
    QPixmap controlAppPixmap() override;
    QPixmap controlAppHoverPixmap() override;

    void unitNameChanged() override { emit deviceUnitNameChanged(); }

Q_SIGNALS:
    void deviceUnitNameChanged();

private:
    QPixmap connectionIcon(const char* network, const char* both, const char* usb);
    bool productId(uint16_t& id);

    VisibleDevice* m_replaced = nullptr;
};
