#pragma once

#include <QSlider>

// A horizontal slider of a settings row. Without keyboard focus it leaves the mouse wheel and
// the keys to the card, so wheeling over a long page scrolls it.
class SettingsSlider : public QSlider
{
    Q_OBJECT
public:
    explicit SettingsSlider(QWidget* parent = nullptr);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
