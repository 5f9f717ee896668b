#include "framework/settingslineedit.h"

#include "framework/accentcolour.h"
#include "framework/ipaddressvalidator.h"
#include "framework/nonemptyvalidator.h"
#include "framework/sharedvalidators.h"
#include "framework/style.h"

#include <QLabel>

SettingsLineEdit::SettingsLineEdit(QWidget* parent)
    : QLineEdit(parent)
{
    const QColor accent = accentColour();
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setFont(scaledFont(7));
    setStyleSheet(
        QStringLiteral("QLineEdit { border: 1px solid white; border-radius: 4px; color: %1; "
                       "background-color: %2; padding-bottom: 3px; padding-left: %7px; "
                       "margin-left: 0px; }"
                       "QLineEdit:focus { border: 1px solid %3; background-color: %4; "
                       "margin-left: 0px; }"
                       "QLineEdit:disabled { color: %5; background-color: %6; margin-left: "
                       "1px; }")
            .arg(QStringLiteral("#474747"), QStringLiteral("rgba(241, 241, 241, 150)"),
                 colorToHexString(accent), colorToRgbaString(accent, 30),
                 QStringLiteral("rgba(94, 94, 94, 100)"),
                 QStringLiteral("rgba(241, 241, 241, 100)"), QStringLiteral("6")));
    setFixedHeight(27);

    m_statusIcon = new QLabel(this);
    m_statusIcon->setFixedSize(17, 17);
    m_statusIcon->setStyleSheet(QStringLiteral("QLabel { background: none; }"));
    m_statusIcon->hide();

    connect(this, &QLineEdit::textChanged, this, &SettingsLineEdit::updateStatusIcon);
    connect(this, &QLineEdit::returnPressed, this, &SettingsLineEdit::onReturnPressed);
}

void SettingsLineEdit::setValidatorKind(int kind)
{
    if (kind == NonEmpty)
        setValidator(SharedValidators::nonEmpty());
    else if (kind == IpAddress)
        setValidator(SharedValidators::ipAddress());
}

void SettingsLineEdit::setStatusIconEnabled(bool enabled)
{
    m_statusIconEnabled = enabled;
    if (!enabled)
        setStatusIcon(NoIcon);
}

void SettingsLineEdit::setStatusIcon(int state)
{
    if (state != NoIcon && state != OkIcon && state != AlertIcon)
        return;
    m_iconState = state;
    if (state == NoIcon || !m_statusIconEnabled) {
        m_statusIcon->hide();
        return;
    }
    m_statusIcon->setPixmap(loadHiDpiPixmap(state == OkIcon
                                                ? QStringLiteral(":/Field_Icon_OK")
                                                : QStringLiteral(":/Field_Icon_Alert")));
    m_statusIcon->move(width() - 24, (height() - m_statusIcon->height()) / 2);
    m_statusIcon->show();
}

void SettingsLineEdit::updateStatusIcon()
{
    if (hasAcceptableInput())
        setStatusIcon(hasFocus() ? OkIcon : NoIcon);
    else
        setStatusIcon(AlertIcon);
}

void SettingsLineEdit::onReturnPressed()
{
    focusNextChild();
}

void SettingsLineEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // An alert stays until the input is fixed.
    if (hasAcceptableInput())
        setStatusIcon(NoIcon);
}
