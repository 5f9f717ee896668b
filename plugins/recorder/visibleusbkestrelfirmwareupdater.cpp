#include "plugins/recorder/visibleusbkestrelfirmwareupdater.h"

#include "plugins/recorder/ikestrel.h"

VisibleUSBKestrelFirmwareUpdater::VisibleUSBKestrelFirmwareUpdater(
    CVN::DiskRecorder::IKestrel* device)
    : DeviceFirmwareUpdater(nullptr)
{
    m_updater.setDevice(device);
}

VisibleUSBKestrelFirmwareUpdater::~VisibleUSBKestrelFirmwareUpdater()
{
    // Nothing the thread still sends may reach this half-destroyed object.
    disconnect(&m_updater, nullptr, this, nullptr);
    m_updater.waitForEnd();
}

QSharedPointer<VisibleUSBKestrelFirmwareUpdater>
VisibleUSBKestrelFirmwareUpdater::create(CVN::DiskRecorder::IKestrel* device)
{
    return QSharedPointer<VisibleUSBKestrelFirmwareUpdater>(
        new VisibleUSBKestrelFirmwareUpdater(device), &QObject::deleteLater);
}

bool VisibleUSBKestrelFirmwareUpdater::checkDevice()
{
    CVN::DiskRecorder::IKestrel* device = m_updater.device();
    return device && device->isFirmwareCurrent();
}

void VisibleUSBKestrelFirmwareUpdater::start()
{
    // The signals come from the updater's thread: queued. Connected by signature, so that no
    // slot object is shared with that thread.
    connect(&m_updater, SIGNAL(progressed(float)), this, SLOT(onProgress(float)),
            Qt::UniqueConnection);
    connect(&m_updater, SIGNAL(complete(bool)), this, SLOT(onCompletion(bool)),
            Qt::UniqueConnection);
    // A second start while one runs waits for that run's end.
    m_updater.startUpdate();
}

bool VisibleUSBKestrelFirmwareUpdater::setCodec(quint32 fourCC)
{
    return m_updater.setCodecMode(fourCC);
}

void VisibleUSBKestrelFirmwareUpdater::onProgress(float fraction)
{
    emit firmwareUpdateProgress(percentFromFraction(fraction));
}

void VisibleUSBKestrelFirmwareUpdater::onCompletion(bool succeeded)
{
    disconnect(&m_updater, nullptr, this, nullptr);
    emit firmwareUpdated(succeeded ? Succeeded : Failed);
}
