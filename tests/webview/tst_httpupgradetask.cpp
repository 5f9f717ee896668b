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
const char kElsewhere[] = "127.0.0.8";

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
    void malformedRepliesFailTheUpdate_data();
    void malformedRepliesFailTheUpdate();
    void redirectsAwayFromTheRecorderAreNotFollowed();
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
    QTest::addColumn<bool>("goneAfterFinalize");
    QTest::newRow("upload refused") << 500 << 200 << 0 << false;
    QTest::newRow("finalize refused") << 200 << 500 << 0 << false;
    QTest::newRow("never back") << 200 << 200 << -1 << false;
    // Every poll then waits out its resolve, so the reboot wait ends while one runs.
    QTest::newRow("gone from the network") << 200 << 200 << -1 << true;
}

void TestHttpUpgradeTask::failuresAfterTheStartStopTheUpdate()
{
    QFETCH(int, uploadStatus);
    QFETCH(int, finalizeStatus);
    QFETCH(int, rebootQueries);
    QFETCH(bool, goneAfterFinalize);
    m_server->setUploadStatus(uploadStatus);
    m_server->setFinalizeStatus(finalizeStatus);
    m_server->setRebootQueries(rebootQueries);
    auto task = makeTask(1);
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    QSignalSpy progress(task.get(), &DeviceFirmwareUpdater::firmwareUpdateProgress);
    task->start();
    if (goneAfterFinalize) {
        QTRY_VERIFY_WITH_TIMEOUT(m_server->paths().contains("PUT /v1/firmware/updateFinalize"),
                                 kWaitMs);
        m_net.manager->setGone(true);
    }
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), 1);
    QVERIFY(!task->checkDevice());
    QTRY_VERIFY(m_server->paths().contains("PUT /v1/firmware/updateStop"));
    // A failed update never shows as complete, not even after a wait that ran out.
    for (const auto& arguments : progress)
        QVERIFY(arguments.at(0).toInt() < 100);
}

void TestHttpUpgradeTask::malformedRepliesFailTheUpdate_data()
{
    // A start reply that is JSON acknowledges the update, so only it is stopped.
    QTest::addColumn<QByteArray>("startBody");
    QTest::addColumn<QByteArray>("infoBody");
    QTest::addColumn<bool>("stopSent");
    const QByteArray none;
    QTest::newRow("start: HTML") << QByteArray("<html>busy</html>") << none << false;
    QTest::newRow("start: cut short")
        << QByteArray("{\"response\": {\"upload_name\": \"fw") << none << false;
    QTest::newRow("start: array") << QByteArray("[\"fw\"]") << none << false;
    QTest::newRow("start: empty object") << QByteArray("{}") << none << true;
    QTest::newRow("start: too large")
        << "{\"response\": {\"upload_name\": \"" + QByteArray(100 * 1024, 'a') + "\"}}" << none
        << false;
    QTest::newRow("start: response a string")
        << QByteArray("{\"response\": \"fw\"}") << none << true;
    QTest::newRow("start: name missing")
        << QByteArray("{\"response\": {\"name\": \"fw\"}}") << none << true;
    QTest::newRow("start: name a number")
        << QByteArray("{\"response\": {\"upload_name\": 7}}") << none << true;
    QTest::newRow("start: name a huge number")
        << QByteArray("{\"response\": {\"upload_name\": 1e999999}}") << none << false;
    QTest::newRow("start: name null")
        << QByteArray("{\"response\": {\"upload_name\": null}}") << none << true;
    QTest::newRow("start: name a path")
        << QByteArray("{\"response\": {\"upload_name\": \"../../updateFinalize\"}}") << none
        << true;
    QTest::newRow("start: name with a query")
        << QByteArray("{\"response\": {\"upload_name\": \"fw?x=1\"}}") << none << true;
    QTest::newRow("start: name dot-dot")
        << QByteArray("{\"response\": {\"upload_name\": \"..\"}}") << none << true;
    QTest::newRow("info: HTML") << none << QByteArray("<html>rebooting</html>") << true;
    QTest::newRow("info: empty object") << none << QByteArray("{}") << true;
    QTest::newRow("info: version missing") << none << QByteArray("{\"response\": {}}") << true;
    QTest::newRow("info: version a number")
        << none << QByteArray("{\"response\": {\"software version\": 2319720194}}") << true;
    QTest::newRow("info: version a huge number")
        << none
        << QByteArray("{\"response\": {\"software version\": 123456789012345678901234567890}}")
        << true;
    QTest::newRow("info: version an array")
        << none << QByteArray("{\"response\": {\"software version\": [\"8a4c1f02\"]}}") << true;
}

void TestHttpUpgradeTask::malformedRepliesFailTheUpdate()
{
    QFETCH(QByteArray, startBody);
    QFETCH(QByteArray, infoBody);
    QFETCH(bool, stopSent);
    m_server->setStartBody(startBody);
    m_server->setInfoBody(infoBody);
    m_server->setRebootQueries(0);
    auto task = makeTask();
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    task->start();
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), 1);
    QCOMPARE(task->state(), int(HttpUpgradeTask::UpdateFailed));
    QVERIFY(!task->checkDevice());
    if (stopSent)
        QTRY_VERIFY(m_server->paths().contains("PUT /v1/firmware/updateStop"));
    QTest::qWait(100);
    QCOMPARE(m_server->paths().contains("PUT /v1/firmware/updateStop"), stopSent);
    QCOMPARE(updated.count(), 0);
    // A bad start reply ends the update before anything else is sent.
    if (!startBody.isEmpty()) {
        const QList<QByteArray> sent = m_server->paths();
        for (const QByteArray& path : sent)
            QVERIFY2(path == "PUT /v1/firmware/updateStart" ||
                         path == "PUT /v1/firmware/updateStop",
                     path.constData());
    }
}

void TestHttpUpgradeTask::redirectsAwayFromTheRecorderAreNotFollowed()
{
    FirmwareHttpServer elsewhere;
    QVERIFY(elsewhere.listen(QHostAddress(QString::fromLatin1(kElsewhere)), 80));
    m_server->setRedirect(QByteArray("http://") + kElsewhere);
    auto task = makeTask();
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    task->start();
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), 1);
    QCOMPARE(m_server->paths(), QList<QByteArray>{"PUT /v1/firmware/updateStart"});
    QTest::qWait(200);
    QVERIFY(elsewhere.log().isEmpty());
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
