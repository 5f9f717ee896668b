#include "framework/settingscombobox.h"

#include "framework/settingscomboboxdelegate.h"
#include "framework/style.h"

#include <QAbstractItemView>
#include <QWheelEvent>

namespace {

const QString& styleTemplate()
{
    static const QString text = QStringLiteral(
        "QComboBox {\tborder: 1px solid %4;\tborder-radius: 4px;\tcolor: %1; \tbackground: "
        "qlineargradient(x1:0, y1:0, x2:0 , y2:1, stop: 0 #FFFFFF, stop: 1.0 #F1F1F1);}"
        "QComboBox::disabled {\tborder: 1px solid %5;\tcolor: %2; }"
        "QComboBox::drop-down {\tsubcontrol-origin: padding;\tsubcontrol-position: top "
        "right;\twidth: 15px;\tborder: none;}"
        "QComboBox::down-arrow {\tmargin-right: 7px;\timage: url(:/Dropdown_Arrow);}"
        "QComboBox::down-arrow:disabled {\timage: url(:/Dropdown_Arrow_Disabled);}"
        "QComboBox::indicator:checked{\timage: url(:/Tick);\tpadding-left: "
        "3px;\tbackground-color: transparent;}"
        "QComboBox::item {\tbackground-color: white;\theight:22px;\tpadding-left:25px}"
        "QComboBox::item:selected {\tbackground-color: %3;}"
        "QComboBox::item:disabled {\tcolor: %2;}");
    return text;
}

} // namespace

SettingsComboBox::SettingsComboBox(QWidget* parent, int width)
    : QComboBox(parent)
{
    setStyleSheet(styleTemplate().arg(QStringLiteral("#474747"),
                                      QStringLiteral("rgba(71, 71, 71, 100)"),
                                      QStringLiteral("#d0d0d0"), QStringLiteral("#b5b5b5"),
                                      QStringLiteral("rgba(181, 181, 181, 100)")));
    setFixedSize(width, 27);
    setFont(scaledFont(7));
    setFocusPolicy(Qt::NoFocus);
    // After the style: a style change replaces only the toolkit's own delegates.
    QAbstractItemView* popup = view();
    popup->setItemDelegate(new SettingsComboBoxDelegate(popup->itemDelegate(), this));
}

void SettingsComboBox::wheelEvent(QWheelEvent* event)
{
    if (hasFocus())
        QComboBox::wheelEvent(event);
    else
        event->ignore();
}
