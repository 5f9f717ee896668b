#include "plugins/deckcontroller/deckcontrollerxmegausbnotifier.h"

#include "plugins/deckcontroller/streaming2xmegausbdevice.h"

DeckControllerXmegaUSBNotifier::DeckControllerXmegaUSBNotifier()
{
    addWatchRow(kVendorId, kApplicationProductId,
                [](CVN::USB::IUSBDevice* device, uint16_t) -> std::shared_ptr<XmegaUSBDevice> {
                    return Streaming2XmegaUSBDevice::make(device);
                });
}

DeckControllerXmegaUSBNotifier::~DeckControllerXmegaUSBNotifier() = default;

void DeckControllerXmegaUSBNotifier::addWatchRows()
{
    addWatchRow(kVendorId, kBootloaderProductId, factory());
}
