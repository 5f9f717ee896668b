#pragma once

#include "framework/contract/devicefirmwareupdater.h"
#include "plugins/deckcontroller/deckcontrollerupdater.h"

class IDeckControllerDevice;

// The deck controller's firmware update as the card and dialog see it: one updater thread,
// its fraction shown as whole percent and its end as the framework's status. Lives on the GUI
// thread; destroying it waits for a running update to end.
class VisibleDeckControllerFirmwareUpdater : public DeviceFirmwareUpdater
{
    Q_OBJECT
public:
    explicit VisibleDeckControllerFirmwareUpdater(IDeckControllerDevice* device);
    ~VisibleDeckControllerFirmwareUpdater() override;

    bool checkDevice() override;
    void start() override;

    bool isUpdating() const { return m_updater.isUpdating(); }

public Q_SLOTS:
    void onProgress(float fraction);
    void onCompletion(bool succeeded);

private:
    IDeckControllerDevice* m_device = nullptr;
    DeckControllerUpdater m_updater;
};
