#pragma once

#include "framework/contract/tendwellplugin.h"

#include <QObject>

// Root object of the Quenby plug-in: network video recorders with a web admin page. Lives
// until the process ends.
class KestrelNovaWebviewPlugin : public QObject, public TendwellPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.corvanedesign.Tendwell.KestrelNovaWebViewPlugin" FILE
                          "kestrelnovawebviewplugin.json")
    Q_INTERFACES(TendwellPlugin)
public:
    // False only when the plug-in's Resources folder is missing.
    bool initialize(QDir pluginDir, TendwellWindow* window) override;
    const QList<Family*>& families() override;

private:
    QList<Family*> m_families;
};
