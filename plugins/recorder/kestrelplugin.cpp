#include "plugins/recorder/kestrelplugin.h"

bool KestrelPlugin::initialize(QDir pluginDir, TendwellWindow*)
{
    m_resources = pluginDir;
    m_resources.cd(QStringLiteral("Resources"));
    return true;
}

const QList<Family*>& KestrelPlugin::families()
{
    return m_families;
}
