#pragma once

#include "framework/commondialog.h"

// The recorder's software update dialog, one state at a time.
class FirmwareUpdateDialog : public CommonDialog
{
    Q_OBJECT
public:
    enum State { Question = 0, Updating = 1, Complete = 2, UpdateFailed = 3 };

    explicit FirmwareUpdateDialog(QWidget* parent);

    void setState(int state);
    int state() const { return m_state; }

private:
    int m_state = -1;
};
