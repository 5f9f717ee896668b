#pragma once

#include "plugins/webview/potentialdevice.h"

#include <memory>

// A network recorder whose configuration web server listens on a loopback port (the simulated
// one of sim/novawebserver): it needs no resolving, and counts the resolves asked of it.
class LoopbackNovaDevice : public PotentialDevice
{
public:
    explicit LoopbackNovaDevice(quint16 port, int type = kEthernet,
                                const std::shared_ptr<ConnectionManager>& manager = nullptr)
        : PotentialDevice(manager)
        , m_port(port)
        , m_type(type)
    {
    }
    uint16_t productId() override { return 0xBE1D; }
    uint16_t hardwareRevision() override { return 0x100; }
    QString uniqueId() override { return QStringLiteral("nova-1"); }
    QString name() override { return QStringLiteral("Studio A"); }
    QString firmwareBuild() override { return QStringLiteral("8a4c1f02"); }
    QString releaseVersion() override { return QStringLiteral("8.4"); }
    int connectionType() override { return m_type; }
    void requestResolve() override { ++resolveRequests; }
    std::string host() override { return "127.0.0.1"; }
    uint16_t port() override { return m_port; }
    bool allowsFirmwareUpdate() override { return true; }
    bool isLegacy() override { return false; }
    uint16_t priority() override { return m_type == kUsb ? 10 : 20; }

    int resolveRequests = 0;

private:
    quint16 m_port;
    int m_type;
};
