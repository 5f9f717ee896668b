#include "host/dialoglineedit.h"

#include "framework/accentcolour.h"
#include "framework/style.h"

DialogLineEdit::DialogLineEdit(QWidget* parent)
    : QLineEdit(parent)
{
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setFont(scaledFont(4));
    setFixedHeight(33);
    const QColor field(241, 241, 241);
    setStyleSheet(
        QStringLiteral("QLineEdit { border: 1px solid white; border-radius: 4px; color: %1; "
                       "background-color: %2; padding-bottom: 2px; padding-left: %7px; "
                       "margin-left: 0px; }QLineEdit:focus { border: 1px solid %3; "
                       "background-color: %4; margin-left: 0px; }QLineEdit:disabled { color: %5; "
                       "background-color: %6; margin-left: 1px; }")
            .arg(colorToHexString(QColor(71, 71, 71)), colorToRgbaString(field, 150),
                 colorToHexString(accentColour()), colorToRgbaString(accentColour(), 30),
                 colorToRgbaString(QColor(94, 94, 94), 100), colorToRgbaString(field, 100),
                 QString::number(10)));
    connect(this, &QLineEdit::returnPressed, this, &DialogLineEdit::onReturnPressed);
}

void DialogLineEdit::onReturnPressed()
{
    focusNextChild();
}
