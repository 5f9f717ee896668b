#include "plugins/deckcontroller/deckcontrollerusbconnection.h"

#include "plugins/deckcontroller/ideckcontrollerdevice.h"
#include "plugins/deckcontroller/visibledeckcontroller.h"

DeckControllerUSBConnection::DeckControllerUSBConnection(VisibleDeckController* device)
    : DeckControllerConnection(device)
    , m_device(device)
    , m_timer(this)
{
    connect(&m_timer, &QTimer::timeout, this, &DeckControllerUSBConnection::onTimeout);
    setStatus(Connecting);
    m_timer.setSingleShot(true);
    // The first poll runs at the next pass of the event loop.
    m_timer.start();
}

void DeckControllerUSBConnection::reconnect()
{
    setStatus(Connecting);
    m_timer.start();
}

void DeckControllerUSBConnection::applySettings()
{
    IDeckControllerDevice* device = m_device ? m_device->device() : nullptr;
    if (!device)
        return;
    device->flushSettings();
    emit deviceInfoChanged(m_device);
}

bool DeckControllerUSBConnection::settingsUpdateFailed()
{
    return false;
}

void DeckControllerUSBConnection::onTimeout()
{
    if (status() == Connected)
        return;
    if (IDeckControllerDevice* device = m_device ? m_device->device() : nullptr) {
        // Recovery is asked only of a unit whose application does not answer.
        if (device->getApplicationState() != 0 || device->isRecovery()) {
            setStatus(Connected);
            return;
        }
    }
    if (--m_attemptsLeft > 0) {
        m_timer.start(kRetryMs);
        return;
    }
    m_attemptsLeft = 0;
    setStatus(Failed);
}
