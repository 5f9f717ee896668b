#pragma once

#include "framework/contract/tendwellplugin.h"

#include <QObject>

// Root object of the Brindle plug-in: the USB deck controller.
class DeckControllerPlugin : public QObject, public TendwellPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TendwellPlugin_iid FILE "deckcontrollerplugin.json")
    Q_INTERFACES(TendwellPlugin)
public:
    bool initialize(QDir pluginDir, TendwellWindow* window) override;
    const QList<Family*>& families() override;

private:
    QList<Family*> m_families;
};
