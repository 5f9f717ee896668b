#pragma once

#include "framework/settingspage.h"

class QLineEdit;
class SettingsTab;
class VisibleDeckController;
class VisibleDevice;

// The deck controller's one settings page: its name, its software version beside the one the
// plug-in carries, and "Update Now" when they differ. Saving renames the unit and makes it
// store its settings.
class DeckControllerSettingsPage : public SettingsPage
{
    Q_OBJECT
public:
    DeckControllerSettingsPage(VisibleDeckController* device, QWidget* parent);

    QLineEdit* nameField() const { return m_nameField; }
    SettingsTab* tab() const { return m_tab; }

    void saveSettings() override;
    void revertSettings() override {}

Q_SIGNALS:
    void firmwareUpdateSignal(VisibleDevice* device);

protected Q_SLOTS:
    void onSettingsUpdate();
    void onFirmwareUpdate();
    void onSavePressed() override;

private:
    VisibleDeckController* m_device;
    SettingsTab* m_tab;
    QLineEdit* m_nameField;
};
