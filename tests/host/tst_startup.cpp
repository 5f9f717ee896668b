#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startsAndClosesCleanly();
};

void TestStartup::startsAndClosesCleanly()
{
    const QString program = qEnvironmentVariable("PELLWORTH_BIN_DIR") + "/Pellworth";
    QVERIFY2(QFileInfo::exists(program), qPrintable(program));

    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, {});
    QVERIFY(p.waitForStarted(5000));
    // Still running after a moment: it did not fall over on start.
    QVERIFY(!p.waitForFinished(1500));

    // A request to stop closes the window like the user would.
    p.terminate();
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
