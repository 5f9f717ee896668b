#include "host/terminationwatcher.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Pellworth"));
    window.resize(960, 640);

    TerminationWatcher watcher;
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &window,
                     &QMainWindow::close);

    window.show();
    return app.exec();
}
