#include "platform/devicebroadcast.h"
#include "platform/overlapped.h"
#include "platform/threadrecipient.h"

#include <QtTest>

#include <atomic>
#include <future>
#include <thread>

class TestPlatform : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void broadcastHeadersRoundTrip();
    void threadRecipientRunsWorkInOrderOnItsThread();
    void threadRecipientInvokeAndQuit();
    void threadRecipientDestroyedByItsOwnWork();
    void threadRecipientForgetsItsThreadAfterQuit();
    void overlappedWaitsForItsHook();
};

void TestPlatform::broadcastHeadersRoundTrip()
{
    const Platform::Guid cls = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    auto block = Platform::DeviceBroadcast::encodeDeviceInterface(cls, "\\\\?\\usb#abc");
    Platform::DeviceBroadcast header;
    QVERIFY(Platform::DeviceBroadcast::parse(block.data(), block.size(), &header));
    QCOMPARE(header.type, 5u);
    QVERIFY(header.classGuid == cls);
    QCOMPARE(QString::fromStdString(header.name), QStringLiteral("\\\\?\\usb#abc"));
    QCOMPARE(block[12], uint8_t(0x04)); // data1 little-endian

    // A filter (empty name) is 32 bytes.
    QCOMPARE(Platform::DeviceBroadcast::encodeDeviceInterface(cls, {}).size(), size_t(32));

    block = Platform::DeviceBroadcast::encodeHandle(0x1122334455667788ull);
    QCOMPARE(block.size(), size_t(56));
    QVERIFY(Platform::DeviceBroadcast::parse(block.data(), block.size(), &header));
    QCOMPARE(header.type, 6u);
    QCOMPARE(header.handle, 0x1122334455667788ull);
    QVERIFY(!Platform::DeviceBroadcast::parse(block.data(), 55, &header));
}

void TestPlatform::threadRecipientRunsWorkInOrderOnItsThread()
{
    QList<int> seen;
    std::thread::id where;
    Platform::ThreadRecipient recipient([&](const Platform::Message& m, intptr_t*) {
        seen << int(m.wParam);
        where = std::this_thread::get_id();
        return true;
    });
    QVERIFY(!recipient.post([] {}) && "not started");
    QVERIFY(recipient.start());
    for (int i = 0; i < 5; ++i) {
        Platform::Message m;
        m.wParam = uintptr_t(i);
        QVERIFY(recipient.postMessage(m));
    }
    QVERIFY(recipient.invoke([] {}));
    QCOMPARE(seen, (QList<int>{0, 1, 2, 3, 4}));
    QVERIFY(where != std::this_thread::get_id());
    bool inside = false;
    recipient.invoke([&] { inside = recipient.isOwnerThread(); });
    QVERIFY(inside);
    QVERIFY(!recipient.isOwnerThread());
}

void TestPlatform::threadRecipientInvokeAndQuit()
{
    Platform::ThreadRecipient recipient;
    recipient.start();
    std::atomic<int> ran{0};
    // Work waiting behind a slow item is dropped by quit (or refused, had it come later);
    // invoke then answers false. The slow item ends only once quit has emptied the queue.
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<bool> slowRunning{false};
    recipient.post([&, gate] {
        slowRunning = true;
        gate.wait();
        ++ran;
    });
    QTRY_VERIFY(slowRunning.load());
    bool invoked = true;
    std::thread waiter([&] { invoked = recipient.invoke([&] { ran += 10; }); });
    std::thread quitter([&] { recipient.quit(); });
    QTRY_VERIFY(!recipient.post([] {}));
    open.set_value();
    quitter.join();
    waiter.join();
    QCOMPARE(ran.load(), 1);
    QVERIFY(!invoked);
    QVERIFY(!recipient.post([] {}));
}

void TestPlatform::threadRecipientDestroyedByItsOwnWork()
{
    auto* recipient = new Platform::ThreadRecipient;
    QVERIFY(recipient->start());
    std::atomic<bool> destroyed{false};
    QVERIFY(recipient->post([&] {
        delete recipient;
        destroyed = true;
    }));
    QTRY_VERIFY(destroyed.load());
}

void TestPlatform::threadRecipientForgetsItsThreadAfterQuit()
{
    Platform::ThreadRecipient recipient;
    QVERIFY(recipient.start());
    std::thread::id owner;
    QVERIFY(recipient.invoke([&] { owner = std::this_thread::get_id(); }));
    recipient.quit();
    // New threads, one of which will likely get the ended thread's id: none may run the work
    // in its own place and call it done.
    int reused = 0;
    for (int i = 0; i < 20; ++i) {
        bool invoked = true, ownerThread = true, ran = false;
        std::thread::id id;
        std::thread([&] {
            id = std::this_thread::get_id();
            ownerThread = recipient.isOwnerThread();
            invoked = recipient.invoke([&] { ran = true; });
        }).join();
        reused += id == owner;
        QVERIFY(!invoked);
        QVERIFY(!ran);
        QVERIFY(!ownerThread);
    }
    qDebug("thread id reused %d times of 20", reused);
    // And it starts again on a new thread.
    QVERIFY(recipient.start());
    std::thread::id again;
    QVERIFY(recipient.invoke([&] { again = std::this_thread::get_id(); }));
    QVERIFY(again != std::this_thread::get_id());
}

void TestPlatform::overlappedWaitsForItsHook()
{
    std::atomic<bool> hookDone{false};
    auto* overlapped = new Platform::Overlapped([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        hookDone = true;
    });
    QVERIFY(!overlapped->isSignalled());
    std::thread driver([overlapped] { overlapped->ioCompleted(0, 12); });
    uint32_t bytes = 0, error = 1;
    QVERIFY(overlapped->result(&bytes, &error));
    QVERIFY(hookDone.load());
    QCOMPARE(bytes, 12u);
    QCOMPARE(error, 0u);
    driver.join();
    delete overlapped;
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
