#include "plugins/recorder/kestrelplugin.h"

#include "plugins/shared/firmwarefilelocator.h"

bool KestrelPlugin::initialize(QDir pluginDir, TendwellWindow*)
{
    m_resources = pluginDir;
    // Without a Resources folder, firmware files are looked for beside the program.
    if (m_resources.cd(QStringLiteral("Resources")))
        FirmwareFileLocator::setResourcesDirectory(m_resources.absolutePath().toStdString());
    return true;
}

const QList<Family*>& KestrelPlugin::families()
{
    return m_families;
}
