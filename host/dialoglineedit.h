#pragma once

#include <QLineEdit>

// The text field of the host's small dialogs; Return moves on to the next control.
class DialogLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit DialogLineEdit(QWidget* parent = nullptr);

private Q_SLOTS:
    void onReturnPressed();
};
