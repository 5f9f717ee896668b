#include "testfamily.h"

#include "framework/contract/tendwellwindow.h"
#include "platform/recipient.h"

#include <QPainter>

namespace {

QPixmap devicePicture(const QString& name, const QColor& colour)
{
    QPixmap picture(300, 200);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour.darker(150));
    painter.setPen(QPen(colour, 4));
    painter.drawRoundedRect(QRectF(10, 30, 280, 140), 16, 16);
    painter.setPen(Qt::white);
    painter.drawText(QRect(10, 30, 280, 140), Qt::AlignCenter, name);
    return picture;
}

QString describe(const BonjourInfo& info)
{
    return QString::fromStdString(info.serviceName);
}

} // namespace

TestDevice::TestDevice(Family* owner, const QString& name, const QColor& colour)
    : VisibleDeviceBase(owner, name, devicePicture(name, colour), QPixmap(), 0xC34C)
{
}

TestFamily::TestFamily(const QString& name, TendwellWindow* window)
    : Family(window)
    , m_name(name)
    , m_window(window)
{
    setObjectName(name);
    setProperty("canClose", true);
}

TestFamily::~TestFamily() = default;

QStringList* TestFamily::journal = nullptr;

void TestFamily::log(const QString& call)
{
    if (journal)
        journal->append(m_name + QLatin1Char(':') + call);
    QStringList list = calls();
    list.append(call);
    setProperty("calls", list);
}

bool TestFamily::claims(const QString& kind)
{
    return property("claim").toStringList().contains(kind);
}

QString TestFamily::name() const
{
    return m_name;
}

bool TestFamily::handlesNetworkDevices()
{
    return property("network").toBool();
}

QSet<QString> TestFamily::serviceNames()
{
    const QStringList names = property("serviceNames").toStringList();
    return QSet<QString>(names.begin(), names.end());
}

void TestFamily::startDiscovery()
{
    log(QStringLiteral("startDiscovery"));
    for (const QString& device : property("devices").toStringList())
        addDevice(device);
    if (property("postToWindow").toBool() && m_window) {
        Platform::Message message;
        message.message = Platform::kWmDeviceChange;
        message.wParam = Platform::kDbtDeviceArrival;
        m_window->notificationRecipient()->postMessage(message);
    }
}

void TestFamily::stopDiscovery()
{
    log(QStringLiteral("stopDiscovery"));
}

bool TestFamily::canClose()
{
    log(QStringLiteral("canClose"));
    return property("canClose").toBool();
}

bool TestFamily::deviceAdded(BonjourInfo info)
{
    log(QStringLiteral("added:") + describe(info));
    return claims(QStringLiteral("added"));
}

bool TestFamily::deviceRemoved(BonjourInfo info)
{
    log(QStringLiteral("removed:") + describe(info));
    return claims(QStringLiteral("removed"));
}

bool TestFamily::deviceUpdated(BonjourInfo info)
{
    log(QStringLiteral("updated:") + describe(info));
    return claims(QStringLiteral("updated"));
}

bool TestFamily::deviceResolved(const BonjourInfo& info, bool ok, QString hostName,
                                QString ipAddress, int port)
{
    log(QStringLiteral("resolved:%1:%2:%3:%4:%5")
            .arg(describe(info), ok ? QStringLiteral("ok") : QStringLiteral("failed"), hostName,
                 ipAddress)
            .arg(port));
    return claims(QStringLiteral("resolved"));
}

void TestFamily::showDevice(VisibleDevice* device)
{
    log(QStringLiteral("showDevice:") + device->displayName());
}

void TestFamily::showControlApp(VisibleDevice* device)
{
    log(QStringLiteral("showControlApp:") + device->displayName());
}

void TestFamily::updateFirmware(VisibleDevice* device)
{
    log(QStringLiteral("updateFirmware:") + device->displayName());
}

QStringList TestFamily::crossMenuOptions()
{
    return property("crossOptions").toStringList();
}

void TestFamily::crossMenuOptionSelected(QString option)
{
    log(QStringLiteral("option:") + option);
}

QString TestFamily::buildDetails()
{
    return QStringLiteral("%1 family\nbuilt for tests\n").arg(m_name);
}

bool TestFamily::nativeEvent(const Platform::Message* message)
{
    log(QStringLiteral("native:%1").arg(message->wParam, 0, 16));
    return claims(QStringLiteral("native"));
}

TestDevice* TestFamily::addDevice(const QString& name, const QColor& colour)
{
    m_devices.push_back(std::make_unique<TestDevice>(this, name, colour));
    TestDevice* device = m_devices.back().get();
    Q_EMIT deviceArrived(device);
    return device;
}

void TestFamily::removeDevice(TestDevice* device)
{
    Q_EMIT Family::deviceRemoved(static_cast<VisibleDevice*>(device));
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
        if (it->get() == device) {
            m_devices.erase(it);
            return;
        }
    }
}
