#include "framework/productcardbase.h"

#include <QEvent>

namespace {
const int kBodyWidth = 620;
const int kBodyMargin = 20;
} // namespace

ProductCardBase::ProductCardBase(QWidget* window)
    : QFrame(window->window(), Qt::WindowFlags())
    , m_topLevel(window->window())
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("productCardBackground"));
    setStyleSheet(
        QStringLiteral(
            "QWidget { background: white; }"
            "#productCardBackground { background: %1; }"
            "#productCardBody { border-width: 10; border-radius: 10; }"
            "#productCardBottom { border-width: 10; border-bottom-left-radius: 10; "
            "border-bottom-right-radius: 10; }"
            "QMenu:item { background-color: white; color: %2; }"
            "QMenu:item:disabled { color: %3; }"
            "QMenu:item:selected { background-color: %4; }"
            "QMessageBox QLabel { color: black; selection-color: white; "
            "selection-background-color: blue; }"
            "QMessageBox QPushButton {\tbackground-color: qlineargradient(x1:0, y1:0, x2:0, "
            "y2:1, stop:0 %5, stop:1 %6);\tborder: 1px solid %7; border-radius: 4px;\tcolor: "
            "%8;\tmin-width: 80px;}"
            "QMessageBox QPushButton:pressed {\tbackground-color: %9;}")
            .arg(QStringLiteral("rgba(23, 23, 23, 150)"), QStringLiteral("#000000"),
                 QStringLiteral("rgba(0, 0, 0, 100)"), QStringLiteral("#d0d0d0"),
                 QStringLiteral("#f1f1f1"), QStringLiteral("#d0d0d0"), QStringLiteral("#b5b5b5"),
                 QStringLiteral("#474747"), QStringLiteral("#d0d0d0")));

    m_body = new QWidget(this);
    m_body->setObjectName(QStringLiteral("productCardBody"));

    applySizing();
    // Watch the top-level window itself: that is the one whose size the card follows, even
    // when the caller hands in a widget inside it.
    m_topLevel->installEventFilter(this);
}

void ProductCardBase::applySizing()
{
    const QSize size = m_topLevel->size();
    setFixedSize(size);
    m_body->setFixedSize(kBodyWidth, size.height() - 2 * kBodyMargin);
    m_body->move((size.width() - kBodyWidth) / 2, kBodyMargin);
}

bool ProductCardBase::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_topLevel && event->type() == QEvent::Resize)
        applySizing();
    return QFrame::eventFilter(watched, event);
}
