#include "framework/settingspage.h"

#include "framework/accentcolour.h"
#include "framework/cardfooter.h"
#include "framework/cardpushbutton.h"
#include "framework/cardseparatordark.h"
#include "framework/cardtabbedpages.h"
#include "framework/settingstab.h"
#include "framework/sliderlink.h"
#include "framework/tightvboxlayout.h"

#include <QPointer>

namespace {

// Holds the page's slider links still while stored values are put back, so that setting one
// slider does not drag its partner along.
class LinksHeld
{
public:
    explicit LinksHeld(QObject* page)
    {
        const QList<SliderLink*> links = page->findChildren<SliderLink*>();
        for (SliderLink* link : links) {
            if (link->isCouplingBlocked())
                continue;
            link->setCouplingBlocked(true);
            m_links.append(link);
        }
    }
    ~LinksHeld()
    {
        for (const QPointer<SliderLink>& link : std::as_const(m_links)) {
            if (link)
                link->setCouplingBlocked(false);
        }
    }
    LinksHeld(const LinksHeld&) = delete;
    LinksHeld& operator=(const LinksHeld&) = delete;

private:
    QList<QPointer<SliderLink>> m_links;
};

} // namespace

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
    // A page's hooks may run an event loop in which the card deletes the page.
    const QPointer<SettingsPage> self(this);
    {
        const LinksHeld held(this);
        revertSettings();
    }
    if (self)
        Q_EMIT closePage();
}

void SettingsPage::onSavePressed()
{
    // A field still being edited commits its text when it loses focus; do that before reading.
    m_footer->setFocus(Qt::OtherFocusReason);
    const QPointer<SettingsPage> self(this);
    saveSettings();
    if (self)
        Q_EMIT closePage();
}

void SettingsPage::saveSettings() {}

void SettingsPage::revertSettings() {}

void SettingsPage::reloadSettings() {}
