#pragma once

#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QTimer>

#include <memory>

class DeviceFirmwareUpdater;
class FirmwareUpdateDialog;
class NovaVisibleDevice;

// Joins the update dialog to a recorder's firmware updater: asks the user, starts the update,
// follows its progress and reports to its owner when the user closes the dialog.
class FirmwareUpdateController : public QObject
{
    Q_OBJECT
public:
    static constexpr int kSuccessDelayMs = 1000;

    FirmwareUpdateController(FirmwareUpdateDialog* dialog,
                             std::shared_ptr<NovaVisibleDevice> visibleDevice);
    ~FirmwareUpdateController() override;

    void begin(bool confirm, bool required);

    FirmwareUpdateDialog* dialog() const { return m_dialog; }

Q_SIGNALS:
    void firmwareUpdated(bool success);

public Q_SLOTS:
    void onCloseOrDeclineClicked();
    void onAcceptClicked();
    void onFirmwareUpdateCompleted(int status);
    void onDisplaySuccessDialog();

private:
    QPointer<FirmwareUpdateDialog> m_dialog;
    std::shared_ptr<NovaVisibleDevice> m_visibleDevice;
    QSharedPointer<DeviceFirmwareUpdater> m_updater;
    QTimer m_successTimer;
    bool m_succeeded = false;
    bool m_required = false;
    // The user accepted: from then on the owner hears the update's own outcome.
    bool m_accepted = false;
};
