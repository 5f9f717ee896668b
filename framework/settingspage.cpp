#include "framework/settingspage.h"

#include "framework/accentcolour.h"
#include "framework/cardfooter.h"
#include "framework/cardpushbutton.h"
#include "framework/cardseparatordark.h"
#include "framework/cardtabbedpages.h"
#include "framework/settingstab.h"
#include "framework/tightvboxlayout.h"

SettingsPage::SettingsPage(QWidget* parent)
    : StatusPage(parent)
{
    auto* column = new TightVBoxLayout;
    m_tabs = new CardTabbedPages(accentColour());
    column->addWidget(m_tabs);
    column->addWidget(new CardSeparatorDark);
    connect(m_tabs, &CardTabbedPages::settingsStatusChanged, this,
            &SettingsPage::onTabSettingsStatusChange);

    m_footer = new CardFooter;
    connect(m_footer, &CardFooter::cancelPressed, this, &SettingsPage::onCancelPressed);
    connect(m_footer, &CardFooter::savePressed, this, &SettingsPage::onSavePressed);
    connect(m_footer, &CardFooter::menuOptionPressed, this, &SettingsPage::menuOptionPressed);
    column->addWidget(m_footer);
    setLayout(column);
}

int SettingsPage::addTab(SettingsTab* tab, const QString& title)
{
    return m_tabs->addPage(tab, title);
}

void SettingsPage::setSettingsButtonVisible(bool visible)
{
    m_footer->setSettingsButtonVisible(visible);
}

void SettingsPage::setFooterVisible(bool visible)
{
    m_footer->setVisible(visible);
}

void SettingsPage::onTabSettingsStatusChange()
{
    const int status = m_tabs->status();
    if (status == Unchanged || status == Edited || status == Invalid)
        m_footer->setSettingsStatus(status);
}

void SettingsPage::onCancelPressed()
{
    revertSettings();
    Q_EMIT closePage();
}

void SettingsPage::onSavePressed()
{
    // A field still being edited commits its text when it loses focus; do that before reading.
    m_footer->setFocus(Qt::OtherFocusReason);
    saveSettings();
    Q_EMIT closePage();
}

void SettingsPage::saveSettings() {}

void SettingsPage::revertSettings() {}

void SettingsPage::reloadSettings() {}
