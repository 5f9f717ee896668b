// The least a Qt Widgets program with a web view does before its window shows: the program's
// web-engine set-up (sandbox handling, Chromium flags, shared OpenGL contexts, a hidden view
// loading nothing) and a plain main window of the program's size. The cold-start bench's
// baseline.
#include "host/webenginesandbox.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QUrl>
#include <QWebEngineView>

int main(int argc, char* argv[])
{
    WebEngineSandbox::disableForRoot(argc, argv);
    QByteArray chromiumFlags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    chromiumFlags += chromiumFlags.isEmpty() ? "--disable-gpu" : " --disable-gpu";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", chromiumFlags);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts, true);

    QApplication app(argc, argv);
    QMainWindow window;
    auto* view = new QWebEngineView(&window);
    view->hide();
    view->load(QUrl());
    window.setWindowTitle(QStringLiteral("Minimal window"));
    window.resize(780, window.menuBar()->sizeHint().height() + 680);
    window.show();
    return app.exec();
}
