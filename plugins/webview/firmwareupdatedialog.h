#pragma once

#include "framework/commondialog.h"

// The web-view plug-in's software update dialog: asks, shows the progress and the result, one
// state at a time; the texts name the product.
class FirmwareUpdateDialog : public CommonDialog
{
    Q_OBJECT
public:
    enum State {
        UpdateAvailable = 0,
        UpdateRequired = 1,
        Updating = 2,
        Complete = 3,
        UpdateFailed = 4,
        Incompatible = 5,
        RemoteUpdatesRefused = 6,
    };

    explicit FirmwareUpdateDialog(QWidget* parent);

    virtual void setState(int state);
    int state() const { return m_state; }

    void setProductName(const QString& name) { m_productName = name; }
    QString productName() const { return m_productName; }

private:
    QString m_productName;
    int m_state = -1;
};
