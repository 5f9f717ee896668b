#include "host/crossmenu.h"

#include "framework/style.h"

#include <QSignalMapper>

CrossMenu::CrossMenu(QWidget* parent)
    : QMenu(parent)
    , m_mapper(new QSignalMapper(this))
{
    setFont(scaledFont(1));
    setStyleSheet(
        QStringLiteral("QMenu {\tbackground-color: white;\tborder: 0px transparent; "
                       "border-radius: 8px;\tpadding-top: 6px; padding-bottom: 6px;\t"
                       "margin-top, margin-bottom: 0px; margin-left, margin-right: "
                       "0px;}QMenu:item {\tbackground-color: white;\tcolor: %1;\t"
                       "padding-left: 15px; padding-right: 15px; padding-top: 3px; "
                       "padding-bottom: 2px;}QMenu:item:selected {\tbackground-color: "
                       "%2;}QMenu::indicator:checked {\timage: url(\":/Tick\");}")
            .arg(colorToHexString(QColor(71, 71, 71)), colorToHexString(QColor(208, 208, 208))));
    connect(m_mapper, &QSignalMapper::mappedString, this, &CrossMenu::menuOptionSelected);
}

void CrossMenu::setOptions(const QStringList& options)
{
    for (QAction* action : actions())
        m_mapper->removeMappings(action);
    clear();
    for (const QString& option : options) {
        QAction* action = addAction(option);
        connect(action, &QAction::triggered, m_mapper, qOverload<>(&QSignalMapper::map));
        m_mapper->setMapping(action, option);
    }
}
