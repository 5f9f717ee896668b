#include "framework/cardtabbedpages.h"

#include "framework/settingstab.h"
#include "framework/tabbutton.h"
#include "framework/tighthboxlayout.h"
#include "framework/tightvboxlayout.h"

#include <QButtonGroup>
#include <QStackedWidget>

CardTabbedPages::CardTabbedPages(const QColor& accent, QWidget* parent)
    : QWidget(parent)
    , m_accent(accent)
    , m_buttons(new QButtonGroup(this))
    , m_tabRow(new TightHBoxLayout)
    , m_pages(new QStackedWidget(this))
{
    auto* column = new TightVBoxLayout(this);
    m_tabRow->addStrut(26);
    m_tabRow->addSpacing(30);
    m_tabRow->addStretch();
    column->addLayout(m_tabRow);
    column->addWidget(m_pages, 1);
    connect(m_buttons, &QButtonGroup::idClicked, this, &CardTabbedPages::onButtonClicked);
}

int CardTabbedPages::count() const
{
    return m_pages->count();
}

SettingsTab* CardTabbedPages::page(int index) const
{
    return qobject_cast<SettingsTab*>(m_pages->widget(index));
}

TabButton* CardTabbedPages::tabButton(int index) const
{
    return qobject_cast<TabButton*>(m_buttons->button(index));
}

int CardTabbedPages::addPage(SettingsTab* page, const QString& title)
{
    connect(page, &SettingsTab::settingsStatusChanged, this, &CardTabbedPages::onPageStatusChange);
    const int index = m_pages->addWidget(page);

    auto* button = new TabButton(title, this);
    button->setAccent(m_accent);
    m_buttons->addButton(button, index);
    // Before the row's closing stretch: the button, then its gap.
    const int at = m_tabRow->count() - 1;
    m_tabRow->insertWidget(at, button);
    m_tabRow->insertSpacing(at + 1, 15);
    if (index == m_currentIndex)
        button->setChecked(true);

    onPageStatusChange();
    return index;
}

void CardTabbedPages::onButtonClicked(int index)
{
    if (SettingsTab* current = page(m_currentIndex)) {
        if (current->status() == Invalid) {
            if (TabButton* button = tabButton(m_currentIndex))
                button->setAlert(true);
        }
    }
    if (m_pages->widget(index) == m_pages->widget(m_currentIndex)) {
        m_currentIndex = index;
        m_pages->setCurrentIndex(index);
        return;
    }
    if (SettingsTab* current = page(m_currentIndex))
        current->deactivate();
    m_currentIndex = index;
    m_pages->setCurrentIndex(index);
    if (SettingsTab* next = page(index))
        next->activate();
}

void CardTabbedPages::onPageStatusChange()
{
    int worst = 0;
    for (int i = 0; i < m_pages->count(); ++i) {
        SettingsTab* tab = page(i);
        if (!tab)
            continue;
        worst = qMax(worst, tab->status());
        if (tab->status() != Invalid) {
            if (TabButton* button = tabButton(i))
                button->setAlert(false);
        }
    }
    if (worst != m_status) {
        m_status = worst;
        Q_EMIT settingsStatusChanged();
    }
}
