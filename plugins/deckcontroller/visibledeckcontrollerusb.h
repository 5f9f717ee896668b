#pragma once

#include "plugins/deckcontroller/deckcontrollerusbconnection.h"
#include "plugins/deckcontroller/deckcontrollerxmegadevice.h"
#include "plugins/deckcontroller/visibledeckcontroller.h"
#include "plugins/deckcontroller/visibledeckcontrollerfirmwareupdater.h"

#include <QSharedPointer>
#include <QTimer>

// A deck controller on USB: owns the unit's device object, its firmware updater and its
// connection, and polls the unit every kPollMs so that its recovery state follows the unit.
// An update that is running when the family reports the unit gone ends as failed.
class VisibleDeckControllerUSB : public VisibleDeckController
{
    Q_OBJECT
public:
    static constexpr int kPollMs = 1000;

    // Throws std::runtime_error for a unit that is not a deck controller.
    VisibleDeckControllerUSB(const DeckControllerXmegaDevice::Handle& handle, Family* owner);
    ~VisibleDeckControllerUSB() override;

    IDeckControllerDevice* device() override { return m_devicePtr; }
    DeckControllerConnection* connection() override { return m_connectionPtr; }
    bool isUsbDevice() override { return true; }
    bool isLegacy() override { return false; }
    QSharedPointer<DeviceFirmwareUpdater> deviceHandle() override { return m_updaterRef; }

    VisibleDeckControllerFirmwareUpdater* firmwareUpdater() const { return m_updaterPtr; }
    DeckControllerXmegaDevice* xmegaDevice() const { return m_devicePtr; }
    QTimer* pollTimer() const { return m_pollTimer; }

private:
    void onFamilyDeviceRemoved(VisibleDevice* device);

    // Set first: the connection reports its status while it is being made.
    DeckControllerXmegaDevice* m_devicePtr = nullptr;
    VisibleDeckControllerFirmwareUpdater* m_updaterPtr = nullptr;
    DeckControllerUSBConnection* m_connectionPtr = nullptr;
    // Destroyed in reverse: the connection, then the updater (which waits for a running update
    // thread), then the device that thread uses.
    DeckControllerXmegaDevice m_device;
    VisibleDeckControllerFirmwareUpdater m_updater;
    DeckControllerUSBConnection m_connection;
    // Shares the updater without owning it: the member above is its one owner.
    QSharedPointer<DeviceFirmwareUpdater> m_updaterRef;
    QTimer* m_pollTimer;
};
