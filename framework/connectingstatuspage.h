#pragma once

#include "framework/statuspage.h"

class BusyButton;
class CardPushButton;
class QLabel;

// Shown while a family opens its device; either button gives up.
class ConnectingStatusPage : public StatusPage
{
    Q_OBJECT
public:
    explicit ConnectingStatusPage(QWidget* parent = nullptr);

    QLabel* label() const { return m_label; }
    BusyButton* busyButton() const { return m_busyButton; }
    CardPushButton* cancelButton() const { return m_cancelButton; }

Q_SIGNALS:
    void connectionCancelled();

private:
    BusyButton* m_busyButton;
    QLabel* m_label;
    CardPushButton* m_cancelButton;
};
