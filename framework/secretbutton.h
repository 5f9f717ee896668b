#pragma once

#include <QWidget>

// An invisible hot spot: Alt + double click opens something hidden.
class SecretButton : public QWidget
{
    Q_OBJECT
public:
    explicit SecretButton(QWidget* parent = nullptr);

Q_SIGNALS:
    void secretClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
