#pragma once

#include <QDialog>

// A frameless pop-up with a soft shadow that stays on its screen and goes away when it loses
// activation.
class PopupWidget : public QDialog
{
    Q_OBJECT
public:
    explicit PopupWidget(QWidget* parent = nullptr);

    // Shows the pop-up with its top-left corner at `point` - (20, 20), leaving room for the
    // shadow.
    virtual void popup(const QPoint& point);

Q_SIGNALS:
    void aboutToHide();

protected:
    bool event(QEvent* event) override;

private:
    void keepOnScreen();
};
