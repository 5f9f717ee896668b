#pragma once

#include "plugins/deckcontroller/firmwareupdatedialog.h"

#include <QObject>
#include <QPointer>

class QWidget;
class VisibleDeckController;

// One firmware update of a deck controller as the user sees it: asks, runs the unit's updater,
// follows its progress and restarts the unit after a successful update. The unit may leave at
// any time: it is held through a guarded pointer, and what it no longer answers is skipped.
class FirmwareUpdateController : public QObject
{
    Q_OBJECT
public:
    // Throws std::runtime_error "Failed to get firmware updater" for a unit without one.
    FirmwareUpdateController(VisibleDeckController* device, QWidget* parent);
    ~FirmwareUpdateController() override;

    FirmwareUpdateDialog* dialog() const { return m_dialog; }
    int lastStatus() const { return m_lastStatus; }

private Q_SLOTS:
    void onAcceptClicked();
    void onDeclineClicked();
    void onCloseClicked();
    void onFirmwareUpdated(int status);

private:
    QPointer<VisibleDeckController> m_device;
    // A child of the main window, which may delete it first when it goes.
    QPointer<FirmwareUpdateDialog> m_dialog;
    int m_lastStatus = 1;
};
