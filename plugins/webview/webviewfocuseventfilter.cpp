#include "webviewfocuseventfilter.h"

#include <QEvent>

bool WebViewFocusEventFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::NativeGesture)
        return true;
    return QObject::eventFilter(watched, event);
}
