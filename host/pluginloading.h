#pragma once

#include <QStringList>

#include <memory>
#include <thread>
#include <vector>

class MainWindow;
class QPluginLoader;

// Every sub-directory of Tendwell/PlugIns beside the program, then CVN_ADMIN_PLUGIN_PATH when
// set. Names are sorted, so the load order does not depend on the file system.
QStringList pluginDirectories();
// The same for a program living in programDirectory.
QStringList pluginDirectories(const QString& programDirectory);

// Offers every library file of the directories, in order, to the window: a file is kept when
// its root object is a TendwellPlugin whose initialize succeeds, its families are added in
// their order, and it is never unloaded; every other file is unloaded at once.
void loadPlugins(const QStringList& directories, MainWindow* window);

// Loads the plug-in libraries of the directories on a thread of its own, so their linking and
// relocation overlap the building of the window. loadPlugins() takes a hold of its own on each
// and decides about it as ever. Call wait() before loadPlugins() and destroy this after it:
// letting go then unloads the libraries loadPlugins() rejected.
class PluginPrefetch
{
public:
    explicit PluginPrefetch(const QStringList& directories);
    ~PluginPrefetch();
    PluginPrefetch(const PluginPrefetch&) = delete;
    PluginPrefetch& operator=(const PluginPrefetch&) = delete;

    void wait();

private:
    // Filled by the thread, handed to this object's thread as they load.
    std::vector<std::unique_ptr<QPluginLoader>> m_loaders;
    std::thread m_thread;
};
