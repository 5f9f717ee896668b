#pragma once

#include "framework/contract/devicefirmwareupdater.h"
#include "plugins/recorder/deviceupdater.h"

#include <QSharedPointer>

namespace CVN {
namespace DiskRecorder {
class IKestrel;
} // namespace DiskRecorder
} // namespace CVN

// A USB recorder's firmware update as the card and dialog see it: one updater thread bound to
// the unit, its fraction shown as whole percent (-1 while the unit cannot tell) and its end
// as the framework's status. Lives on the GUI thread; destroying it waits for a running
// update to end.
class VisibleUSBKestrelFirmwareUpdater : public DeviceFirmwareUpdater
{
    Q_OBJECT
public:
    // The updater holds its own reference on the device (may be null).
    explicit VisibleUSBKestrelFirmwareUpdater(CVN::DiskRecorder::IKestrel* device);
    ~VisibleUSBKestrelFirmwareUpdater() override;

    // Shared as the visible device hands it out. Deleted later on its own thread once the last
    // holder lets go, so a holder may let go from inside one of its signals.
    static QSharedPointer<VisibleUSBKestrelFirmwareUpdater>
    create(CVN::DiskRecorder::IKestrel* device);

    // The unit runs the firmware this plug-in carries.
    bool checkDevice() override;
    void start() override;
    // The unit's recording codec (FourCC), which picks the FPGA image where there are two.
    bool setCodec(quint32 fourCC);

    DeviceUpdater& updater() { return m_updater; }

public Q_SLOTS:
    void onProgress(float fraction);
    void onCompletion(bool succeeded);

private:
    DeviceUpdater m_updater;
};
