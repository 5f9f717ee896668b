#include "plugins/recorder/kestrelfamily.h"

#include "framework/contract/tendwellwindow.h"
#include "kestrelbuildinfo.h"
#include "plugins/recorder/fx2ramimagetable.h"
#include "plugins/recorder/ikestrel.h"
#include "plugins/recorder/kestrelfx2usbnotifier.h"
#include "plugins/recorder/kestrelmodeltable.h"
#include "plugins/recorder/kestrelproductcard.h"
#include "plugins/recorder/kestrelxmegastreamingusbnotifier.h"
#include "plugins/recorder/kestrelxmegausbnotifier.h"
#include "plugins/recorder/visibleusbkestrel.h"
#include "plugins/shared/firmwarefilelocator.h"

#include <QFileInfo>

using namespace CVN::DiskRecorder;

namespace {

QString hex(quint32 value, int digits)
{
    return QString::number(value, 16).rightJustified(digits, QLatin1Char('0'));
}

QString modelName(quint16 productId)
{
    return KestrelModelTable::name(KestrelModelTable::model(productId));
}

// The firmware the packages of this build carry, as the report lists it.
struct CarriedFirmware
{
    quint16 productId;
    quint8 fpgaVersion;
    quint32 cpuChecksum;
};

constexpr CarriedFirmware kPocket = {0xC34C, 0x1A, 0x570E71DA};
constexpr CarriedFirmware kPocket2 = {0xC35A, 0x0A, 0xEADDC15D};
constexpr quint8 kPocket2ProResFpgaVersion = 0x0A;
constexpr CarriedFirmware kBench = {0xC34D, 0x2D, 0x1A6291BD};
constexpr CarriedFirmware kBenchUhd = {0xC3A6, 0x10, 0x16327E57};
constexpr CarriedFirmware kBenchMax = {0xC3A3, 0x2C, 0xFF6F8B68};
constexpr quint16 kBenchMaxV1ProductId = 0xC367;
constexpr CarriedFirmware kBenchLite = {0xC3E4, 0x0B, 0x1633975A};
constexpr quint16 kBenchLiteOtherProductId = 0xBE0F;
constexpr quint32 kBenchLiteXmegaChecksum = 0xCC7FF2DD;

QString plainEntry(const CarriedFirmware& f)
{
    return QStringLiteral("\n\t%1:\n\tProduct Id:\t0x%2\n\tFPGA Version:\t0x%3\n\tCPU "
                          "Checksum:\t0x%4\n")
        .arg(modelName(f.productId), hex(f.productId, 4), hex(f.fpgaVersion, 2),
             hex(f.cpuChecksum, 8));
}

// Where the FX2 recorders' RAM programs are read from: the firmware's folder.
QString fx2ImageFolder()
{
    const QString resources = QString::fromStdString(FirmwareFileLocator::resourcesDirectory());
    if (!resources.isEmpty())
        return resources;
    return QFileInfo(QString::fromStdString(FirmwareFileLocator::programPath())).absolutePath();
}

} // namespace

KestrelFamily::KestrelFamily(TendwellWindow* window)
    : Family(window)
    , m_window(window)
{
}

KestrelFamily::~KestrelFamily()
{
    stopDiscovery();
    const QList<VisibleUSBKestrel*> devices = m_devices;
    m_devices.clear();
    qDeleteAll(devices);
}

void KestrelFamily::stopDiscovery()
{
    m_fx2Notifier.reset();
    m_xmegaNotifier.reset();
    m_streamingNotifier.reset();
}

QString KestrelFamily::name() const
{
    return QStringLiteral("Kestrel");
}

void KestrelFamily::startDiscovery()
{
    if (m_fx2Notifier)
        return;
    Platform::Recipient* window = notificationWindowId();
    m_fx2Notifier =
        std::make_unique<KestrelFX2USBNotifier>(Fx2RamImageTable::fromDirectory(fx2ImageFolder()));
    m_fx2Notifier->start(this, window);
    m_xmegaNotifier = std::make_unique<KestrelXmegaUSBNotifier>();
    m_xmegaNotifier->start(this, window);
    m_streamingNotifier = std::make_unique<KestrelXmegaStreamingUSBNotifier>();
    m_streamingNotifier->start(this, window);
}

bool KestrelFamily::nativeEvent(const Platform::Message* message)
{
    if (!message)
        return false;
    // In the order the notifiers started.
    return (m_fx2Notifier && m_fx2Notifier->handleDeviceChange(*message)) ||
           (m_xmegaNotifier && m_xmegaNotifier->handleDeviceChange(*message)) ||
           (m_streamingNotifier && m_streamingNotifier->handleDeviceChange(*message));
}

VisibleUSBKestrel* KestrelFamily::find(VisibleDevice* device) const
{
    for (VisibleUSBKestrel* visible : m_devices)
        if (device && static_cast<VisibleDevice*>(visible) == device)
            return visible;
    return nullptr;
}

void KestrelFamily::showDevice(VisibleDevice* device)
{
    if (VisibleUSBKestrel* visible = find(device))
        (new KestrelProductCard(visible, this, m_window))->show();
}

void KestrelFamily::updateFirmware(VisibleDevice* device)
{
    VisibleUSBKestrel* visible = find(device);
    if (!visible)
        return;
    auto* card = new KestrelProductCard(visible, this, m_window);
    // Whatever the outcome, the card goes once the update has reported, and the gallery shows
    // the device afresh.
    card->setClosesAfterUpdate(true);
    connect(card, &QObject::destroyed, this, [this, visible] {
        if (m_devices.contains(visible))
            emit deviceInfoChanged(visible);
    });
    card->onFirmwareUpdateRequested(false);
}

void KestrelFamily::deviceArrived(IKestrel* device)
{
    auto* visible = new VisibleUSBKestrel(device, this);
    m_devices.append(visible);
    emit deviceArrived(static_cast<VisibleDevice*>(visible));
}

void KestrelFamily::deviceRemoved(IKestrel* device)
{
    for (int i = 0; i < m_devices.size(); ++i) {
        VisibleUSBKestrel* visible = m_devices.at(i);
        if (!visible->matchesDevice(device))
            continue;
        m_devices.removeAt(i);
        emit deviceRemoved(static_cast<VisibleDevice*>(visible));
        delete visible;
        return;
    }
}

QString KestrelFamily::buildHeader()
{
    return QStringLiteral("** Kestrel plugin build information\n\tTime:     \t") +
           QStringLiteral(KESTREL_BUILD_TIME) + QStringLiteral("\n\tRC Tag:   \t") +
           QStringLiteral(KESTREL_RC_TAG) + QStringLiteral("\n\tRevision: \t") +
           QStringLiteral(KESTREL_REVISION) + QStringLiteral("\n");
}

QString KestrelFamily::deviceReport(IKestrel& device)
{
    QString text;
    quint16 productId = 0;
    if (device.getProductId(productId)) {
        text += QStringLiteral("\n\t%1: \n").arg(modelName(productId));
        text += QStringLiteral("\tProduct Id:\t0x%1\n").arg(hex(productId, 4));
    } else {
        text += QStringLiteral("\n\tDevice: \n");
    }
    text += QStringLiteral("\tFPGA Firmware:\t0x%1\n").arg(hex(device.fpgaVersion() & 0xFF, 2));
    text += QStringLiteral("\tCPU Checksum:\t0x%1\n").arg(hex(device.cpuChecksum(), 8));
    return text;
}

QString KestrelFamily::availableFirmware()
{
    QString text = QStringLiteral("\n** Available Firmware:\n");
    text += plainEntry(kPocket);
    text += QStringLiteral("\n\t%1:\n\tProduct Id:\t0x%2\n\tFPGA Version:\t0x%3\n\tCPU "
                           "Checksum:\t0x%4\n\tFPGA ProRes Version:\t0x%5\n")
                .arg(modelName(kPocket2.productId), hex(kPocket2.productId, 4),
                     hex(kPocket2.fpgaVersion, 2), hex(kPocket2.cpuChecksum, 8),
                     hex(kPocket2ProResFpgaVersion, 2));
    text += plainEntry(kBench);
    text += plainEntry(kBenchUhd);
    text += QStringLiteral("\n\t%1:\n\tProduct Id:\t0x%2\n\tProduct Id (V1):\t0x%3\n\tFPGA "
                           "Version:\t0x%4\n\tCPU Checksum:\t0x%5\n")
                .arg(modelName(kBenchMax.productId), hex(kBenchMax.productId, 4),
                     hex(kBenchMaxV1ProductId, 4), hex(kBenchMax.fpgaVersion, 2),
                     hex(kBenchMax.cpuChecksum, 8));
    text += QStringLiteral("\n\t%1:\n\tProduct Id:\t0x%2,0x%3\n\tFPGA Version:\t0x%4\n\tCPU "
                           "Checksum:\t0x%5\n\tXmega Checksum:\t0x%6\n")
                .arg(modelName(kBenchLite.productId), hex(kBenchLite.productId, 4),
                     hex(kBenchLiteOtherProductId, 4), hex(kBenchLite.fpgaVersion, 2),
                     hex(kBenchLite.cpuChecksum, 8), hex(kBenchLiteXmegaChecksum, 8));
    return text;
}

QString KestrelFamily::buildDetails()
{
    QString report = buildHeader();
    if (!m_devices.isEmpty()) {
        report += QStringLiteral("\n** Connected Devices: \n");
        for (VisibleUSBKestrel* visible : std::as_const(m_devices)) {
            IKestrel* device = visible->device();
            if (device && device->isConnected())
                report += deviceReport(*device);
        }
    }
    return report + availableFirmware();
}
