#include "plugins/deckcontroller/settingsservice.h"

SettingsService::SettingsService()
    : DeckControllerService("Settings")
{
}

void SettingsService::save()
{
    call(kSave);
}
