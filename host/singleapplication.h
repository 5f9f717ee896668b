#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;

// The application object of the program; only one copy runs per user. A later start wakes
// the running copy, whose window comes to the front, and ends with exit code 0.
class SingleApplication : public QApplication
{
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv, const QString& key);
    ~SingleApplication() override;

    void setMainWindow(QWidget* window);
    // True when another copy of this user runs: the caller ends at once with code 0, before
    // any window exists.
    bool isSecondInstance() const { return m_secondInstance; }

    // The fixed identifier followed by the branded application name.
    static QString instanceKey(const QString& appName);
    // The names derived from the key for the current user, in the user's runtime folder or a
    // private folder of the user's own in the temporary folder; empty when neither can be had
    // and the program runs without the guard.
    static QString serverName(const QString& key);
    static QString lockFileName(const QString& key);

    // How long a later start waits for the running copy to take its call (the running copy
    // may still be starting up).
    static int probeTimeoutMs() { return 2000; }

Q_SIGNALS:
    void secondInstanceDetected();

private Q_SLOTS:
    void slotConnectionEstablished();

private:
    bool takeLock();
    bool wakeRunningCopy();
    void claimSharedMemory();
    void listen();

    QPointer<QWidget> m_mainWindow;
    QSharedMemory* m_sharedMemory = nullptr;
    QString m_key;
    QLocalServer* m_localServer = nullptr;
    QLocalSocket* m_localSocket = nullptr;
    int m_lockFd = -1;
    bool m_secondInstance = false;
};
