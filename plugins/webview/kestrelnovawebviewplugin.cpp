#include "plugins/webview/kestrelnovawebviewplugin.h"

bool KestrelNovaWebviewPlugin::initialize(QDir pluginDir, TendwellWindow*)
{
    m_resources = pluginDir;
    m_resources.cd(QStringLiteral("Resources"));
    return true;
}

const QList<Family*>& KestrelNovaWebviewPlugin::families()
{
    return m_families;
}
