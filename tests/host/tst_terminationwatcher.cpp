#include "host/terminationwatcher.h"

#include <QtTest>

#include <csignal>

namespace {

void (*dispositionOf(int sig))(int)
{
    struct sigaction current = {};
    ::sigaction(sig, nullptr, &current);
    return current.sa_handler;
}

} // namespace

class TestTerminationWatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void signalEndsTheProgram_data();
    void signalEndsTheProgram();
    void signalDuringStartWaitsForTheWatcher();
};

void TestTerminationWatcher::cleanup()
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::signal(sig, SIG_DFL);
}

void TestTerminationWatcher::signalEndsTheProgram_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("ignoredAtStart");
    QTest::newRow("terminate") << int(SIGTERM) << false;
    QTest::newRow("interrupt") << int(SIGINT) << false;
    QTest::newRow("hang-up") << int(SIGHUP) << false;
    // Started under nohup, or as a background job of a script: the ignore stays.
    QTest::newRow("hang-up ignored by the parent") << int(SIGHUP) << true;
    QTest::newRow("interrupt ignored by the parent") << int(SIGINT) << true;
}

void TestTerminationWatcher::signalEndsTheProgram()
{
    QFETCH(int, signal);
    QFETCH(bool, ignoredAtStart);
    if (ignoredAtStart)
        ::signal(signal, SIG_IGN);
    {
        TerminationWatcher watcher;
        QSignalSpy requested(&watcher, &TerminationWatcher::terminationRequested);
        QCOMPARE(dispositionOf(signal) == SIG_IGN, ignoredAtStart);
        // Another signal the watcher handles proves the watcher is listening.
        const int other = signal == SIGTERM ? SIGHUP : SIGTERM;
        QVERIFY(dispositionOf(other) != SIG_IGN && dispositionOf(other) != SIG_DFL);
        ::raise(signal);
        if (!ignoredAtStart) {
            QTRY_COMPARE(requested.count(), 1);
            return;
        }
        // A handled signal would have left its byte in the watcher's socket by now.
        QCoreApplication::processEvents();
        QCOMPARE(requested.count(), 0);
        ::raise(other);
        QTRY_COMPARE(requested.count(), 1);
    }
    // Gone, the watcher hands back what it found.
    QCOMPARE(dispositionOf(signal) == SIG_IGN, ignoredAtStart);
}

// A stop requested while the application still starts (before the watcher exists) is not lost,
// nor does it kill the program: it arrives once the watcher is made.
void TestTerminationWatcher::signalDuringStartWaitsForTheWatcher()
{
    TerminationWatcher::catchEarly();
    ::raise(SIGTERM);
    TerminationWatcher watcher;
    QSignalSpy requested(&watcher, &TerminationWatcher::terminationRequested);
    QTRY_COMPARE(requested.count(), 1);
}

QTEST_GUILESS_MAIN(TestTerminationWatcher)
#include "tst_terminationwatcher.moc"
