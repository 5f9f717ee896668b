#include "networktaskfixture.h"
#include "plugins/webview/bonjourpotentialdevice.h"
#include "plugins/webview/bpfuupdatetask.h"
#include "sim/blockrecorder/blockrecorder.h"
#include "sim/blockrecorder/firmwareupdatepeer.h"
#include "sim/novarecorder/novabonjourrecords.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace Sim::NovaBonjour;

namespace {

constexpr int kWaitMs = 20000;

int blocksNamed(const BlockRecorder& recorder, const QByteArray& name)
{
    return int(recorder.receivedNamesWithoutPings().count(name));
}

} // namespace

class TestBpfuUpdateTask : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { registerBonjourRecordTypes(); }
    void init();
    void cleanup();
    void uploadsInChunksAndWaitsForTheReboot();
    void failures_data();
    void failures();
    void missingPackageFailsWithoutContact();
    void secondStartDuringUpdateChangesNothing();
    void destroyedTaskEndsTheConversation();

private:
    std::unique_ptr<BpfuUpdateTask> makeTask(int64_t seconds = 5);

    NetworkTaskFixture m_net;
    std::unique_ptr<BlockRecorder> m_recorder;
    FirmwareUpdatePeer* m_peer = nullptr;
};

void TestBpfuUpdateTask::init()
{
    QVERIFY(m_net.setUp(100000));
    m_recorder = std::make_unique<BlockRecorder>();
    QVERIFY(m_recorder->listen(QHostAddress(QStringLiteral("127.0.0.8"))));
    m_peer = new FirmwareUpdatePeer(m_recorder.get());
}

void TestBpfuUpdateTask::cleanup()
{
    m_net.tearDown();
    m_recorder.reset();
}

std::unique_ptr<BpfuUpdateTask> TestBpfuUpdateTask::makeTask(int64_t seconds)
{
    const BlockRecorder* recorder = m_recorder.get();
    const auto device = m_net.announce(seconds, [recorder] {
        return std::make_pair(recorder->address().toString().toStdString(), recorder->port());
    });
    if (!device)
        return nullptr;
    auto task = std::make_unique<BpfuUpdateTask>(m_net.manager, device);
    task->setReconnectInterval(100);
    task->setConnectTimeout(1000);
    return task;
}

void TestBpfuUpdateTask::uploadsInChunksAndWaitsForTheReboot()
{
    auto task = makeTask();
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    QSignalSpy progress(task.get(), &DeviceFirmwareUpdater::firmwareUpdateProgress);
    task->start();
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), 0);
    QVERIFY(task->checkDevice());
    QCOMPARE(task->chunkSizes(), (std::vector<qint64>{65536, 34464}));
    QCOMPARE(m_peer->received().size(), m_net.image.size());
    QVERIFY(m_peer->received() == m_net.image);
    QCOMPARE(m_peer->reboots(), 1);
    QCOMPARE(m_recorder->log().first().fields.value(0),
             qMakePair(QByteArray("Size"), QByteArray("100000")));
    QCOMPARE(progress.first().at(0).toInt(), -1);
    QCOMPARE(progress.last().at(0).toInt(), 100);
    QCOMPARE(blocksNamed(*m_recorder, "FIRMWARE UPDATE"), 1);
}

void TestBpfuUpdateTask::failures_data()
{
    QTest::addColumn<FirmwareUpdatePeer::Faults>("faults");
    FirmwareUpdatePeer::Faults faults;
    faults.noPort = true;
    QTest::newRow("no port") << faults;
    faults = {};
    faults.closeUploadAfter = 30000;
    QTest::newRow("upload closed early") << faults;
    faults = {};
    faults.reportFailed = true;
    QTest::newRow("recorder reports failure") << faults;
    faults = {};
    faults.dropControlAfter = 1000;
    QTest::newRow("control connection lost during upload") << faults;
    faults = {};
    faults.neverComesBack = true;
    QTest::newRow("never back after reboot") << faults;
}

void TestBpfuUpdateTask::failures()
{
    QFETCH(FirmwareUpdatePeer::Faults, faults);
    m_peer->setFaults(faults);
    auto task = makeTask(1);
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    QSignalSpy progress(task.get(), &DeviceFirmwareUpdater::firmwareUpdateProgress);
    task->start();
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), 1);
    QVERIFY(!task->checkDevice());
    QCOMPARE(task->state(), int(BpfuUpdateTask::UpdateFailed));
    // A failed update never shows as complete, not even after a wait that ran out.
    for (const auto& arguments : progress)
        QVERIFY(arguments.at(0).toInt() < 100);
    // Reported once, and the control conversation ends with the task's run.
    QTest::qWait(300);
    QCOMPARE(updated.count(), 0);
    QTRY_VERIFY(!m_recorder->isConnected());
}

void TestBpfuUpdateTask::missingPackageFailsWithoutContact()
{
    m_net.folder.reset();
    auto task = makeTask();
    QVERIFY(task);
    QCOMPARE(NetworkTaskFixture::resultsOfStart(*task), QList<int>{1});
    QTest::qWait(100);
    QCOMPARE(m_recorder->connectionCount(), 0);
}

void TestBpfuUpdateTask::secondStartDuringUpdateChangesNothing()
{
    auto task = makeTask();
    QVERIFY(task);
    QSignalSpy updated(task.get(), &DeviceFirmwareUpdater::firmwareUpdated);
    task->start();
    QTRY_COMPARE(blocksNamed(*m_recorder, "FIRMWARE UPDATE"), 1);
    task->start();
    QVERIFY(updated.wait(kWaitMs));
    QCOMPARE(updated.takeFirst().at(0).toInt(), 0);
    QCOMPARE(blocksNamed(*m_recorder, "FIRMWARE UPDATE"), 1);
    QCOMPARE(m_recorder->connectionCount(), 2); // the announcement, and the one after the reboot
}

void TestBpfuUpdateTask::destroyedTaskEndsTheConversation()
{
    FirmwareUpdatePeer::Faults faults;
    faults.noPort = true;
    m_peer->setFaults(faults);
    auto task = makeTask();
    QVERIFY(task);
    task->start();
    QTRY_COMPARE(blocksNamed(*m_recorder, "FIRMWARE UPDATE"), 1);
    QVERIFY(m_recorder->isConnected());
    task.reset();
    QTRY_VERIFY(!m_recorder->isConnected());
}

QTEST_MAIN(TestBpfuUpdateTask)
#include "tst_bpfuupdatetask.moc"
