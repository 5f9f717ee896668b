#include "plugins/deckcontroller/visibledeckcontrollerfirmwareupdater.h"

#include "plugins/deckcontroller/ideckcontrollerdevice.h"

VisibleDeckControllerFirmwareUpdater::VisibleDeckControllerFirmwareUpdater(
    IDeckControllerDevice* device)
    : DeviceFirmwareUpdater(nullptr)
    , m_device(device)
{
    m_updater.setDevice(device);
}

VisibleDeckControllerFirmwareUpdater::~VisibleDeckControllerFirmwareUpdater()
{
    // Nothing the thread still sends may reach this half-destroyed object.
    disconnect(&m_updater, nullptr, this, nullptr);
    m_updater.waitForEnd();
}

bool VisibleDeckControllerFirmwareUpdater::checkDevice()
{
    return m_device && m_device->isFirmwareCurrent() && m_device->isFirmwareCompatible();
}

void VisibleDeckControllerFirmwareUpdater::start()
{
    // The signals come from the updater's thread: queued. Connected by signature, so that no
    // slot object is shared with that thread.
    connect(&m_updater, SIGNAL(progressed(float)), this, SLOT(onProgress(float)),
            Qt::UniqueConnection);
    connect(&m_updater, SIGNAL(complete(bool)), this, SLOT(onCompletion(bool)),
            Qt::UniqueConnection);
    m_updater.startUpdate();
}

void VisibleDeckControllerFirmwareUpdater::onProgress(float fraction)
{
    emit firmwareUpdateProgress(percentFromFraction(fraction));
}

void VisibleDeckControllerFirmwareUpdater::onCompletion(bool succeeded)
{
    disconnect(&m_updater, nullptr, this, nullptr);
    emit firmwareUpdated(succeeded ? Succeeded : Failed);
}
