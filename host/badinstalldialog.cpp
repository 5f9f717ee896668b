#include "host/badinstalldialog.h"

#include <QCoreApplication>

BadInstallDialog::BadInstallDialog(QWidget* parent, const QString& title, const QString& message,
                                   const QString& buttonText)
    : CommonDialog(title, parent)
{
    showMessage(QString(), message);
    showSingleButton(buttonText);
    connect(this, &CommonDialog::closeClicked, qApp, &QCoreApplication::quit);
    show();
}
