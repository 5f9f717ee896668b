#include "framework/appbranding.h"
#include "host/badinstalldialog.h"
#include "host/mainwindow.h"
#include "host/pluginloading.h"
#include "host/singleapplication.h"
#include "host/terminationwatcher.h"
#include "host/webenginesandbox.h"

#include <QString>

#include <memory>

int main(int argc, char* argv[])
{
    TerminationWatcher::catchEarly();
    WebEngineSandbox::disableForRoot(argc, argv);
    // Added to the user's own flags, which may carry --no-sandbox.
    QByteArray chromiumFlags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    chromiumFlags += chromiumFlags.isEmpty() ? "--disable-gpu" : " --disable-gpu";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", chromiumFlags);
    // The web engine shares its contexts with the widgets. The desktop-or-ES choice only
    // exists where Qt loads its OpenGL library at run time, which it never does here.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts, true);
    // Branding first: its name makes the single-instance key.
    AppBranding::load();

    SingleApplication app(argc, argv, SingleApplication::instanceKey(AppBranding::appName()));
    if (app.isSecondInstance())
        return 0;

    // A request to stop from outside closes the window as the user would; one that came while
    // the program was still starting waits for the event loop.
    TerminationWatcher watcher;

    const QStringList directories = pluginDirectories();
    int result = 0;
    {
        MainWindow window;
        app.setMainWindow(&window);
        QApplication::setWindowIcon(AppBranding::appIcon());

        QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &window,
                         &QWidget::close);

        loadPlugins(directories, &window);
        if (window.families().isEmpty()) {
            new BadInstallDialog(&window, QObject::tr("Bad Install"),
                                 QObject::tr("Your software installation has become corrupted "
                                             "and is missing some components."),
                                 QObject::tr("Close"));
        }
        window.show();
        result = app.exec();
    }
    return result;
}
