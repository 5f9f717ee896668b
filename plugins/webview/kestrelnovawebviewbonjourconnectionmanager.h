#pragma once

#include "bonjourconnectionmanager.h"

// Resolves a current recorder only once its web server answers on port 80; a legacy one,
// which has no web server, by its address alone.
class KestrelNovaWebViewBonjourConnectionManager : public BonjourConnectionManager
{
    Q_OBJECT
public:
    static constexpr int kWebServerPort = 80;

    using BonjourConnectionManager::BonjourConnectionManager;

    void requestResolve(const BonjourInfo& info) override;
};
