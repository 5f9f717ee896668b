#pragma once

#include "framework/flatimagebutton.h"

class QTimer;

// A spinner that turns into a close cross under the mouse; animates only while busy and shown.
class BusyButton : public FlatImageButton
{
    Q_OBJECT
public:
    explicit BusyButton(QWidget* parent = nullptr);

    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }
    bool isAnimating() const;
    int frame() const { return m_frame; }

public Q_SLOTS:
    void updatePixmap();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer* m_timer;
    int m_frame = 0;
    bool m_busy = false;
};
