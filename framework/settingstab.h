#pragma once

#include <QWidget>

// How far a settings tab is from its saved state; a tabbed card takes the worst of its tabs.
enum SettingsStatus { Unchanged = 0, Edited = 1, Invalid = 2 };

// One scrollable tab of a settings page.
class SettingsTab : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsTab(QWidget* parent = nullptr);

    int status() const { return m_status; }

    // Hooks run when the tab stops or starts being the one shown.
    virtual void deactivate();
    virtual void activate();

Q_SIGNALS:
    void settingsStatusChanged();

protected:
    // Stores the status and tells the card when it changed.
    void setStatus(int status);

private:
    int m_status = Unchanged;
};
