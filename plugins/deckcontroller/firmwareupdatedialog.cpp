#include "plugins/deckcontroller/firmwareupdatedialog.h"

FirmwareUpdateDialog::FirmwareUpdateDialog(QWidget* parent)
    : CommonDialog(tr("Software Update"), parent)
{
}

void FirmwareUpdateDialog::setState(int state)
{
    m_state = state;
    switch (state) {
    case Available:
        showMessage(tr("Update Available!"),
                    tr("Would you like to update your Kestrel software now?"));
        showChoice(tr("Cancel"), tr("Update"));
        break;
    case Updating:
        showMessage(tr("Updating Software..."),
                    tr("Please don't unplug the Kestrel while updating!"));
        showProgress();
        break;
    case Complete:
        showMessage(tr("Update Complete!"),
                    tr("Your Kestrel has been updated and needs to restart."));
        showSingleButton(tr("Restart"));
        break;
    case UpdateFailed:
        showMessage(tr("Update Failed!"), tr("Updating the Kestrel software failed."));
        showSingleButton(tr("Close"));
        break;
    default:
        break;
    }
}
