#pragma once

#include "framework/commondialog.h"

// Shown when no plug-in gave a family: the program has nothing to do, so closing it quits.
class BadInstallDialog : public CommonDialog
{
    Q_OBJECT
public:
    BadInstallDialog(QWidget* parent, const QString& title, const QString& message,
                     const QString& buttonText);
};
