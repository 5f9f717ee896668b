#include "host/pluginloading.h"

#include "framework/contract/tendwellplugin.h"
#include "framework/frameworkresources.h"
#include "host/mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QPluginLoader>

QStringList pluginDirectories()
{
    initFrameworkResources();
    return pluginDirectories(QCoreApplication::applicationDirPath());
}

QStringList pluginDirectories(const QString& programDirectory)
{
    QStringList directories;
    const QDir root(programDirectory + QStringLiteral("/Tendwell/PlugIns"));
    // A folder that cannot be read lists nothing.
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        directories.append(root.absoluteFilePath(name));

    const QString extra = qEnvironmentVariable("CVN_ADMIN_PLUGIN_PATH");
    if (!extra.isEmpty())
        directories.append(extra);
    return directories;
}

void loadPlugins(const QStringList& directories, MainWindow* window)
{
    for (const QString& directory : directories) {
        const QDir dir(directory);
        for (const QString& entry : dir.entryList(QDir::Files, QDir::Name)) {
            const QString path = dir.absoluteFilePath(entry);
            if (!QLibrary::isLibrary(path))
                continue;
            QPluginLoader loader(path);
            QObject* root = loader.instance();
            auto* plugin = qobject_cast<TendwellPlugin*>(root);
            if (!plugin || !plugin->initialize(QDir(directory), window)) {
                loader.unload();
                continue;
            }
            for (Family* family : plugin->families())
                window->addFamily(family);
        }
    }
}
