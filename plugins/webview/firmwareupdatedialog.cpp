#include "firmwareupdatedialog.h"

FirmwareUpdateDialog::FirmwareUpdateDialog(QWidget* parent)
    : CommonDialog(tr("Software Update"), parent)
{
}

void FirmwareUpdateDialog::setState(int state)
{
    QString title = tr("Software Update");
    switch (state) {
    case UpdateAvailable:
        showMessage(tr("Update Available!"),
                    tr("You can still use the %1 if you don't update, but it may be missing the "
                       "latest features.")
                        .arg(m_productName));
        showChoice(tr("Continue"), tr("Update"));
        break;
    case UpdateRequired:
        showMessage(tr("Update Required!"),
                    tr("Would you like to update your %1 software now?").arg(m_productName));
        showChoice(tr("Cancel"), tr("Update"));
        break;
    case Updating:
        showMessage(tr("Updating Software..."),
                    tr("Please don't unplug the %1 while updating!").arg(m_productName));
        showProgress();
        break;
    case Complete:
        showMessage(tr("Update Complete!"),
                    tr("Your %1 has been updated and is ready to use.").arg(m_productName));
        showSingleButton(tr("Done"));
        break;
    case UpdateFailed:
        showMessage(tr("Update Failed!"), tr("Please check your connections and try again."));
        showSingleButton(tr("Close"));
        break;
    case Incompatible:
        showMessage(
            tr("Software Incompatible!"),
            tr("Please download the latest version of your %1 software.").arg(m_productName));
        showSingleButton(tr("Close"));
        title = tr("Incompatible Software");
        break;
    case RemoteUpdatesRefused:
        showMessage(tr("Remote Updates Disabled!"),
                    tr("Your %1 is configured to only allow updates via USB.").arg(m_productName));
        showSingleButton(tr("Close"));
        break;
    default:
        return;
    }
    m_state = state;
    setTitle(title);
}
