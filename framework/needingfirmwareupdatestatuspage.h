#pragma once

#include "framework/statuspage.h"

class QLabel;

// Shown instead of the settings when the device's software is too old to talk to. The page's
// owner offers the update and reports the answer through the two signals.
class NeedingFirmwareUpdateStatusPage : public StatusPage
{
    Q_OBJECT
public:
    explicit NeedingFirmwareUpdateStatusPage(QWidget* parent = nullptr);

    QLabel* label() const { return m_label; }

Q_SIGNALS:
    void updateRequested();
    void updateDeclined();

private:
    QLabel* m_label;
};
