#include "framework/ipaddressvalidator.h"
#include "framework/nonemptyvalidator.h"
#include "framework/sharedvalidators.h"
#include "framework/unsignedintvalidator.h"

#include <QtTest>

using State = QValidator::State;
Q_DECLARE_METATYPE(QValidator::State)

class TestValidators : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void nonEmpty_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<State>("expected");
        QTest::newRow("empty") << "" << QValidator::Intermediate;
        QTest::newRow("space") << " " << QValidator::Acceptable;
        QTest::newRow("word") << "Deck A" << QValidator::Acceptable;
    }

    void nonEmpty()
    {
        QFETCH(QString, input);
        int pos = input.size();
        QTEST(SharedValidators::nonEmpty()->validate(input, pos), "expected");
    }

    void ipAddress_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<State>("expected");
        const auto ok = QValidator::Acceptable;
        const auto partial = QValidator::Intermediate;
        const auto bad = QValidator::Invalid;
        QTest::newRow("full") << "192.168.1.1" << ok;
        QTest::newRow("zeros") << "0.0.0.0" << ok;
        QTest::newRow("top") << "255.255.255.255" << ok;
        QTest::newRow("leading zeros") << "007.010.1.1" << ok;
        QTest::newRow("empty") << "" << partial;
        QTest::newRow("one digit") << "1" << partial;
        QTest::newRow("trailing dot") << "192.168.1." << partial;
        QTest::newRow("three octets") << "192.168.1" << partial;
        QTest::newRow("octet start") << "25" << partial;
        QTest::newRow("256") << "256.1.1.1" << bad;
        QTest::newRow("five octets") << "1.2.3.4.5" << bad;
        QTest::newRow("dot after four") << "1.2.3.4." << bad;
        QTest::newRow("double dot") << "1..2" << bad;
        QTest::newRow("leading dot") << ".1" << bad;
        QTest::newRow("four digits") << "1000" << bad;
        QTest::newRow("letters") << "abc" << bad;
        QTest::newRow("host name") << "deck.local" << bad;
        QTest::newRow("space") << "1.2.3.4 " << bad;
        QTest::newRow("brace text") << "1.{,3}" << bad;
        QTest::newRow("negative") << "-1.2.3.4" << bad;
    }

    void ipAddress()
    {
        QFETCH(QString, input);
        int pos = input.size();
        QTEST(SharedValidators::ipAddress()->validate(input, pos), "expected");
        int hostPos = input.size();
        QTEST(SharedValidators::hostIpAddress()->validate(input, hostPos), "expected");
    }

    void unsignedInt_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<State>("expected");
        QTest::newRow("port") << "8080" << QValidator::Acceptable;
        QTest::newRow("bottom") << "1024" << QValidator::Acceptable;
        QTest::newRow("top") << "49151" << QValidator::Acceptable;
        QTest::newRow("short") << "80" << QValidator::Intermediate;
        QTest::newRow("empty") << "" << QValidator::Intermediate;
        QTest::newRow("as many digits as top") << "65535" << QValidator::Intermediate;
        QTest::newRow("too many digits") << "123456" << QValidator::Invalid;
        QTest::newRow("zero") << "0" << QValidator::Invalid;
        QTest::newRow("leading zero") << "08080" << QValidator::Invalid;
        QTest::newRow("plus") << "+5" << QValidator::Invalid;
        QTest::newRow("minus") << "-5" << QValidator::Invalid;
        QTest::newRow("leading space") << " 8080" << QValidator::Invalid;
        QTest::newRow("letters after") << "80x" << QValidator::Invalid;
        QTest::newRow("group separator") << "8,080" << QValidator::Invalid;
        QTest::newRow("decimal point") << "8080.0" << QValidator::Invalid;
    }

    void unsignedInt()
    {
        QFETCH(QString, input);
        int pos = input.size();
        QTEST(SharedValidators::port()->validate(input, pos), "expected");
    }

    void sharedInstancesAreProcessWide()
    {
        QCOMPARE(SharedValidators::nonEmpty(), SharedValidators::nonEmpty());
        QCOMPARE(SharedValidators::ipAddress(), SharedValidators::ipAddress());
        QVERIFY(SharedValidators::ipAddress() != SharedValidators::hostIpAddress());
        QCOMPARE(SharedValidators::port()->bottom(), 1024);
        QCOMPARE(SharedValidators::port()->top(), 49151);
        QVERIFY(!SharedValidators::port()->parent());
    }
};

QTEST_GUILESS_MAIN(TestValidators)
#include "tst_validators.moc"
