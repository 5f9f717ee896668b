#include "plugins/deckcontroller/deckcontrollerfamily.h"

#include "framework/contract/tendwellwindow.h"
#include "plugins/deckcontroller/deckcontrollerproductcard.h"
#include "plugins/deckcontroller/deckcontrollerxmegausbnotifier.h"
#include "plugins/deckcontroller/firmwarecatalogue.h"
#include "plugins/deckcontroller/firmwareupdatecontroller.h"
#include "plugins/deckcontroller/streaming2xmegausbdevice.h"
#include "plugins/deckcontroller/visibledeckcontrollerusb.h"

#include <QStringList>

#include <algorithm>
#include <exception>
#include <iostream>

namespace {

const uint16_t kSupportedProducts[] = {VisibleDeckController::kProductId};

bool supportedProduct(uint16_t id)
{
    return std::find(std::begin(kSupportedProducts), std::end(kSupportedProducts), id) !=
           std::end(kSupportedProducts);
}

} // namespace

DeckControllerFamily::DeckControllerFamily(TendwellWindow* window)
    : Family(window)
    , m_window(window)
{
    setAccentColour(QColor(85, 140, 63, 255));
    qRegisterMetaType<QMainWindow*>("QMainWindow*");
    connect(this, &DeckControllerFamily::usbDeviceAdded, this,
            &DeckControllerFamily::onUsbDeviceAdded);
    connect(this, &DeckControllerFamily::usbDeviceRemoved, this,
            &DeckControllerFamily::onUsbDeviceRemoved);
}

DeckControllerFamily::~DeckControllerFamily()
{
    stopDiscovery();
    m_controller.reset();
    // Each visible device waits for its running update thread as it goes, so no thread
    // outlives the family and the device it writes to.
    for (VisibleDeckController* device : m_devices)
        delete device;
    m_devices.clear();
}

QString DeckControllerFamily::name() const
{
    return QStringLiteral("DeckController");
}

void DeckControllerFamily::startDiscovery()
{
    if (m_qtNotifier)
        return;
    m_qtNotifier = std::make_unique<QtXmegaUSBNotifier<XmegaUSBDevice>>();
    m_xmegaNotifier = std::make_unique<DeckControllerXmegaUSBNotifier>();
    // Registered against the main window, whose device-change messages the host offers to
    // every family.
    Platform::Recipient* recipient =
        m_window ? m_window->notificationRecipient() : notificationWindowId();
    m_xmegaNotifier->setNotificationWindow(recipient, 0);
    m_qtNotifier->setDelegate(this);
    // A unit found in its boot loader stays there: a firmware write may have put it there and
    // waits for it.
    m_qtNotifier->start(m_xmegaNotifier.get(), false);
}

void DeckControllerFamily::stopDiscovery()
{
    // The USB side stops before the registry it reports to.
    m_xmegaNotifier.reset();
    if (m_qtNotifier)
        m_qtNotifier->setDelegate(nullptr);
    m_qtNotifier.reset();
}

bool DeckControllerFamily::nativeEvent(const Platform::Message* message)
{
    if (!message || !m_xmegaNotifier)
        return false;
    return m_xmegaNotifier->handleDeviceChangeMessage(*message);
}

bool DeckControllerFamily::isSupported(Handle& handle, bool removal)
{
    std::shared_ptr<XmegaUSBDevice> device;
    {
        std::lock_guard<std::mutex> lock(handle.mutex());
        handle.refreshLocked();
    }
    device = handle.device();
    if (!device)
        return false;
    uint16_t productId = 0;
    if (device->getProductId(productId))
        return supportedProduct(productId);
    // A unit that has left the bus no longer tells its product id; the device object the
    // notifier made for it still says what it was.
    return removal && std::dynamic_pointer_cast<Streaming2XmegaUSBDevice>(device) != nullptr;
}

void DeckControllerFamily::arrived(Handle& device)
{
    Handle copy(device);
    if (isSupported(copy, false))
        emit usbDeviceAdded(copy);
}

void DeckControllerFamily::rebooted(Handle&)
{
    // The unit keeps its visible device and is reached again through its unique id.
}

void DeckControllerFamily::removed(Handle& device)
{
    Handle copy(device);
    if (isSupported(copy, true))
        emit usbDeviceRemoved(copy);
}

void DeckControllerFamily::dropNullNodes()
{
    m_devices.remove(nullptr);
}

void DeckControllerFamily::onUsbDeviceAdded(QtXmegaUSBDevice<XmegaUSBDevice>& handle)
{
    try {
        auto* added = new VisibleDeckControllerUSB(handle, this);
        added->initialise();
        const std::string id = handle.uniqueId().isValid() ? handle.uniqueId().toHex() : "";
        for (VisibleDeckController*& node : m_devices) {
            if (!node || node->uniqueId() != id)
                continue;
            VisibleDeckController* old = node;
            node = nullptr;
            emit deviceRemoved(old);
            if (old->isUsbDevice())
                old->deleteLater();
            else
                added->setReplacedDevice(old);
        }
        dropNullNodes();
        m_devices.push_front(added);
        emit deviceArrived(added);
    } catch (const std::exception& e) {
        std::cerr << "DeckControllerFamily::onUsbDeviceAdded"
                  << ": " << e.what() << std::endl;
        dropNullNodes();
    }
}

void DeckControllerFamily::onUsbDeviceRemoved(QtXmegaUSBDevice<XmegaUSBDevice>& handle)
{
    const std::string id = handle.uniqueId().isValid() ? handle.uniqueId().toHex() : "";
    for (VisibleDeckController*& node : m_devices) {
        if (!node || !node->isUsbDevice() || node->uniqueId() != id)
            continue;
        VisibleDeckController* old = node;
        auto* replaced = static_cast<VisibleDeckController*>(old->replacedDevice());
        node = replaced;
        emit deviceRemoved(old);
        old->deleteLater();
        if (replaced)
            emit deviceArrived(replaced);
    }
    dropNullNodes();
}

QList<VisibleDeckController*> DeckControllerFamily::visibleDevices() const
{
    QList<VisibleDeckController*> list;
    for (VisibleDeckController* device : m_devices)
        if (device)
            list << device;
    return list;
}

VisibleDeckController* DeckControllerFamily::find(VisibleDevice* device) const
{
    for (VisibleDeckController* node : m_devices)
        if (node && static_cast<VisibleDevice*>(node) == device)
            return node;
    return nullptr;
}

void DeckControllerFamily::showDevice(VisibleDevice* device)
{
    VisibleDeckController* found = find(device);
    if (!found)
        return;
    IDeckControllerDevice* unit = found->device();
    if (unit && unit->isRecovery()) {
        updateFirmware(device);
        return;
    }
    auto* card = new DeckControllerProductCard(found, m_window);
    connect(card, &DeckControllerProductCard::firmwareUpdateRequested, this,
            &DeckControllerFamily::onFirmwareUpdateRequested);
}

void DeckControllerFamily::updateFirmware(VisibleDevice* device)
{
    if (VisibleDeckController* found = find(device))
        onFirmwareUpdateRequested(found, m_window);
}

void DeckControllerFamily::setController(FirmwareUpdateController* controller)
{
    m_controller.reset(controller);
}

void DeckControllerFamily::onFirmwareUpdateRequested(VisibleDeckController* device,
                                                     QMainWindow* parent)
{
    // The previous controller and its dialog go first.
    m_controller.reset();
    if (!device)
        return;
    try {
        setController(new FirmwareUpdateController(device, parent));
    } catch (const std::exception& e) {
        std::cerr << "DeckControllerFamily::onFirmwareUpdateRequested: " << e.what() << std::endl;
    }
}

QString DeckControllerFamily::reportLine(const QString& key, const QString& value)
{
    const int fill = std::max(0, 14 - int(key.size()));
    return QLatin1Char('\t') + key + QLatin1Char(':') + QString(fill, QLatin1Char(' ')) + value +
           QLatin1Char('\n');
}

QString DeckControllerFamily::reportHex(uint16_t value)
{
    return QStringLiteral("0x%1").arg(value, 4, 16, QLatin1Char('0'));
}

QString DeckControllerFamily::keyValueBlock(const std::string& text)
{
    QString block;
    const QStringList lines = QString::fromStdString(text).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList parts = line.split(QLatin1Char(':'));
        // A line without a colon is shown whole, with an empty value.
        block += reportLine(parts.value(0), parts.value(1));
    }
    return block;
}

QString DeckControllerFamily::deviceReport(VisibleDeckController* visible,
                                           const QString& noIdentity)
{
    QString text;
    IDeckControllerDevice* device = visible->device();
    uint16_t productId = 0, releaseId = 0;
    std::string uniqueId;
    if (device->getProductId(productId) && device->getReleaseId(releaseId) &&
        device->getUniqueId(uniqueId)) {
        text +=
            QStringLiteral("\n%1 (%2):\n")
                .arg(VisibleDeckController::modelName(productId),
                     visible->isUsbDevice() ? QStringLiteral("USB") : QStringLiteral("Ethernet"));
        std::string name;
        if (device->getUnitName(name))
            text += reportLine(QStringLiteral("Name"), QString::fromStdString(name));
        text += reportLine(QStringLiteral("Unique Id"), QString::fromStdString(uniqueId));
        text += reportLine(QStringLiteral("Product Id"), reportHex(productId));
        text += reportLine(QStringLiteral("Revision Id"), reportHex(releaseId));
    } else {
        text += noIdentity;
    }
    std::string firmware;
    if (device->getFirmwareString(firmware))
        text += keyValueBlock(firmware);
    else
        text += QStringLiteral("\tno firmware info\n");
    return text;
}

QString DeckControllerFamily::availableFirmwareReport(uint16_t productId)
{
    QString text = QStringLiteral("\n%1:\n").arg(VisibleDeckController::modelName(productId));
    text += reportLine(QStringLiteral("Product Id"), reportHex(productId));
    // The carried identity does not need the package file.
    text += keyValueBlock(
        FirmwareCatalogue::firmwareText(FirmwareCatalogue::expectedXmegaChecksum(productId),
                                        FirmwareCatalogue::expectedCpuChecksum(productId),
                                        FirmwareCatalogue::expectedFpgaVersion(productId)));
    return text;
}

QString DeckControllerFamily::buildDetails()
{
    QString report;
    if (!m_devices.empty())
        report += QStringLiteral("\n** Connected Devices:\n");
    for (VisibleDeckController* visible : m_devices) {
        IDeckControllerDevice* device = visible ? visible->device() : nullptr;
        if (!device || device->getApplicationState() == 0)
            continue;
        report += deviceReport(visible, QStringLiteral("\nDevice:\n"));
    }
    report += QStringLiteral("\n** Available Firmware:\n");
    for (uint16_t productId : kSupportedProducts)
        report += availableFirmwareReport(productId);
    return report;
}
