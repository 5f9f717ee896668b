#include "framework/tendwelldialog.h"

#include "framework/style.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>

namespace {

const char kDialogName[] = "tendwellDialogBackground";

// Inside some shown in-window dialog: this one or another (made by another module, too, so
// recognised by name rather than by class).
bool insideShownDialog(const QWidget* widget)
{
    for (const QWidget* w = widget; w && !w->isWindow(); w = w->parentWidget()) {
        if (w->objectName() == QLatin1String(kDialogName) && w->isVisible())
            return true;
    }
    return false;
}

} // namespace

TendwellDialog::TendwellDialog(QWidget* parent)
    : QFrame(parent)
    , m_frame(new QFrame(this))
{
    setObjectName(QLatin1String(kDialogName));
    setStyleSheet(QStringLiteral("#tendwellDialogBackground { background: %1; }")
                      .arg(colorToRgbaString(QColor(23, 23, 23), 150)));
    m_frame->setObjectName(QStringLiteral("tendwellDialogFrame"));
    m_frame->setStyleSheet(QStringLiteral("QFrame#tendwellDialogFrame { border: none; "
                                          "border-radius: 10; background-color: %1; }")
                               .arg(QStringLiteral("white")));
    if (parent)
        parent->installEventFilter(this);
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this,
                           [this](QWidget*, QWidget* now) { onFocusChanged(now); });
}

TendwellDialog::~TendwellDialog()
{
    // Focus leaves the children while the base class deletes them: nothing may call back here.
    disconnect(m_focusWatch);
    giveFocusBack();
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

void TendwellDialog::showEvent(QShowEvent* event)
{
    QFrame::showEvent(event);
    raise();
    QWidget* focus = QApplication::focusWidget();
    if (!focus && parentWidget())
        focus = parentWidget()->window()->focusWidget();
    if (focus && !isAncestorOf(focus) && focus != this)
        m_focusBefore = focus;
    takeFocus();
}

void TendwellDialog::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    giveFocusBack();
}

void TendwellDialog::keyPressEvent(QKeyEvent* event)
{
    // What the focused widget inside leaves unhandled stops here, short of the widgets below.
    event->accept();
}

void TendwellDialog::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
}

QList<QWidget*> TendwellDialog::tabChain() const
{
    QList<QWidget*> chain;
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (isAncestorOf(w) && w->isVisible() && w->isEnabled() &&
            (w->focusPolicy() & Qt::TabFocus))
            chain.append(w);
    }
    return chain;
}

bool TendwellDialog::focusNextPrevChild(bool next)
{
    if (!isVisible())
        return QFrame::focusNextPrevChild(next);
    const QList<QWidget*> chain = tabChain();
    if (chain.isEmpty()) {
        setFocus(Qt::OtherFocusReason);
        return true;
    }
    const qsizetype count = chain.size();
    qsizetype at = chain.indexOf(QApplication::focusWidget());
    if (at < 0)
        at = next ? 0 : count - 1;
    else
        at = (at + (next ? 1 : count - 1)) % count;
    chain.at(at)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void TendwellDialog::takeFocus()
{
    const QList<QWidget*> chain = tabChain();
    if (chain.isEmpty())
        setFocus(Qt::OtherFocusReason);
    else
        chain.first()->setFocus(Qt::OtherFocusReason);
}

void TendwellDialog::giveFocusBack()
{
    QWidget* focus = QApplication::focusWidget();
    const bool focusInside = focus && (focus == this || isAncestorOf(focus));
    QWidget* before = m_focusBefore;
    m_focusBefore.clear();
    if (focusInside && before && before->isVisible() && before->isEnabled() &&
        !insideShownDialog(before))
        before->setFocus(Qt::OtherFocusReason);
}

void TendwellDialog::onFocusChanged(QWidget* now)
{
    QWidget* covered = parentWidget();
    if (!now || !covered || !isVisible() || (now != covered && !covered->isAncestorOf(now)))
        return;
    if (insideShownDialog(now))
        return;
    // Something under the sheet took focus (a click can't reach it, code can): take it back.
    m_focusBefore = now;
    takeFocus();
}
