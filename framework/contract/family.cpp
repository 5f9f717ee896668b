#include "framework/contract/family.h"

#include "framework/accentcolour.h"
#include "framework/contract/visibledevice.h"
#include "framework/frameworkresources.h"

Family::Family(QObject* window)
    : QObject(window)
    , m_window(window)
{
    // Every plug-in makes a family early: its copy of the pictures is registered by then.
    initFrameworkResources();
}

// The receiver goes first: no message may reach a half-destroyed family.
Family::~Family()
{
    m_receiver.reset();
}

void Family::stopDiscovery() {}

QString Family::name() const
{
    return {};
}

bool Family::handlesNetworkDevices()
{
    return false;
}

QWidget* Family::customPage(DeviceList*, TendwellWindow*)
{
    return nullptr;
}

QSet<QString> Family::serviceNames()
{
    return {};
}

void Family::setAccentColour(QColor colour)
{
    setModuleAccentColour(colour);
}

void Family::startDiscovery() {}

bool Family::canClose()
{
    return true;
}

bool Family::deviceAdded(BonjourInfo)
{
    return false;
}

bool Family::deviceRemoved(BonjourInfo)
{
    return false;
}

bool Family::deviceUpdated(BonjourInfo)
{
    return false;
}

bool Family::deviceResolved(const BonjourInfo&, bool, QString, QString, int)
{
    return false;
}

void Family::showDevice(VisibleDevice*) {}

void Family::showControlApp(VisibleDevice*) {}

void Family::updateFirmware(VisibleDevice*) {}

QStringList Family::crossMenuOptions()
{
    return {};
}

void Family::crossMenuOptionSelected(QString) {}

QString Family::buildDetails()
{
    return {};
}

bool Family::nativeEvent(const Platform::Message*)
{
    return false;
}

Platform::Recipient* Family::notificationWindowId()
{
    if (!m_receiver) {
        m_receiver = std::make_unique<Platform::QtRecipient>(
            [this](const Platform::Message& message, intptr_t* result) {
                return receiveMessage(message, result);
            });
    }
    return m_receiver.get();
}

bool Family::receiveMessage(const Platform::Message& message, intptr_t* result)
{
    if (message.message != Platform::kWmDeviceChange)
        return false;
    if (!nativeEvent(&message))
        return false;
    if (result)
        *result = 1;
    return true;
}

void Family::onDeviceSelected(VisibleDevice* device)
{
    m_currentDevice = (device && device->owner() == this) ? device : nullptr;
}
