#pragma once

#include "framework/contract/family.h"
#include "plugins/recorder/ikestrelnotificationdelegate.h"

#include <QList>

#include <memory>

class TendwellWindow;
class VisibleUSBKestrel;

namespace CVN {
namespace DiskRecorder {
class IKestrel;
class KestrelFX2USBNotifier;
class KestrelXmegaUSBNotifier;
class KestrelXmegaStreamingUSBNotifier;
} // namespace DiskRecorder
} // namespace CVN

// The USB recorders of all three generations: one visible device per recorder a notifier
// reports, the card or the firmware update when the host asks, and the support report. Lives
// on the GUI thread; the notifiers report there.
class KestrelFamily : public Family, public CVN::DiskRecorder::IKestrelNotificationDelegate
{
    Q_OBJECT
public:
    explicit KestrelFamily(TendwellWindow* window);
    ~KestrelFamily() override;

    void stopDiscovery() override;
    QString name() const override;
    void startDiscovery() override;
    void showDevice(VisibleDevice* device) override;
    void updateFirmware(VisibleDevice* device) override;
    QString buildDetails() override;
    bool nativeEvent(const Platform::Message* message) override;

    // The notifiers' reports, on the GUI thread.
    void deviceArrived(CVN::DiskRecorder::IKestrel* device) override;
    void deviceRemoved(CVN::DiskRecorder::IKestrel* device) override;
    // The family's signals and operations of the same names stay in reach.
    using Family::deviceArrived;
    using Family::deviceRemoved;

    // The recorders listed now, in arrival order.
    const QList<VisibleUSBKestrel*>& devices() const { return m_devices; }

    // The first part of the support report: the plug-in's build.
    static QString buildHeader();
    // The last part: the firmware this build carries, model by model.
    static QString availableFirmware();

    // A recorder as the support report lists it.
    static QString deviceReport(CVN::DiskRecorder::IKestrel& device);

private:
    VisibleUSBKestrel* find(VisibleDevice* device) const;

    TendwellWindow* m_window;
    std::unique_ptr<CVN::DiskRecorder::KestrelFX2USBNotifier> m_fx2Notifier;
    std::unique_ptr<CVN::DiskRecorder::KestrelXmegaUSBNotifier> m_xmegaNotifier;
    std::unique_ptr<CVN::DiskRecorder::KestrelXmegaStreamingUSBNotifier> m_streamingNotifier;
    QList<VisibleUSBKestrel*> m_devices;
};
