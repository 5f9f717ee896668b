#pragma once

#include <QComboBox>

// A drop-down list of a settings row. It never takes keyboard focus, so the mouse wheel over it
// scrolls the card instead of changing the choice.
class SettingsComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit SettingsComboBox(QWidget* parent = nullptr, int width = 240);

protected:
    void wheelEvent(QWheelEvent* event) override;
};
