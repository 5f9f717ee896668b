#pragma once

#include <QPushButton>

// The gallery's text button, in the card UI's push-button look.
class LauncherPushButton : public QPushButton
{
    Q_OBJECT
public:
    explicit LauncherPushButton(const QString& text, QWidget* parent = nullptr);
};
