#pragma once

#include <QString>

class CardPushButton;
class QLabel;

// A settings row's value with an action button beside it (e.g. a version and "Update Now").
struct ValueWithButton
{
    QLabel* value = nullptr;
    CardPushButton* button = nullptr;

    // Highlighted: the value in the accent colour and bold, with the button; otherwise plain
    // grey text and no button.
    void setHighlighted(bool highlighted, const QString& text);
};
