#include "plugins/recorder/firmwareupdatedialog.h"

FirmwareUpdateDialog::FirmwareUpdateDialog(QWidget* parent)
    : CommonDialog(tr("Software Update"), parent)
{
}

void FirmwareUpdateDialog::setState(int state)
{
    switch (state) {
    case Question:
        showMessage(tr("Update Required!"), tr("Would you like to update your Kestrel now?"));
        showChoice(tr("Cancel"), tr("Update"));
        break;
    case Updating:
        showMessage(tr("Updating Software..."),
                    tr("Please don't unplug the Kestrel while updating!"));
        showProgress();
        break;
    case Complete:
        showMessage(tr("Update Complete!"),
                    tr("Your Kestrel has been updated and is ready to use."));
        showSingleButton(tr("Done"));
        break;
    case UpdateFailed:
        showMessage(tr("Update Failed!"), tr("Updating the Kestrel software failed."));
        showSingleButton(tr("Close"));
        break;
    default:
        return;
    }
    m_state = state;
    setTitle(tr("Software Update"));
}
