#pragma once

#include "plugins/deckcontroller/deckcontrollerservice.h"

// The unit's "Settings" service.
class SettingsService : public DeckControllerService
{
public:
    enum Method : uint32_t { kSave = 0 };

    SettingsService();

    // Writes the unit's settings to its own storage.
    void save();
};
