#include "novafamily.h"

#include "bonjourconnectionmanager.h"
#include "connectionmanager.h"
#include "connectionstate.h"
#include "firmwareupdatecontroller.h"
#include "firmwareupdatedialog.h"
#include "novaproductcard.h"
#include "novavisibledevice.h"
#include "plugins/shared/firmwarefilelocator.h"
#include "potentialdevice.h"

#include "framework/accentcolour.h"

#include <QDebug>
#include <QWidget>

#include <algorithm>

namespace {

constexpr int kLabelWidth = 20;

QString row(const QString& label, const QString& value)
{
    const int fill = std::max(0, kLabelWidth - int(label.size()));
    return QStringLiteral("\t%1:%2%3\n").arg(label, QString(fill, QLatin1Char(' ')), value);
}

QString hex(uint16_t value)
{
    return QStringLiteral("0x%1").arg(value, 4, 16, QLatin1Char('0'));
}

} // namespace

NovaFamily::NovaFamily(QString name, QSet<QString> serviceTypes, QObject* window)
    : NovaFamilyBase(window)
    , m_name(std::move(name))
    , m_serviceTypes(std::move(serviceTypes))
{
}

NovaFamily::~NovaFamily()
{
    // Cards are gone by now (the window deletes its widgets first); do not hear from them.
    for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it)
        disconnect(it.key(), nullptr, this, nullptr);
}

void NovaFamily::startDiscovery()
{
    for (const auto& manager : m_managers)
        manager->start();
}

template<class F> bool NovaFamily::offerToBonjourManagers(F&& offer)
{
    for (const auto& manager : m_managers) {
        if (auto* bonjour = dynamic_cast<BonjourConnectionManager*>(manager.get())) {
            if (offer(bonjour))
                return true;
        }
    }
    return false;
}

bool NovaFamily::deviceAdded(BonjourInfo info)
{
    return offerToBonjourManagers(
        [&](BonjourConnectionManager* m) { return m->deviceAdded(info); });
}

bool NovaFamily::deviceRemoved(BonjourInfo info)
{
    return offerToBonjourManagers(
        [&](BonjourConnectionManager* m) { return m->deviceRemoved(info); });
}

bool NovaFamily::deviceUpdated(BonjourInfo info)
{
    return offerToBonjourManagers(
        [&](BonjourConnectionManager* m) { return m->deviceUpdated(info); });
}

bool NovaFamily::deviceResolved(const BonjourInfo& info, bool ok, QString hostName,
                                QString ipAddress, int port)
{
    const std::string host = hostName.toStdString();
    const std::string address = ipAddress.toStdString();
    return offerToBonjourManagers([&](BonjourConnectionManager* m) {
        return m->deviceResolved(info, ok, host, address, uint16_t(port));
    });
}

void NovaFamily::showControlApp(VisibleDevice* device)
{
    if (const VisiblePtr visible = find(device))
        visible->showControlApp();
}

void NovaFamily::showDevice(VisibleDevice* device, bool offerUpdate)
{
    const VisiblePtr visible = find(device);
    if (!visible)
        return;
    const DevicePtr primary = visible->primary();
    if (offerUpdate && primary && primary->allowsFirmwareUpdate() &&
        visible->needsFirmwareUpdate()) {
        // A legacy recorder's page cannot open before it is updated.
        startFirmwareUpdate(device, true, visible->isLegacy());
        return;
    }
    auto* card = new NovaProductCard(visible.get(), parentWindow(), accentColour());
    connect(card, &NovaProductCard::firmwareUpdateRequested, this,
            [this, device](bool confirm) { startFirmwareUpdate(device, confirm, true); });
    m_shownDevice = visible;
    m_cards.insert(card, visible);
    connect(card, &QObject::destroyed, this, &NovaFamily::onProductCardDestroyed);
    card->show();
}

void NovaFamily::onProductCardDestroyed()
{
    const VisiblePtr visible = m_cards.take(sender());
    if (!visible)
        return;
    const bool shown = visible == m_shownDevice;
    if (shown)
        m_shownDevice.reset();
    // Still open on another card: that card's closing decides.
    for (const VisiblePtr& other : std::as_const(m_cards)) {
        if (other == visible)
            return;
    }
    removeIfUnreachable(visible);
}

void NovaFamily::startFirmwareUpdate(VisibleDevice* device, bool askFirst, bool required)
{
    // One update at a time: replacing a running controller would delete it under its updater.
    if (m_controller)
        return;
    const VisiblePtr visible = find(device);
    if (!visible)
        return;
    FirmwareUpdateDialog* dialog = createFirmwareUpdateDialog(parentWindow());
    m_controller.reset(new FirmwareUpdateController(dialog, visible), &QObject::deleteLater);
    m_updatingDevice = visible;
    connect(m_controller.data(), &FirmwareUpdateController::firmwareUpdated, this,
            &NovaFamily::onFirmwareUpdateFinish);
    m_controller->begin(askFirst, required);
}

void NovaFamily::onFirmwareUpdateFinish(bool success)
{
    const VisiblePtr visible = std::exchange(m_updatingDevice, nullptr);
    m_controller.reset();
    if (!visible)
        return;
    // Its address and details change with the reboot; it may also have gone meanwhile.
    if (const DevicePtr primary = visible->primary())
        primary->requestResolve();
    if (!success)
        return;
    // A USB unit comes back from its update as a new device: open the card of whichever
    // device now stands for the recorder.
    VisiblePtr current = find(visible.get());
    for (auto it = m_visibleDevices.begin(); !current && it != m_visibleDevices.end(); ++it) {
        if ((*it)->uniqueId() == visible->uniqueId())
            current = *it;
    }
    if (current)
        showDevice(current.get(), false);
}

FirmwareUpdateDialog* NovaFamily::createFirmwareUpdateDialog(QWidget* parent)
{
    return new FirmwareUpdateDialog(parent);
}

void NovaFamily::addConnectionManager(const std::shared_ptr<ConnectionManager>& manager)
{
    for (const auto& [productId, record] : manager->products()) {
        FirmwareFileLocator locator(record.firmwareFile.toStdString());
        if (locator.firmwareFilePath().empty())
            qDebug() << "Failed to find firmware file"
                     << QString::fromStdString(locator.path.empty() ? locator.fileName
                                                                    : locator.path);
    }
    m_managers.push_back(manager);
}

void NovaFamily::addPotentialDevice(const DevicePtr& device)
{
    if (const VisiblePtr visible = findVisibleDeviceByUniqueId(device))
        addToVisibleDevice(visible, device);
    else
        createVisibleDevice(device);
    device->onAddedToFamily();
}

void NovaFamily::removePotentialDeviceByUniqueId(const DevicePtr& device)
{
    if (const VisiblePtr visible = findVisibleDeviceByUniqueId(device))
        removePotentialDevice(visible, device);
}

NovaFamily::VisiblePtr NovaFamily::findVisibleDeviceByUniqueId(const DevicePtr& device) const
{
    const QString uniqueId = device->uniqueId();
    for (const VisiblePtr& visible : m_visibleDevices) {
        if (visible->uniqueId() == uniqueId)
            return visible;
    }
    return nullptr;
}

void NovaFamily::addToVisibleDevice(const VisiblePtr& visible, const DevicePtr& device)
{
    visible->attachPotentialDevice(device);
}

void NovaFamily::removePotentialDevice(const VisiblePtr& visible, const DevicePtr& device)
{
    visible->detachPotentialDevice(device.get());
    // An open card keeps its device listed until it closes.
    if (!m_cards.key(visible))
        removeIfUnreachable(visible);
}

void NovaFamily::createVisibleDevice(const DevicePtr& device)
{
    m_visibleDevices.push_back(std::make_shared<NovaVisibleDevice>(this, device));
    emit deviceArrived(m_visibleDevices.back().get());
}

void NovaFamily::removeIfUnreachable(const VisiblePtr& visible)
{
    if (visible->primary())
        return;
    const auto it = std::find(m_visibleDevices.begin(), m_visibleDevices.end(), visible);
    if (it == m_visibleDevices.end())
        return;
    emit Family::deviceRemoved(static_cast<VisibleDevice*>(visible.get()));
    m_visibleDevices.erase(std::remove(m_visibleDevices.begin(), m_visibleDevices.end(), visible),
                           m_visibleDevices.end());
}

void NovaFamily::setBuildInfo(QString time, QString version, QString rcTag, QString revision)
{
    m_buildTime = std::move(time);
    m_buildVersion = std::move(version);
    m_rcTag = std::move(rcTag);
    m_revision = std::move(revision);
}

QString NovaFamily::buildDetails()
{
    QString text = QStringLiteral("** Plugin Build information\n\n");
    text += row(QStringLiteral("Time"), m_buildTime);
    text += row(QStringLiteral("RC Tag"), QStringLiteral("%1%2").arg(m_buildVersion, m_rcTag));
    text += row(QStringLiteral("Revision"), m_revision);
    text += QLatin1Char('\n');

    text += QStringLiteral("** Discovered Devices:\n\n");
    for (const VisiblePtr& visible : m_visibleDevices) {
        const DevicePtr device = visible->primary();
        if (!device)
            continue;
        const auto record = device->productRecord();
        text += QStringLiteral("\t%1\n").arg(record ? record->name : QString());
        text += row(QStringLiteral("Device Name"), device->name());
        text += row(QStringLiteral("Unique Id"), device->uniqueId());
        text += row(QStringLiteral("Product Id"), hex(device->productId()));
        text += row(QStringLiteral("Hardware Revision"), hex(device->hardwareRevision()));
        text += row(QStringLiteral("Firmware Build"), device->firmwareBuild());
        text += row(QStringLiteral("Release Version"), device->releaseVersion());
        const QString type = connectionTypeName(device->connectionType());
        text += row(QStringLiteral("Connection Type"), type.isEmpty() ? QStringLiteral("?") : type);
        text += QLatin1Char('\n');
    }

    text += QStringLiteral("** Available Firmware:\n\n");
    for (const auto& manager : m_managers) {
        text += QStringLiteral("%1 Supported Devices:\n\n").arg(manager->name());
        for (const auto& [productId, record] : manager->products()) {
            text += QStringLiteral("\t%1\n").arg(record.name);
            text += row(QStringLiteral("Product Id"), hex(productId));
            text += row(QStringLiteral("Hardware Revision"), hex(record.hardwareRevision));
            text += row(QStringLiteral("Firmware Build"), record.firmwareBuild);
            text += row(QStringLiteral("Release Version"), record.releaseVersion);
            text += QLatin1Char('\n');
        }
    }
    return text;
}

NovaFamily::VisiblePtr NovaFamily::find(VisibleDevice* device) const
{
    for (const VisiblePtr& visible : m_visibleDevices) {
        if (static_cast<VisibleDevice*>(visible.get()) == device)
            return visible;
    }
    return nullptr;
}

QWidget* NovaFamily::parentWindow() const
{
    return qobject_cast<QWidget*>(window());
}
