#pragma once

#include <QObject>

#include <cstdint>

class VisibleDeckController;

// Whether a listed deck controller can be talked to. Every change of status or information
// reaches the host as the owning family's deviceInfoChanged.
class DeckControllerConnection : public QObject
{
    Q_OBJECT
public:
    enum Status : uint32_t { None = 0, Connecting = 1, Connected = 2, Failed = 4 };

    explicit DeckControllerConnection(VisibleDeckController* device);

    // Polls the unit again with the attempts that are left.
    virtual void reconnect() = 0;
    // Makes the unit store its settings.
    virtual void applySettings() = 0;
    virtual bool settingsUpdateFailed() = 0;

    void setStatus(uint32_t status);
    uint32_t status() const { return m_status; }
    VisibleDeckController* visibleDevice() const { return m_device; }

Q_SIGNALS:
    void connectionStatusChanged(VisibleDeckController* device);
    void deviceInfoChanged(VisibleDeckController* device);

private:
    uint32_t m_status = None;
    VisibleDeckController* m_device;
};
