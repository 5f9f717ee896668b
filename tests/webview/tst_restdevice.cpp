// The REST configuration-server device against the simulated recorder's web server on loopback.
#include "answeringrestdevice.h"
#include "loopbacknovadevice.h"
#include "sim/novawebserver/novawebserver.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestRestDevice : public QObject
{
    Q_OBJECT

private:
    static constexpr int kTestLimit = 256 * 1024;
    static constexpr int kMaxFailures = VornOSRESTConfigurationServerDevice::kMaxHeartbeatFailures;

    std::shared_ptr<AnsweringRestDevice> connect(int type = PotentialDevice::kEthernet)
    {
        auto potential = std::make_shared<LoopbackNovaDevice>(m_server->port(), type);
        auto device = std::make_shared<AnsweringRestDevice>(nullptr, potential);
        device->folder = m_folder->path();
        return device;
    }

    std::unique_ptr<NovaWebServer> m_server;
    std::unique_ptr<QTemporaryDir> m_folder;

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<NovaWebServer>();
        QVERIFY(m_server->listen());
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
    }

    void addressesOfALoopbackDevice()
    {
        auto device = connect(PotentialDevice::kUsb);
        const QString port = QString::number(m_server->port());
        QCOMPARE(device->adminUrl().toString(), "http://127.0.0.1:" + port + "/admin/");
        QCOMPARE(device->apiUrl("/v1/heartBeat").toString(),
                 "http://127.0.0.1:" + port + "/admin/api/v1/heartBeat");
        QCOMPARE(device->description(), "WebView via USB, 127.0.0.1:" + port);
        QCOMPARE(std::static_pointer_cast<LoopbackNovaDevice>(device->potentialDevice())
                     ->resolveRequests,
                 0);
    }

    void connectedWithinASecondOfTheHeartbeatAnswering()
    {
        // Late answers are aborted, so the device stays connecting until the server keeps up.
        m_server->setMode(NovaWebServer::Mode::Delay);
        m_server->setDelayMs(2000);
        auto device = connect();
        QSignalSpy states(device.get(), &ConnectedDevice::connectionStateChanged);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->count("GET", "/admin/api/v1/heartBeat") >= 2, 3000);
        QCOMPARE(device->state(), int(Connecting));
        QCOMPARE(device->pollTimer()->interval(), 500);

        m_server->setMode(NovaWebServer::Mode::Normal);
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(device->state(), int(Connected), 1000);
        QVERIFY(clock.elapsed() <= 1000);
        QCOMPARE(states.count(), 1);
        QTRY_COMPARE(device->pollTimer()->interval(), 1000);
    }

    void interruptedAfterTheHeartbeatStops_data()
    {
        QTest::addColumn<NovaWebServer::Mode>("mode");
        QTest::newRow("refused") << NovaWebServer::Mode::Refuse;
        QTest::newRow("server error") << NovaWebServer::Mode::Fail;
        QTest::newRow("too late") << NovaWebServer::Mode::Delay;
    }

    void interruptedAfterTheHeartbeatStops()
    {
        QFETCH(NovaWebServer::Mode, mode);
        auto device = connect();
        QTRY_COMPARE_WITH_TIMEOUT(device->state(), int(Connected), 2000);

        m_server->setDelayMs(5000);
        m_server->setMode(mode);
        // Four failures in a row keep the state; the fifth interrupts.
        QTRY_COMPARE_WITH_TIMEOUT(device->heartbeatFailures(), 4, 8000);
        QCOMPARE(device->state(), int(Connected));
        QTRY_COMPARE_WITH_TIMEOUT(device->state(), int(Interrupted), 3000);
        QTRY_COMPARE(device->pollTimer()->interval(), 500);

        // Heartbeats go on, and one answer restores the connection.
        m_server->setMode(NovaWebServer::Mode::Normal);
        QTRY_COMPARE_WITH_TIMEOUT(device->state(), int(Connected), 2000);
        QCOMPARE(device->heartbeatFailures(), 0);
    }

    void downloadedLogEqualsTheServedBytes()
    {
        QByteArray served(300 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(28);
        for (char& c : served)
            c = char(generator.bounded(256));
        m_server->setCrashlogs(served);
        auto device = connect();
        QSignalSpy saved(device.get(), &VornOSRESTConfigurationServerDevice::crashlogsSaved);
        device->downloadCrashlogs();
        QVERIFY(saved.wait(5000));

        const QString path = saved.first().first().toString();
        QVERIFY(QRegularExpression("/DiagnosticLogs-\\d{8}-\\d{6}\\.enc$").match(path).hasMatch());
        QCOMPARE(QFileInfo(path).absolutePath(), m_folder->path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == served);
        QCOMPARE(device->messages.size(), 1);
        QCOMPARE(device->messages.first().icon, QMessageBox::Information);
        QCOMPARE(device->messages.first().text,
                 QStringLiteral("Diagnostic logs downloaded to: '%1'.").arg(path));
    }

    void failedDownloadsAreNeverReportedAsSaved_data()
    {
        QTest::addColumn<bool>("serverFails");
        QTest::addColumn<QString>("text");
        QTest::newRow("server error")
            << true << QStringLiteral("Failed to download diagnostic logs from device.");
        QTest::newRow("folder missing") << false << QStringLiteral("Failed to write");
    }

    void failedDownloadsAreNeverReportedAsSaved()
    {
        QFETCH(bool, serverFails);
        QFETCH(QString, text);
        m_server->setCrashlogs("log bytes");
        auto device = connect();
        if (serverFails)
            m_server->setMode(NovaWebServer::Mode::Fail);
        else
            device->folder = m_folder->filePath("missing/folder");
        QSignalSpy saved(device.get(), &VornOSRESTConfigurationServerDevice::crashlogsSaved);
        device->downloadCrashlogs();
        QTRY_COMPARE_WITH_TIMEOUT(device->messages.size(), 1, 5000);
        QCOMPARE(device->messages.first().icon, QMessageBox::Critical);
        QCOMPARE(device->messages.first().title, QStringLiteral("Diagnostic Log Download"));
        QVERIFY(device->messages.first().text.startsWith(text));
        QCOMPARE(saved.count(), 0);
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList());
    }

    void logsBeyondTheLimitAreStoppedAndLeaveNoFile_data()
    {
        QTest::addColumn<int>("served");
        QTest::addColumn<bool>("endless");
        QTest::addColumn<bool>("saved");
        QTest::newRow("exactly the limit") << kTestLimit << false << true;
        QTest::newRow("one byte over") << kTestLimit + 1 << false << false;
        QTest::newRow("endless") << 0 << true << false;
    }

    void logsBeyondTheLimitAreStoppedAndLeaveNoFile()
    {
        QFETCH(int, served);
        QFETCH(bool, endless);
        QFETCH(bool, saved);
        m_server->setCrashlogs(QByteArray(served, 'L'));
        m_server->setEndlessCrashlogs(endless);
        auto device = connect();
        device->setCrashlogLimit(kTestLimit);
        QSignalSpy savedSpy(device.get(), &VornOSRESTConfigurationServerDevice::crashlogsSaved);
        device->downloadCrashlogs();
        QTRY_COMPARE_WITH_TIMEOUT(device->messages.size(), 1, 8000);
        QCOMPARE(savedSpy.count(), saved ? 1 : 0);
        const QStringList files = QDir(m_folder->path()).entryList(QDir::Files);
        if (saved) {
            QCOMPARE(files.size(), 1);
            QCOMPARE(QFileInfo(m_folder->filePath(files.first())).size(), qint64(kTestLimit));
            return;
        }
        QCOMPARE(files, QStringList());
        QCOMPARE(device->messages.first().icon, QMessageBox::Critical);
        QCOMPARE(device->messages.first().text,
                 QStringLiteral("Diagnostic logs from device exceed 256 KiB; download stopped."));
    }

    void redirectsToAnotherHostAreNotFollowed()
    {
        NovaWebServer elsewhere;
        QVERIFY(elsewhere.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
        elsewhere.setCrashlogs("log bytes from elsewhere");
        m_server->setRedirect("http://127.0.0.2:" + QByteArray::number(elsewhere.port()));
        auto device = connect();
        QSignalSpy states(device.get(), &ConnectedDevice::connectionStateChanged);
        QTRY_COMPARE_WITH_TIMEOUT(device->state(), int(Interrupted), 8000);
        QVERIFY(m_server->count("GET", "/admin/api/v1/heartBeat") >= kMaxFailures);

        QSignalSpy saved(device.get(), &VornOSRESTConfigurationServerDevice::crashlogsSaved);
        device->downloadCrashlogs();
        QTRY_COMPARE_WITH_TIMEOUT(device->messages.size(), 1, 5000);
        QCOMPARE(device->messages.first().text,
                 QStringLiteral("Failed to download diagnostic logs from device."));
        QCOMPARE(saved.count(), 0);
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList());
        QCOMPARE(m_server->count("GET", "/admin/api/v1/crashlogs"), 1);
        for (const QList<QVariant>& arguments : states)
            QVERIFY(arguments.at(0).value<ConnectionState>() != Connected);
        QVERIFY(elsewhere.log().isEmpty());
    }

    void eraseSendsDeleteOnlyWhenConfirmed()
    {
        m_server->setCrashlogs("log bytes");
        auto device = connect();
        device->answerYes = false;
        device->eraseCrashlogs();
        QTest::qWait(300);
        QCOMPARE(m_server->count("DELETE", "/admin/api/v1/crashlogs"), 0);
        QVERIFY(device->messages.isEmpty());

        device->answerYes = true;
        device->eraseCrashlogs();
        QTRY_COMPARE_WITH_TIMEOUT(device->messages.size(), 1, 5000);
        QCOMPARE(m_server->count("DELETE", "/admin/api/v1/crashlogs"), 1);
        QCOMPARE(m_server->crashlogs(), QByteArray());
        QCOMPARE(device->messages.first().text, QStringLiteral("Diagnostic logs erased."));

        m_server->setMode(NovaWebServer::Mode::Fail);
        device->eraseCrashlogs();
        QTRY_COMPARE_WITH_TIMEOUT(device->messages.size(), 2, 5000);
        QCOMPARE(device->messages.last().icon, QMessageBox::Critical);
        QCOMPARE(device->messages.last().text,
                 QStringLiteral("Failed to erase diagnostic logs from device."));
    }

    void onlyWebAddressesOpenInTheDesktop_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("opens");
        QTest::newRow("http") << QUrl("http://example.invalid/help") << true;
        QTest::newRow("https") << QUrl("HTTPS://example.invalid/") << true;
        QTest::newRow("file") << QUrl("file:///etc/passwd") << false;
        QTest::newRow("program") << QUrl("ssh://example.invalid") << false;
        QTest::newRow("empty") << QUrl() << false;
    }

    void onlyWebAddressesOpenInTheDesktop()
    {
        QFETCH(QUrl, url);
        QFETCH(bool, opens);
        auto device = connect();
        if (!opens)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^Invalid URL specified to open: "));
        device->openUrl(url);
        QCOMPARE(device->opened, opens ? QList<QUrl>{url} : QList<QUrl>{});
    }
};

QTEST_MAIN(TestRestDevice)
#include "tst_restdevice.moc"
