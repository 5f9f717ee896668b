#pragma once

#include "framework/contract/tendwellplugin.h"

#include <QObject>

// Root object of the Quenby plug-in: network video recorders with a web admin page.
class KestrelNovaWebviewPlugin : public QObject, public TendwellPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TendwellPlugin_iid FILE "kestrelnovawebviewplugin.json")
    Q_INTERFACES(TendwellPlugin)
public:
    bool initialize(QDir pluginDir, TendwellWindow* window) override;
    const QList<Family*>& families() override;

private:
    QDir m_resources;
    QList<Family*> m_families;
};
