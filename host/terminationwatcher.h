#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so a request to stop
// from outside closes the window the same way the user would.
class TerminationWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;

    // Takes the signals over before the application object exists, whose start can take
    // seconds: a request that comes meanwhile waits in the socket for the watcher made later.
    static void catchEarly();

Q_SIGNALS:
    void terminationRequested();

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
};
