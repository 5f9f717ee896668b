#include "framework/cardfooter.h"

#include "framework/cardpopupmenu.h"
#include "framework/cardpushbutton.h"
#include "framework/flatimagebutton.h"
#include "framework/settingstab.h"

namespace {
const int kHeight = 66;
} // namespace

CardFooter::CardFooter(QWidget* parent)
    : QFrame(parent)
{
    setFixedHeight(kHeight);
    setObjectName(QStringLiteral("cardFooter"));
    setStyleSheet(
        QStringLiteral("#cardFooter {\tbackground: qlineargradient(x1:0, y1:0, x2:0, "
                       "y2:1, stop:0 %1, stop:1 %2);\tborder-width: 10;"
                       "\tborder-bottom-left-radius: 10;\tborder-bottom-right-radius: "
                       "10;\tborder-top: 1px solid %3;}")
            .arg(QStringLiteral("#f1f1f1"), QStringLiteral("#d0d0d0"), QStringLiteral("#b5b5b5")));

    m_settingsButton = new FlatImageButton(QStringLiteral(":/Settings"), this);
    m_settingsButton->setPressedPixmap(QStringLiteral(":/Settings_Push"));
    m_settingsButton->setDisabledPixmap(QStringLiteral(":/Settings_Disabled"));
    m_settingsButton->move(36, (kHeight - m_settingsButton->height()) / 2);
    connect(m_settingsButton, &QAbstractButton::clicked, this, &CardFooter::onSettingsPressed);

    m_menu = new CardPopupMenu(this);
    connect(m_menu, &CardPopupMenu::menuOptionPressed, this, &CardFooter::menuOptionPressed);

    m_cancelButton = new CardPushButton(tr("Cancel"), QSize(114, 25), this);
    m_cancelButton->setFixedSize(112, 24);
    m_cancelButton->move(348, (kHeight - 24) / 2);
    m_saveButton = new CardPushButton(tr("Save"), QSize(114, 25), this);
    m_saveButton->setFixedSize(112, 24);
    m_saveButton->move(478, (kHeight - 24) / 2);
    connect(m_cancelButton, &QPushButton::clicked, this, &CardFooter::cancelPressed);
    connect(m_saveButton, &QPushButton::clicked, this, &CardFooter::savePressed);
}

void CardFooter::setSettingsStatus(int status)
{
    m_saveButton->setEnabled(status != Invalid);
}

void CardFooter::setSettingsButtonVisible(bool visible)
{
    m_settingsButton->setVisible(visible);
}

void CardFooter::onSettingsPressed()
{
    Q_EMIT settingsButtonPushed();
    if (m_menu->actions().isEmpty())
        return;
    m_menu->popupAt(m_settingsButton, QPoint(0, -5 - m_menu->sizeHint().height()));
}
