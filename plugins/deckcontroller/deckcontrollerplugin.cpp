#include "plugins/deckcontroller/deckcontrollerplugin.h"

bool DeckControllerPlugin::initialize(QDir pluginDir, TendwellWindow*)
{
    m_resources = pluginDir;
    m_resources.cd(QStringLiteral("Resources"));
    return true;
}

const QList<Family*>& DeckControllerPlugin::families()
{
    return m_families;
}
