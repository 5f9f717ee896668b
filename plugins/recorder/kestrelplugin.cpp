#include "plugins/recorder/kestrelplugin.h"

#include "framework/appbranding.h"
#include "framework/contract/tendwellwindow.h"
#include "plugins/recorder/kestrelfamily.h"
#include "plugins/shared/firmwarefilelocator.h"

KestrelPlugin::KestrelPlugin()
{
    // This module's own copy of the branding; without a settings file it keeps its defaults.
    AppBranding::load();
}

bool KestrelPlugin::initialize(QDir pluginDir, TendwellWindow* window)
{
    // Without a Resources folder, firmware files are looked for beside the program.
    if (pluginDir.cd(QStringLiteral("Resources"))) {
        FirmwareFileLocator::setResourcesDirectory(pluginDir.absolutePath().toStdString());
        pluginDir.cdUp();
    }
    Family* family = new KestrelFamily(window);
    // The window deletes its families; a later window must not be handed a deleted one.
    connect(family, &QObject::destroyed, this, [this, family] { m_families.removeAll(family); });
    m_families.append(family);
    return true;
}

const QList<Family*>& KestrelPlugin::families()
{
    return m_families;
}
