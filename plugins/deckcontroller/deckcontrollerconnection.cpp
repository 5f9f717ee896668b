#include "plugins/deckcontroller/deckcontrollerconnection.h"

#include "framework/contract/family.h"
#include "plugins/deckcontroller/visibledeckcontroller.h"

DeckControllerConnection::DeckControllerConnection(VisibleDeckController* device)
    : QObject(nullptr)
    , m_device(device)
{
    if (!device)
        return;
    if (Family* family = device->owner()) {
        // A visible device is a VisibleDevice to the host: the pointer is passed on as that.
        connect(this, &DeckControllerConnection::connectionStatusChanged, family,
                [family](VisibleDeckController* d) { emit family->deviceInfoChanged(d); });
        connect(this, &DeckControllerConnection::deviceInfoChanged, family,
                [family](VisibleDeckController* d) { emit family->deviceInfoChanged(d); });
    }
}

void DeckControllerConnection::setStatus(uint32_t status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit connectionStatusChanged(m_device);
}
