#include "framework/cardpopupmenu.h"

#include "framework/frameworkresources.h"
#include "framework/style.h"

CardPopupMenu::CardPopupMenu(QWidget* parent)
    : QMenu(parent)
{
    // The style sheet names the tick picture directly.
    initFrameworkResources();
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setFont(scaledFont(3));
    setStyleSheet(
        QStringLiteral(
            "QMenu {\tbackground-color: white;\tborder: 0px transparent; border-radius: 6px;"
            "\tmargin-top, margin-bottom: 11px; margin-left, margin-right: 0px;}"
            "QMenu:item {\tbackground-color: white;\tcolor: %1;\tpadding-left: 25px; "
            "padding-right: 25px; padding-top: 1px; padding-bottom: 1px;}"
            "QMenu:item:selected {\tbackground-color: %2;}"
            "QMenu::indicator:checked {\timage: url(\":/Tick\");}")
            .arg(QStringLiteral("#474747"), QStringLiteral("#d0d0d0")));
}

QAction* CardPopupMenu::addOption(const QString& text, int tag)
{
    QAction* action = addAction(text);
    connect(action, &QAction::triggered, this, [this, tag] { Q_EMIT menuOptionPressed(tag); });
    m_options.append(text);
    return action;
}

void CardPopupMenu::clearOptions()
{
    clear();
    m_options.clear();
}

void CardPopupMenu::popupAt(QWidget* widget, const QPoint& point)
{
    popup(widget->mapToGlobal(point));
}
