#pragma once

#include "bonjourconnectionmanager.h"
#include "usbconnectionmanager.h"

#include <QSharedPointer>

#include <memory>

class BonjourPotentialDevice;
class NovaFamily;
class ConnectedDevice;
class DeviceFirmwareUpdater;
class NovaVisibleDevice;
class PotentialDevice;
class UsbPotentialDevice;
class QWidget;

// What the plug-in's managers make for each transport. Each failure is logged and returns
// empty: the manager then takes the device as not its own.

// The plug-in's connected device, for the products of its table only.
std::shared_ptr<ConnectedDevice> makeConnectedDevice(NovaVisibleDevice* visibleDevice,
                                                     std::shared_ptr<PotentialDevice> device);
// Legacy releases update over the block protocol, the others over HTTP.
QSharedPointer<DeviceFirmwareUpdater>
makeBonjourFirmwareUpdater(std::shared_ptr<BonjourConnectionManager> manager,
                           std::shared_ptr<BonjourPotentialDevice> device);
// USB units update over DFU.
QSharedPointer<DeviceFirmwareUpdater>
makeUsbFirmwareUpdater(std::shared_ptr<UsbConnectionManager> manager,
                       std::shared_ptr<UsbPotentialDevice> device);
// A device only from the service that matches its release: legacy releases from
// "_cvn_blockcfg._tcp.", the others from "_http._tcp.".
std::shared_ptr<BonjourPotentialDevice>
makeBonjourPotentialDevice(std::shared_ptr<BonjourConnectionManager> manager,
                           const BonjourInfo& info);
// The RPC-speaking unit with its tunnel proxy; a unit without RPC only while in its loader.
std::shared_ptr<UsbPotentialDevice>
makeUsbPotentialDevice(std::shared_ptr<UsbConnectionManager> manager, CVN::USB::IUSBDevice* device);
QWidget* makeNoWidget(NovaVisibleDevice* visibleDevice, std::shared_ptr<PotentialDevice> device);

// The plug-in's family as its initialisation builds it: both service types, the build stamp,
// the USB manager and then the network manager.
NovaFamily* createNovaFamily(QObject* window);
