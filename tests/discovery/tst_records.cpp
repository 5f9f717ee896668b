#include "discovery/records/bonjourinfo.h"

#include <QThread>
#include <QtTest>

namespace {

BonjourInfo sample()
{
    BonjourInfo info;
    info.serviceName = "Kestrel Studio";
    info.serviceType = "_corvane._tcp.";
    info.domain = "local.";
    info.interfaceIndex = 3;
    info.txt = {{"model", "nova"}, {"serial", "A1B2"}, {"", "empty key"}};
    info.hostName = "kestrel.local.";
    info.address = "127.0.0.7";
    info.port = 8080;
    info.seen = true;
    return info;
}

class Sender : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void record(BonjourInfo info);
};

class Receiver : public QObject
{
    Q_OBJECT
public:
    BonjourInfo got;
    QThread* thread = nullptr;
public Q_SLOTS:
    void onRecord(BonjourInfo info)
    {
        got = info;
        thread = QThread::currentThread();
    }
};

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void identity_data();
    void identity();
    void defaults();
    void moveEmptiesSource();
    void crossesQueuedConnectionWhole();
};

void TestRecords::identity_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("equal");
    QTest::newRow("same") << "" << true;
    QTest::newRow("name case") << "serviceName" << false;
    QTest::newRow("type") << "serviceType" << false;
    QTest::newRow("domain") << "domain" << false;
    QTest::newRow("other interface") << "interfaceIndex" << false;
    QTest::newRow("txt") << "txt" << true;
    QTest::newRow("host") << "hostName" << true;
    QTest::newRow("address") << "address" << true;
    QTest::newRow("port") << "port" << true;
    QTest::newRow("seen") << "seen" << true;
}

void TestRecords::identity()
{
    QFETCH(QString, field);
    QFETCH(bool, equal);
    const BonjourInfo a = sample();
    BonjourInfo b = sample();
    if (field == "serviceName")
        b.serviceName = "kestrel studio";
    else if (field == "serviceType")
        b.serviceType = "_http._tcp.";
    else if (field == "domain")
        b.domain = "example.";
    else if (field == "interfaceIndex")
        b.interfaceIndex = 4;
    else if (field == "txt")
        b.txt = {{"model", "other"}};
    else if (field == "hostName")
        b.hostName = "other.local.";
    else if (field == "address")
        b.address = "127.0.0.8";
    else if (field == "port")
        b.port = 1;
    else if (field == "seen")
        b.seen = false;
    QCOMPARE(a == b, equal);
    QCOMPARE(a != b, !equal);
    QCOMPARE(static_cast<const BonjourDevice&>(a) == static_cast<const BonjourDevice&>(b), equal);
}

void TestRecords::defaults()
{
    const BonjourInfo info;
    QVERIFY(info.serviceName.empty() && info.serviceType.empty() && info.domain.empty());
    QVERIFY(info.txt.empty() && info.hostName.empty() && info.address.empty());
    QCOMPARE(info.interfaceIndex, 0u);
    QCOMPARE(info.port, uint16_t(0));
    QVERIFY(!info.seen);
}

void TestRecords::moveEmptiesSource()
{
    BonjourInfo from = sample();
    BonjourInfo to(std::move(from));
    QCOMPARE(to.txt.size(), size_t(3));
    QCOMPARE(to.hostName, std::string("kestrel.local."));
    QVERIFY(from.serviceName.empty());
    QVERIFY(from.hostName.empty());
}

void TestRecords::crossesQueuedConnectionWhole()
{
    registerBonjourRecordTypes();
    QCOMPARE(QMetaType::fromName("BonjourInfo"), QMetaType::fromType<BonjourInfo>());

    QThread worker;
    Sender sender;
    sender.moveToThread(&worker);
    Receiver receiver;
    connect(&sender, &Sender::record, &receiver, &Receiver::onRecord, Qt::QueuedConnection);
    worker.start();
    QMetaObject::invokeMethod(&sender, [&sender] { Q_EMIT sender.record(sample()); });

    QTRY_COMPARE(receiver.thread, QThread::currentThread());
    const BonjourInfo want = sample();
    QVERIFY(receiver.got == want);
    QCOMPARE(receiver.got.txt, want.txt);
    QCOMPARE(receiver.got.hostName, want.hostName);
    QCOMPARE(receiver.got.address, want.address);
    QCOMPARE(receiver.got.port, want.port);
    QCOMPARE(receiver.got.seen, want.seen);

    worker.quit();
    worker.wait();
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
