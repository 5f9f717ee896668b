#include "networktaskfixture.h"
#include "plugins/webview/bonjourpotentialdevice.h"
#include "plugins/webview/httpupgradetask.h"
#include "sim/firmwarehttp/firmwarehttpserver.h"
#include "sim/novarecorder/novabonjourrecords.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace Sim::NovaBonjour;

namespace {

constexpr int kWaitMs = 20000;
constexpr uint16_t kProductId = 0xBE1D;
const char kAddress[] = "127.0.0.7";

} // namespace

class TestHttpUpgradeTask : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { registerBonjourRecordTypes(); }
    void init();
    void cleanup();
    void uploadsByteIdenticalAndFollowsTheReboot();
    void refusedOrFailedStart_data();
    void refusedOrFailedStart();
    void failuresAfterTheStartStopTheUpdate_data();
    void failuresAfterTheStartStopTheUpdate();
    void secondStartDuringUpdateChangesNothing();
    void missingPackageFailsWithoutContact();

private:
    std::unique_ptr<HttpUpgradeTask> makeTask(int64_t seconds = 30);

    NetworkTaskFixture m_net;
    std::unique_ptr<FirmwareHttpServer> m_server;
};

void TestHttpUpgradeTask::init()
{
    QVERIFY(m_net.setUp(4 << 20));
    m_server = std::make_unique<FirmwareHttpServer>();
    QVERIFY(m_server->listen(QHostAddress(QString::fromLatin1(kAddress)), 80));
}

void TestHttpUpgradeTask::cleanup()
{
    m_net.tearDown();
    m_server.reset();
}

std::unique_ptr<HttpUpgradeTask> TestHttpUpgradeTask::makeTask(int64_t seconds)
{
    const auto device =
        m_net.announce(seconds, [] { return std::make_pair(std::string(kAddress), uint16_t(80)); });
    if (!device)
        return nullptr;
    auto task = std::make_unique<HttpUpgradeTask>(m_net.manager, device);
    task->setRebootPollInterval(100);
    return task;
}

void TestHttpUpgradeTask::uploadsByteIdenticalAndFollowsTheReboot()
{
    // The recorder reports its build in upper case; the table holds it in lower case.
    m_server->setVersionAfterUpdate(
        supportedProducts().at(kProductId).firmwareBuild.toUpper().toLatin1());
    m_server->setRebootQueries(3);
    auto task = makeTask();
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    QSignalSpy progress(task.get(), &DeviceFirmwareUpdater::firmwareUpdateProgress);
    task->start();
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), 0);
    QVERIFY(task->checkDevice());
    QCOMPARE(m_server->uploaded().size(), m_net.image.size());
    QVERIFY(m_server->uploaded() == m_net.image);

    const auto log = m_server->log();
    QCOMPARE(log.at(0).method + ' ' + log.at(0).path, QByteArray("PUT /v1/firmware/updateStart"));
    QCOMPARE(log.at(1).path, QByteArray("/v1/firmware/upload/firmware-0001.bin"));
    QCOMPARE(log.at(1).contentType, QByteArray("binary/octet-stream"));
    QCOMPARE(log.at(2).path, QByteArray("/v1/firmware/updateFinalize"));
    // Three queries went unanswered while the recorder rebooted, the fourth saw the build.
    QCOMPARE(log.size(), 7);
    for (int i = 3; i < 7; ++i)
        QCOMPARE(log.at(i).method + ' ' + log.at(i).path, QByteArray("GET /v1/firmware/info"));
    QVERIFY(!m_server->paths().contains("PUT /v1/firmware/updateStop"));

    QList<int> percents;
    for (const auto& arguments : progress)
        percents.append(arguments.at(0).toInt());
    QVERIFY(std::is_sorted(percents.begin(), percents.end()));
    QVERIFY(percents.contains(50));
    QCOMPARE(percents.last(), 100);
}

void TestHttpUpgradeTask::refusedOrFailedStart_data()
{
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QByteArray>("uploadName");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("stopSent");
    QTest::newRow("403: USB only") << 403 << QByteArray("fw") << 2 << false;
    QTest::newRow("401: USB only") << 401 << QByteArray("fw") << 2 << false;
    QTest::newRow("500") << 500 << QByteArray("fw") << 1 << false;
    QTest::newRow("no upload name") << 200 << QByteArray() << 1 << true;
}

void TestHttpUpgradeTask::refusedOrFailedStart()
{
    QFETCH(int, httpStatus);
    QFETCH(QByteArray, uploadName);
    QFETCH(int, status);
    QFETCH(bool, stopSent);
    m_server->setStartStatus(httpStatus);
    m_server->setUploadName(uploadName);
    auto task = makeTask();
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    task->start();
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), status);
    QCOMPARE(task->state(), int(HttpUpgradeTask::UpdateFailed));
    // The stop goes only to a recorder that acknowledged the start.
    if (stopSent)
        QTRY_VERIFY(m_server->paths().contains("PUT /v1/firmware/updateStop"));
    QTest::qWait(100);
    QCOMPARE(m_server->paths().contains("PUT /v1/firmware/updateStop"), stopSent);
    QCOMPARE(m_server->uploaded().size(), 0);
    QCOMPARE(updated.count(), 0);
}

void TestHttpUpgradeTask::failuresAfterTheStartStopTheUpdate_data()
{
    QTest::addColumn<int>("uploadStatus");
    QTest::addColumn<int>("finalizeStatus");
    QTest::addColumn<int>("rebootQueries");
    QTest::newRow("upload refused") << 500 << 200 << 0;
    QTest::newRow("finalize refused") << 200 << 500 << 0;
    QTest::newRow("never back") << 200 << 200 << -1;
}

void TestHttpUpgradeTask::failuresAfterTheStartStopTheUpdate()
{
    QFETCH(int, uploadStatus);
    QFETCH(int, finalizeStatus);
    QFETCH(int, rebootQueries);
    m_server->setUploadStatus(uploadStatus);
    m_server->setFinalizeStatus(finalizeStatus);
    m_server->setRebootQueries(rebootQueries);
    auto task = makeTask(1);
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    QSignalSpy progress(task.get(), &DeviceFirmwareUpdater::firmwareUpdateProgress);
    task->start();
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), 1);
    QVERIFY(!task->checkDevice());
    QTRY_VERIFY(m_server->paths().contains("PUT /v1/firmware/updateStop"));
    for (const auto& arguments : progress)
        QVERIFY(arguments.at(0).toInt() < 100 || rebootQueries < 0);
}

void TestHttpUpgradeTask::secondStartDuringUpdateChangesNothing()
{
    m_server->setRebootQueries(0);
    auto task = makeTask();
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    task->start();
    QTRY_COMPARE(m_server->log().size(), 1);
    task->start();
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), 0);
    QCOMPARE(m_server->paths().count("PUT /v1/firmware/updateStart"), 1);
}

void TestHttpUpgradeTask::missingPackageFailsWithoutContact()
{
    m_net.folder.reset();
    auto task = makeTask();
    QVERIFY(task);
    QCOMPARE(NetworkTaskFixture::resultsOfStart(*task), QList<int>{1});
    QTest::qWait(50);
    QVERIFY(m_server->log().isEmpty());
}

QTEST_MAIN(TestHttpUpgradeTask)
#include "tst_httpupgradetask.moc"
