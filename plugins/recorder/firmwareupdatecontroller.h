#pragma once

#include "plugins/recorder/firmwareupdatedialog.h"

#include <QObject>
#include <QPointer>
#include <QSharedPointer>

class DeviceFirmwareUpdater;
class QWidget;
class VisibleDevice;

// One firmware update of a recorder as the user sees it: asks (unless forced), runs the
// device's updater, follows its progress and tells the outcome. Whatever happens it reports
// firmwareUpdated exactly once: its owner (the card) may delete it on that signal, and must
// hear it to do so.
class FirmwareUpdateController : public QObject
{
    Q_OBJECT
public:
    // The visible device is only read by begin(); the dialog is made on `window`.
    FirmwareUpdateController(QWidget* window, VisibleDevice* visibleDevice);
    ~FirmwareUpdateController() override;

    // The unit's recording codec (FourCC, 0 none), handed to the updater by begin().
    void setCodec(quint32 fourCC) { m_codec = fourCC; }
    // Asks first unless forced; reports at once when there is nothing to do.
    void begin(bool force);

    FirmwareUpdateDialog* dialog() const { return m_dialog; }
    bool succeeded() const { return m_succeeded; }
    bool isUpdating() const { return m_updating; }

Q_SIGNALS:
    void firmwareUpdated(bool succeeded);

private Q_SLOTS:
    void onAcceptClicked();
    void onCloseOrDeclineClicked();
    void onFirmwareUpdateTermination(int status);
    void onDialogDestroyed();

private:
    void startUpdate();
    void report(bool succeeded);
    void disconnectUpdater();

    VisibleDevice* m_visibleDevice;
    QSharedPointer<DeviceFirmwareUpdater> m_updater;
    // A child of the window, which may delete it first when it goes.
    QPointer<FirmwareUpdateDialog> m_dialog;
    QPointer<QWidget> m_window;
    bool m_succeeded = true;
    quint32 m_codec = 0;
    bool m_updating = false;
    bool m_reported = false;
};
