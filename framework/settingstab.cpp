#include "framework/settingstab.h"

SettingsTab::SettingsTab(QWidget* parent)
    : QWidget(parent)
{
}

void SettingsTab::deactivate() {}

void SettingsTab::activate() {}

void SettingsTab::setStatus(int status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT settingsStatusChanged();
}
