#include "plugins/webview/kestrelnovawebviewplugin.h"

#include "framework/appbranding.h"
#include "framework/contract/tendwellwindow.h"
#include "plugins/shared/firmwarefilelocator.h"
#include "plugins/webview/novafactories.h"
#include "plugins/webview/novafamily.h"

bool KestrelNovaWebviewPlugin::initialize(QDir pluginDir, TendwellWindow* window)
{
    if (!pluginDir.cd(QStringLiteral("Resources")))
        return false;
    FirmwareFileLocator::setResourcesDirectory(pluginDir.absolutePath().toStdString());
    Family* family = createNovaFamily(window);
    // The window deletes its families; a later window must not be handed a deleted one.
    connect(family, &QObject::destroyed, this, [this, family] { m_families.removeAll(family); });
    m_families.append(family);
    AppBranding::load();
    return true;
}

const QList<Family*>& KestrelNovaWebviewPlugin::families()
{
    return m_families;
}
