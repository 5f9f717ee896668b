#pragma once

#include "fakebonjourservice.h"

#include "framework/appbranding.h"
#include "host/mainwindow.h"
#include "host/pluginloading.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QStandardPaths>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <utility>

// The program's window as a plug-in test drives it: the build's branding, the built plug-in
// loaded from its folder, by default no network and no web engine.
namespace PluginWindow {

// The build's branding under an application name of the test's own, so its settings stay apart.
inline bool loadBranding(const QString& appName)
{
    QStandardPaths::setTestModeEnabled(true);
    if (!AppBranding::loadInto(AppBranding::instance(),
                               qEnvironmentVariable("PELLWORTH_BIN_DIR") + "/Resources"))
        return false;
    AppBranding::instance().appName = appName;
    return true;
}

inline QString pluginFolder(const QString& name)
{
    return qEnvironmentVariable("PELLWORTH_BIN_DIR") + QStringLiteral("/Tendwell/PlugIns/") + name;
}

inline MainWindow::Options offlineOptions()
{
    MainWindow::Options options;
    options.bonjour = std::make_shared<FakeBonjourService>();
    options.warmUpWebEngine = false;
    return options;
}
// Not yet shown; offline unless the options say otherwise.
inline std::unique_ptr<MainWindow> open(const QStringList& pluginFolders,
                                        MainWindow::Options options = offlineOptions())
{
    auto window = std::make_unique<MainWindow>(options);
    window->resize(780, 720);
    loadPlugins(pluginFolders, window.get());
    return window;
}
inline std::unique_ptr<MainWindow> open(const QString& pluginFolder,
                                        MainWindow::Options options = offlineOptions())
{
    return open(QStringList{pluginFolder}, std::move(options));
}

// A widget of the plug-in, found by its class name: the plug-in's classes are its own.
inline QWidget* findByClass(QWidget* root, const char* className)
{
    for (QWidget* w : root->findChildren<QWidget*>())
        if (qstrcmp(w->metaObject()->className(), className) == 0)
            return w;
    return nullptr;
}

inline QAbstractButton* visibleButton(QWidget* root, const QString& text)
{
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if (b->text() == text && b->isVisible())
            return b;
    return nullptr;
}
inline bool showsText(QWidget* root, const QString& text)
{
    for (QLabel* label : root->findChildren<QLabel*>())
        if (label->text() == text && label->isVisible())
            return true;
    return false;
}
// Into the folder PELLWORTH_SCREENSHOT_DIR names (else the current one); false when no
// picture was written.
inline bool savePicture(const QPixmap& picture, const QString& fileName)
{
    const QString folder = qEnvironmentVariable("PELLWORTH_SCREENSHOT_DIR", QDir::currentPath());
    if (!QDir().mkpath(folder))
        return false;
    const QString path = folder + QLatin1Char('/') + fileName;
    return picture.save(path) && QFileInfo(path).size() > 0;
}
inline bool saveScreenshot(QWidget* widget, const QString& fileName)
{
    return savePicture(widget->grab(), fileName);
}

} // namespace PluginWindow
