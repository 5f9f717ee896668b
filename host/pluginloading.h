#pragma once

#include <QStringList>

class MainWindow;

// Every sub-directory of Tendwell/PlugIns beside the program, then CVN_ADMIN_PLUGIN_PATH when
// set. Names are sorted, so the load order does not depend on the file system.
QStringList pluginDirectories();
// The same for a program living in programDirectory.
QStringList pluginDirectories(const QString& programDirectory);

// Offers every library file of the directories, in order, to the window: a file is kept when
// its root object is a TendwellPlugin whose initialize succeeds, its families are added in
// their order, and it is never unloaded; every other file is unloaded at once.
void loadPlugins(const QStringList& directories, MainWindow* window);
