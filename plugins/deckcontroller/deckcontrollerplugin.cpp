#include "plugins/deckcontroller/deckcontrollerplugin.h"

#include "plugins/deckcontroller/deckcontrollerfamily.h"
#include "plugins/shared/firmwarefilelocator.h"

bool DeckControllerPlugin::initialize(QDir pluginDir, TendwellWindow* window)
{
    // Without a Resources folder the firmware is looked for beside the program.
    if (pluginDir.cd(QStringLiteral("Resources"))) {
        FirmwareFileLocator::setResourcesDirectory(pluginDir.absolutePath().toStdString());
        pluginDir.cdUp();
    }
    m_families.append(new DeckControllerFamily(window));
    return true;
}

const QList<Family*>& DeckControllerPlugin::families()
{
    return m_families;
}
