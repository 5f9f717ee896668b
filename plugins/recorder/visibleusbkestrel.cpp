#include "plugins/recorder/visibleusbkestrel.h"

#include "plugins/recorder/ikestrel.h"
#include "plugins/recorder/kestrelmodeltable.h"
#include "plugins/recorder/kestrelxmegastreamingusbdevice.h"

#include <QCoreApplication>

using CVN::DiskRecorder::IKestrel;
using CVN::DiskRecorder::KestrelXmegaStreamingUSBDevice;

VisibleUSBKestrel::VisibleUSBKestrel(IKestrel* device, Family* owner)
    : VisibleKestrel(owner)
    , m_device(device)
{
    if (m_device) {
        m_device->addRef();
        std::uint16_t id = 0;
        if (m_device->getProductId(id)) {
            productId = id;
            setModel(quint32(KestrelModelTable::model(id)));
        }
    }
    m_firmwareUpdater = VisibleUSBKestrelFirmwareUpdater::create(m_device);
}

VisibleUSBKestrel::~VisibleUSBKestrel()
{
    // The updater keeps its own reference on the device while an update still holds it.
    m_firmwareUpdater.reset();
    if (m_device)
        m_device->release();
}

QString VisibleUSBKestrel::softwareVersion()
{
    if (m_model != KestrelModelTable::KestrelBenchLite)
        return {};
    auto* streaming = dynamic_cast<KestrelXmegaStreamingUSBDevice*>(m_device);
    std::string version;
    if (!streaming || !streaming->getSoftwareVersion(version) || version.empty())
        return {};
    return QCoreApplication::translate("VisibleUSBKestrel", "Version %1")
        .arg(QString::fromStdString(version));
}

bool VisibleUSBKestrel::needsFirmwareUpdate()
{
    return !(m_device && m_device->isFirmwareCurrent());
}

QSharedPointer<DeviceFirmwareUpdater> VisibleUSBKestrel::deviceHandle()
{
    return m_firmwareUpdater;
}

KestrelUSBConnection* VisibleUSBKestrel::createConnection()
{
    return new KestrelUSBConnection(m_device, m_model, nullptr);
}
