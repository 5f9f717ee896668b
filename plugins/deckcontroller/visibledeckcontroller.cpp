#include "plugins/deckcontroller/visibledeckcontroller.h"

#include "framework/contract/devicefirmwareupdater.h"
#include "framework/contract/family.h"
#include "plugins/deckcontroller/deckcontrollerconnection.h"

VisibleDeckController::VisibleDeckController(Family* owner)
    : QObject(nullptr)
    , VisibleDeviceBase(owner, QString(), QPixmap(), QPixmap(), kProductId)
{
}

VisibleDeckController::~VisibleDeckController() = default;

void VisibleDeckController::initialise() {}

std::string VisibleDeckController::uniqueId()
{
    std::string id;
    IDeckControllerDevice* d = device();
    if (!d || !d->getUniqueId(id))
        return {};
    return id;
}

QString VisibleDeckController::modelName(uint16_t productId)
{
    return productId == kProductId ? QStringLiteral("Kestrel Alder Control")
                                   : QStringLiteral("Unknown Product");
}

bool VisibleDeckController::productId(uint16_t& id)
{
    IDeckControllerDevice* d = device();
    return d && d->getProductId(id);
}

QString VisibleDeckController::productName()
{
    uint16_t id = 0;
    return productId(id) ? modelName(id) : QStringLiteral("Unknown Device");
}

QPixmap VisibleDeckController::productPixmap()
{
    uint16_t id = 0;
    return productId(id) && id == kProductId ? QPixmap(QStringLiteral(":DeckControllerA"))
                                             : QPixmap();
}

QPixmap VisibleDeckController::thumbnailPixmap()
{
    uint16_t id = 0;
    return productId(id) && id == kProductId ? QPixmap(QStringLiteral(":DeckControllerAThumb"))
                                             : QPixmap();
}

QString VisibleDeckController::displayName()
{
    IDeckControllerDevice* d = device();
    QString name;
    std::string unitName;
    if (d && d->getApplicationState() != 0 && d->getUnitName(unitName) && !unitName.empty())
        name = QString::fromStdString(unitName);
    else
        name = productName();
    if (d && d->isRecovery())
        name += QStringLiteral(" (Recovery)");
    return name;
}

QPixmap VisibleDeckController::connectionIcon(const char* network, const char* both,
                                              const char* usb)
{
    if (!isUsbDevice())
        return QPixmap(QString::fromLatin1(network));
    if (m_replaced)
        return QPixmap(QString::fromLatin1(both));
    Family* family = owner();
    if (family && family->handlesNetworkDevices())
        return QPixmap(QString::fromLatin1(usb));
    return QPixmap();
}

QPixmap VisibleDeckController::launcherConnectionIcon()
{
    return connectionIcon(":/Launcher_Connection_Network", ":/Launcher_Connection_Both",
                          ":/Launcher_Connection_USB");
}

QPixmap VisibleDeckController::cardConnectionIcon()
{
    return connectionIcon(":/Card_Connection_Network", ":/Card_Connection_Both",
                          ":/Card_Connection_USB");
}

bool VisibleDeckController::isUsbDevice()
{
    return false;
}

bool VisibleDeckController::showsFirmwareStatus()
{
    return true;
}

QString VisibleDeckController::softwareVersion()
{
    IDeckControllerDevice* d = device();
    std::string release;
    if (!d || d->getApplicationState() == 0 || !d->getReleaseString(release))
        return {};
    return QStringLiteral("Version ") + QString::fromStdString(release);
}

bool VisibleDeckController::isSupported()
{
    return true;
}

bool VisibleDeckController::needsFirmwareUpdate()
{
    IDeckControllerDevice* d = device();
    if (!d)
        return false;
    // A unit in recovery always needs its firmware.
    if (d->isRecovery())
        return true;
    if (!d->isFirmwareCompatible() || d->getApplicationState() == 0)
        return false;
    return !d->isFirmwareCurrent();
}

bool VisibleDeckController::isLegacy()
{
    return false;
}

QString VisibleDeckController::availableVersion()
{
    return QStringLiteral("Version 7.1");
}

QSharedPointer<DeviceFirmwareUpdater> VisibleDeckController::deviceHandle()
{
    return {};
}

bool VisibleDeckController::isTestMode()
{
    return false;
}

QWidget* VisibleDeckController::summaryWidget()
{
    return nullptr;
}

bool VisibleDeckController::isConnected()
{
    DeckControllerConnection* c = connection();
    return c && c->status() == DeckControllerConnection::Connected;
}

bool VisibleDeckController::hasControlApp()
{
    return false;
}

QPixmap VisibleDeckController::controlAppPixmap()
{
    return {};
}

QPixmap VisibleDeckController::controlAppHoverPixmap()
{
    return {};
}
