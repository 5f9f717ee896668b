#pragma once

#include "usb/xmega/xmegausbdevice.h"
#include "usb/xmega/xmegausbnotifiertemplate.h"

// Watches for deck controllers: the application (0xBE32) as a device with its RPC stream, and
// the XMEGA boot loader (0xC386) as a plain XMEGA device.
class DeckControllerXmegaUSBNotifier : public XmegaUSBNotifierTemplate<XmegaUSBDevice>
{
public:
    static constexpr uint16_t kVendorId = 0x2C4A;
    static constexpr uint16_t kApplicationProductId = 0xBE32;
    static constexpr uint16_t kBootloaderProductId = 0xC386;

    DeckControllerXmegaUSBNotifier();
    ~DeckControllerXmegaUSBNotifier() override;

protected:
    void addWatchRows() override;
};
