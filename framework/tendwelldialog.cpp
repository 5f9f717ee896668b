#include "framework/tendwelldialog.h"

#include "framework/style.h"

#include <QEvent>

TendwellDialog::TendwellDialog(QWidget* parent)
    : QFrame(parent)
    , m_frame(new QFrame(this))
{
    setObjectName(QStringLiteral("tendwellDialogBackground"));
    setStyleSheet(QStringLiteral("#tendwellDialogBackground { background: %1; }")
                      .arg(colorToRgbaString(QColor(23, 23, 23), 150)));
    m_frame->setObjectName(QStringLiteral("tendwellDialogFrame"));
    m_frame->setStyleSheet(QStringLiteral("QFrame#tendwellDialogFrame { border: none; "
                                          "border-radius: 10; background-color: %1; }")
                               .arg(QStringLiteral("white")));
    if (parent)
        parent->installEventFilter(this);
}

void TendwellDialog::centreFrame()
{
    const QWidget* window = parentWidget();
    if (!window)
        return;
    setFixedSize(window->size());
    m_frame->move((window->width() - m_frame->width()) / 2,
                  (window->height() - m_frame->height()) / 2);
}

bool TendwellDialog::eventFilter(QObject* obj, QEvent* event)
{
    if (obj == parentWidget() && event->type() == QEvent::Resize)
        centreFrame();
    return QFrame::eventFilter(obj, event);
}
