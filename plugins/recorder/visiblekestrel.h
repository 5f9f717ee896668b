#pragma once

#include "framework/contract/visibledevice.h"

namespace CVN {
namespace DiskRecorder {
class IKestrel;
} // namespace DiskRecorder
} // namespace CVN

class KestrelConnection;

// A recorder as the gallery and its card see it: the model's name and pictures, fixed when the
// recorder is announced, and the answers that hold for every recorder kind.
class VisibleKestrel : public VisibleDeviceBase
{
public:
    explicit VisibleKestrel(Family* owner);

    QPixmap launcherConnectionIcon() override;
    QPixmap cardConnectionIcon() override;
    bool isUsbDevice() override { return false; }
    bool showsFirmwareStatus() override { return false; }
    bool isSupported() override { return true; }
    bool isLegacy() override { return false; }
    QString availableVersion() override { return {}; }
    bool isTestMode() override { return false; }
    QWidget* summaryWidget() override { return nullptr; }
    bool isConnected() override { return true; }
    bool hasControlApp() override { return false; }
    QPixmap controlAppPixmap() override { return {}; }
    QPixmap controlAppHoverPixmap() override { return {}; }

    virtual QString familyName();
    // A new connection to the recorder, without parent: the caller owns it.
    virtual KestrelConnection* createConnection() = 0;
    virtual CVN::DiskRecorder::IKestrel* device() = 0;
    virtual bool matchesDevice(CVN::DiskRecorder::IKestrel* device);
    virtual quint32 model();

protected:
    // Takes the model's name and pictures from the model table.
    void setModel(quint32 model);

    quint32 m_model;
};
