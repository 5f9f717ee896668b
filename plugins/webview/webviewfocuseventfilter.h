#pragma once

#include <QObject>

// Swallows touchpad gestures over the view, so a pinch cannot zoom the device's page.
class WebViewFocusEventFilter : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
