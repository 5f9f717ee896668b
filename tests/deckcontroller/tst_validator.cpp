#include "plugins/deckcontroller/maxutf8lengthvalidator.h"

#include <QtTest>

// The unit name's rule is counted in UTF-8 bytes; the flags allow emptiness and white space.
class TestValidator : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void unitName_data();
    void unitName();
    void flags_data();
    void flags();
    void fixupDoesNotShorten();
};

void TestValidator::unitName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("fixed");

    const QString threeByte = QString(QChar(0x20AC));          // "€": three UTF-8 bytes
    const QString fourByte = QString::fromUcs4(U"\U0001F3AC"); // four bytes, two UTF-16 units
    QTest::newRow("empty") << QString() << int(QValidator::Intermediate) << QString();
    QTest::newRow("plain") << "Deck" << int(QValidator::Acceptable) << "Deck";
    QTest::newRow("leading space") << " Deck" << int(QValidator::Intermediate) << "Deck";
    QTest::newRow("trailing space") << "Deck " << int(QValidator::Intermediate) << "Deck";
    QTest::newRow("leading tab") << "\tDeck" << int(QValidator::Intermediate) << "Deck";
    QTest::newRow("trailing no-break space")
        << QString("Deck") + QChar(0x00A0) << int(QValidator::Intermediate) << "Deck";
    QTest::newRow("only spaces") << "   " << int(QValidator::Intermediate) << QString();
    QTest::newRow("inner space") << "Deck A" << int(QValidator::Acceptable) << "Deck A";
    QTest::newRow("62 ASCII bytes")
        << QString(62, 'a') << int(QValidator::Acceptable) << QString(62, 'a');
    QTest::newRow("63 ASCII bytes")
        << QString(63, 'a') << int(QValidator::Invalid) << QString(63, 'a');
    QTest::newRow("20 three-byte characters")
        << threeByte.repeated(20) << int(QValidator::Acceptable) << threeByte.repeated(20);
    QTest::newRow("21 three-byte characters (63 bytes)")
        << threeByte.repeated(21) << int(QValidator::Invalid) << threeByte.repeated(21);
    QTest::newRow("15 four-byte characters (60 bytes)")
        << fourByte.repeated(15) << int(QValidator::Acceptable) << fourByte.repeated(15);
    QTest::newRow("16 four-byte characters (64 bytes)")
        << fourByte.repeated(16) << int(QValidator::Invalid) << fourByte.repeated(16);
    QTest::newRow("four-byte character filling byte 62")
        << QString(58, 'a') + fourByte << int(QValidator::Acceptable)
        << QString(58, 'a') + fourByte;
    QTest::newRow("four-byte character past byte 62")
        << QString(59, 'a') + fourByte << int(QValidator::Invalid) << QString(59, 'a') + fourByte;
}

void TestValidator::unitName()
{
    QFETCH(QString, text);
    QFETCH(int, state);
    QFETCH(QString, fixed);
    const MaxUtf8LengthValidator* validator = MaxUtf8LengthValidator::unitName();
    QCOMPARE(validator->maximumBytes(), 62);
    QString edited = text;
    int position = 0;
    QCOMPARE(int(validator->validate(edited, position)), state);
    QCOMPARE(edited, text);
    validator->fixup(edited);
    QCOMPARE(edited, fixed);
}

void TestValidator::flags_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("fixed");

    QTest::newRow("empty allowed") << 1 << QString() << int(QValidator::Acceptable) << QString();
    QTest::newRow("leading allowed") << 2 << " a" << int(QValidator::Acceptable) << " a";
    QTest::newRow("leading allowed, trailing not")
        << 2 << " a " << int(QValidator::Intermediate) << " a";
    QTest::newRow("trailing allowed") << 4 << "a " << int(QValidator::Acceptable) << "a ";
    QTest::newRow("trailing allowed, leading not")
        << 4 << " a " << int(QValidator::Intermediate) << "a ";
    QTest::newRow("both allowed") << 6 << " a " << int(QValidator::Acceptable) << " a ";
    QTest::newRow("too long with everything allowed")
        << 7 << QString(63, ' ') << int(QValidator::Invalid) << QString(63, ' ');
}

void TestValidator::flags()
{
    QFETCH(int, flags);
    QFETCH(QString, text);
    QFETCH(int, state);
    QFETCH(QString, fixed);
    MaxUtf8LengthValidator validator(63, flags);
    QString edited = text;
    int position = 0;
    QCOMPARE(int(validator.validate(edited, position)), state);
    validator.fixup(edited);
    QCOMPARE(edited, fixed);
}

void TestValidator::fixupDoesNotShorten()
{
    QString text = QStringLiteral(" ") + QString(70, 'x') + QStringLiteral(" ");
    MaxUtf8LengthValidator::unitName()->fixup(text);
    QCOMPARE(text, QString(70, 'x'));
}

QTEST_GUILESS_MAIN(TestValidator)
#include "tst_validator.moc"
