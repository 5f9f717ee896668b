#pragma once

#include "plugins/deckcontroller/deckcontrollerconnection.h"

#include <QTimer>

// The connection of a USB deck controller: the unit counts as connected once its application
// answers or it is found in recovery. Polled on the GUI thread, at once and then every
// kRetryMs after the previous poll ended, kAttempts times before it counts as failed.
class DeckControllerUSBConnection : public DeckControllerConnection
{
    Q_OBJECT
public:
    static constexpr int kAttempts = 10;
    static constexpr int kRetryMs = 200;

    explicit DeckControllerUSBConnection(VisibleDeckController* device);

    void reconnect() override;
    void applySettings() override;
    bool settingsUpdateFailed() override;

    int attemptsLeft() const { return m_attemptsLeft; }

private Q_SLOTS:
    void onTimeout();

private:
    int m_attemptsLeft = kAttempts;
    VisibleDeckController* m_device;
    QTimer m_timer;
};
