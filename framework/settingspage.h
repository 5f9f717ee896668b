#pragma once

#include "framework/statuspage.h"

class CardFooter;
class CardTabbedPages;
class SettingsTab;

// The card page on which a device's settings are edited: tabs of settings above the footer with
// Save and Cancel. Save is unavailable while any tab holds an invalid value. Each plug-in
// derives its own page and fills in saving and reverting.
class SettingsPage : public StatusPage
{
    Q_OBJECT
public:
    explicit SettingsPage(QWidget* parent = nullptr);

    // Returns the new tab's index.
    virtual int addTab(SettingsTab* tab, const QString& title);

    void setSettingsButtonVisible(bool visible);
    void setFooterVisible(bool visible);

    virtual void saveSettings();
    virtual void revertSettings();
    // Lets a page read its settings again from the device; the shared code never calls it.
    virtual void reloadSettings();

    CardTabbedPages* tabs() const { return m_tabs; }
    CardFooter* footer() const { return m_footer; }

Q_SIGNALS:
    void closePage();
    void menuOptionPressed(int tag);

protected Q_SLOTS:
    virtual void onTabSettingsStatusChange();
    virtual void onCancelPressed();
    virtual void onSavePressed();

private:
    CardTabbedPages* m_tabs;
    CardFooter* m_footer;
};
