#include "host/pluginloading.h"

#include "framework/contract/tendwellplugin.h"
#include "framework/frameworkresources.h"
#include "host/mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QPluginLoader>
#include <QThread>

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

namespace {

// The library files of a directory, in name order.
QStringList libraryFiles(const QString& directory)
{
    QStringList files;
    const QDir dir(directory);
    for (const QString& entry : dir.entryList(QDir::Files, QDir::Name)) {
        const QString path = dir.absoluteFilePath(entry);
        if (QLibrary::isLibrary(path))
            files.append(path);
    }
    return files;
}

} // namespace

void loadPlugins(const QStringList& directories, MainWindow* window)
{
    for (const QString& directory : directories) {
        for (const QString& path : libraryFiles(directory)) {
            QPluginLoader loader(path);
            // Loaded through this loader even when a prefetch has loaded the library already:
            // its hold is what keeps the plug-in once the prefetch lets go.
            if (!loader.load())
                continue;
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

PluginPrefetch::PluginPrefetch(const QStringList& directories)
{
    QThread* home = QThread::currentThread();
    m_thread = std::thread([this, directories, home] {
        for (const QString& directory : directories) {
            for (const QString& path : libraryFiles(directory)) {
                // The loader loadPlugins() makes, so the same files load the same way.
                auto loader = std::make_unique<QPluginLoader>(path);
                if (!loader->load())
                    continue;
                loader->moveToThread(home);
                m_loaders.push_back(std::move(loader));
            }
        }
    });
}

PluginPrefetch::~PluginPrefetch()
{
    wait();
    for (const std::unique_ptr<QPluginLoader>& loader : m_loaders)
        loader->unload();
}

void PluginPrefetch::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}
