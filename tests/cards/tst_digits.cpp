#include "cards/Digits.h"
#include "cards/Gbk.h"

#include <QTest>

class TestDigits : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void packAndUnpack_data();
    void packAndUnpack();
    void padNumber_data();
    void padNumber();
    void int32FromBytes();
    void cardSerialText_data();
    void cardSerialText();
    void notACardSerial();
    void typedSerial_data();
    void typedSerial();
    void hexByte();
    void textBeforeDash_data();
    void textBeforeDash();
    void terminalBitmap();
    void terminalFromText_data();
    void terminalFromText();
    void gbkRoundTrip();
    void gbkUserDefinedAreas_data();
    void gbkUserDefinedAreas();
    void gbkBeyondTheAreas();
};

void TestDigits::packAndUnpack_data()
{
    QTest::addColumn<QByteArray>("chars");
    QTest::addColumn<QByteArray>("packed");
    QTest::addColumn<QByteArray>("unpacked");
    QTest::newRow("digits") << QByteArray("1234") << QByteArray("\x12\x34") << QByteArray("1234");
    QTest::newRow("letters lose themselves") << QByteArray("AB") << QByteArray("\x12") << QByteArray("12");
    QTest::newRow("O is fifteen") << QByteArray("O0") << QByteArray("\xF0") << QByteArray("?0");
    QTest::newRow("nibble ten") << QByteArray(":1") << QByteArray("\xA1") << QByteArray(":1");
    // A Chinese identifier of four GBK characters (小区标识) packs nibble by nibble.
    QTest::newRow("gbk") << QByteArray("\xD0\xA1\xC7\xF8\xB1\xEA\xCA\xB6") << QByteArray("\x01\x78\x1A\xA6")
                         << QByteArray("01781::6");
}

void TestDigits::packAndUnpack()
{
    QFETCH(QByteArray, chars);
    QFETCH(QByteArray, packed);
    QFETCH(QByteArray, unpacked);
    const int n = int(chars.size() / 2);
    uint8_t out[8] = {};
    PackDigits(out, chars.constData(), n);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), n), packed);
    char back[16] = {};
    std::memset(back, 'x', sizeof back);
    UnpackDigits(back, out, n);
    QCOMPARE(QByteArray(back, 2 * n), unpacked);
    QCOMPARE(back[2 * n], 'x'); // no terminator written
}

void TestDigits::padNumber_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    QTest::newRow("7") << 7 << 2 << "07";
    QTest::newRow("123") << 123 << 2 << "123";
    QTest::newRow("-5") << -5 << 4 << "00-5";
    QTest::newRow("serial") << 1234567 << 10 << "0001234567";
    QTest::newRow("top bit") << int(0x80000001) << 10 << "-2147483647";
}

void TestDigits::padNumber()
{
    QFETCH(int, value);
    QFETCH(int, width);
    QFETCH(QString, text);
    QCOMPARE(PadNumber(value, width), text);
}

void TestDigits::int32FromBytes()
{
    const uint8_t top[4] = {0x80, 0x00, 0x00, 0x01};
    QCOMPARE(Int32FromBytes(top), -2147483647);
    QCOMPARE(PadNumber(Int32FromBytes(top), 10).size(), 11);
    const uint8_t small[4] = {0x00, 0x12, 0xD6, 0x87};
    QCOMPARE(Int32FromBytes(small), 1234567);
}

void TestDigits::cardSerialText_data()
{
    QTest::addColumn<int>("serial");
    QTest::newRow("0") << 0;
    QTest::newRow("1") << 1;
    QTest::newRow("2^24") << (1 << 24);
    QTest::newRow("2^31-1") << int(INT32_MAX);
    QTest::newRow("-1") << -1;
    QTest::newRow("-256") << -256;
    QTest::newRow("-2^31+1") << int(INT32_MIN + 1);
    QTest::newRow("-2^31") << int(INT32_MIN);
}

void TestDigits::cardSerialText()
{
    // Every text PadNumber writes for a card serial reads back as that serial, the minus sign
    // inside the padding included ("000000-256").
    QFETCH(int, serial);
    const QString text = PadNumber(serial, 10);
    QCOMPARE(CardSerialFromText(text), std::optional<int32_t>(serial));
    QCOMPARE(CardSerialFromText(QLatin1Char(' ') + text + QLatin1Char(' ')), std::optional<int32_t>(serial));
}

void TestDigits::notACardSerial()
{
    QCOMPARE(CardSerialFromText(QString()), std::optional<int32_t>(0)); // an owner without a card
    for (const char* bad :
         {"-", "000-", "--5", "12-3", "0-0-1", "1 2", "2147483648", "-2147483649", "abc", "0x10", "+5", "１"})
        QVERIFY2(!CardSerialFromText(QString::fromUtf8(bad)), bad);
    // An owner without a card has no unsigned form to show, nor has a text that is no serial.
    QCOMPARE(UnsignedSerialText(QString()), QString());
    QCOMPARE(UnsignedSerialText(QStringLiteral("12-3")), QString());
}

void TestDigits::typedSerial_data()
{
    // What the operator types, the serial it names (none: nothing), and the unsigned text of that
    // serial, the form the card issuer shows.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("isSerial");
    QTest::addColumn<int>("serial");
    QTest::addColumn<QString>("unsignedText");
    QTest::newRow("stored, top bit set") << "-380917942" << true << -380917942 << "3914049354";
    QTest::newRow("unsigned, top bit set") << "3914049354" << true << -380917942 << "3914049354";
    QTest::newRow("unsigned with zeros and blanks") << " 03914049354 " << true << -380917942 << "3914049354";
    QTest::newRow("stored, padded minus") << "000000-256" << true << -256 << "4294967040";
    QTest::newRow("stored, top bit clear") << "0012345678" << true << 12345678 << "12345678";
    QTest::newRow("unpadded") << "12345678" << true << 12345678 << "12345678";
    QTest::newRow("2^31 only unsigned") << "2147483648" << true << int(INT32_MIN) << "2147483648";
    QTest::newRow("-2^31 stored") << "-2147483648" << true << int(INT32_MIN) << "2147483648";
    QTest::newRow("2^32-1") << "4294967295" << true << -1 << "4294967295";
    QTest::newRow("2^32 too large") << "4294967296" << false << 0 << "";
    QTest::newRow("far too large") << "99999999999999999999" << false << 0 << "";
    QTest::newRow("blank") << "  " << false << 0 << "";
    QTest::newRow("a card number") << "A-101" << false << 0 << "";
    QTest::newRow("plus") << "+5" << false << 0 << "";
    QTest::newRow("full-width digit") << "１" << false << 0 << "";
}

void TestDigits::typedSerial()
{
    QFETCH(QString, typed);
    QFETCH(bool, isSerial);
    QFETCH(int, serial);
    QFETCH(QString, unsignedText);
    const std::optional<int32_t> read = CardSerialFromTyped(typed);
    QCOMPARE(read.has_value(), isSerial);
    if (isSerial) {
        QCOMPARE(*read, serial);
        QCOMPARE(UnsignedSerialText(*read), unsignedText);
        // The text stored for the card shows the same unsigned number.
        QCOMPARE(UnsignedSerialText(PadNumber(*read, 10)), unsignedText);
    }
}

void TestDigits::hexByte()
{
    QCOMPARE(HexByte(10), "0A");
    QCOMPARE(HexByte(238), "EE");
    QCOMPARE(HexByte(0), "00");
}

void TestDigits::textBeforeDash_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("plain") << "12-3"
                           << "12";
    QTest::newRow("spaces") << " 5 -x"
                            << "5";
    QTest::newRow("no dash") << "12"
                             << "";
    QTest::newRow("tree caption") << "3 - [东门]"
                                  << "3";
}

void TestDigits::textBeforeDash()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    QCOMPARE(TextBeforeDash(text), result);
}

void TestDigits::terminalBitmap()
{
    uint8_t bitmap[32] = {};
    SetTerminal(bitmap, 0);
    SetTerminal(bitmap, 7);
    SetTerminal(bitmap, 8);
    SetTerminal(bitmap, 255);
    QCOMPARE(bitmap[0], uint8_t(0x81));
    QCOMPARE(bitmap[1], uint8_t(0x80));
    QCOMPARE(bitmap[31], uint8_t(0x01));
    QVERIFY(TestTerminal(bitmap, 255));
    QVERIFY(!TestTerminal(bitmap, 254));
    ClearTerminal(bitmap, 0);
    QCOMPARE(bitmap[0], uint8_t(0x01));
    ClearTerminal(bitmap, 0); // clearing twice keeps it clear
    QCOMPARE(bitmap[0], uint8_t(0x01));
}

void TestDigits::terminalFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("terminal"); // -1: names no terminal
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("255") << "255" << 255;
    QTest::newRow("blanks around") << " 12 " << 12;
    QTest::newRow("zeros in front") << "0007" << 7;
    QTest::newRow("256") << "256" << -1;
    QTest::newRow("long number") << "4294967296" << -1;
    QTest::newRow("minus") << "-1" << -1;
    QTest::newRow("plus") << "+5" << -1;
    QTest::newRow("fraction") << "5.5" << -1;
    QTest::newRow("letters") << "abc" << -1;
    QTest::newRow("full-width digit") << "\uFF15" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestDigits::terminalFromText()
{
    QFETCH(QString, text);
    QFETCH(int, terminal);
    QCOMPARE(TerminalFromText(text).value_or(-1), terminal);
}

void TestDigits::gbkRoundTrip()
{
    const QString id = QStringLiteral("小区标识");
    const QByteArray gbk = StringToGbk(id);
    QCOMPARE(gbk, QByteArray("\xD0\xA1\xC7\xF8\xB1\xEA\xCA\xB6"));
    QCOMPARE(GbkToString(gbk), id);
    QCOMPARE(GbkToString(gbk.constData(), 4), QStringLiteral("小区"));
    QCOMPARE(GbkToString("57302914\0zz", 12), QStringLiteral("57302914"));
    char field[8];
    CopyGbkField(field, 8, StringToGbk(QStringLiteral("abc")));
    QCOMPARE(QByteArray(field, 8), QByteArray("abc\0\0\0\0\0", 8));
    QCOMPARE(StringToGbk(QStringLiteral("a\U0001F600")), QByteArray("a?"));
}

void TestDigits::gbkUserDefinedAreas_data()
{
    // The three user-defined areas, row by row onto U+E000..U+E765 as the Chinese Windows code page
    // has them: the first and last code of each, and the step over 0x7F in the third.
    QTest::addColumn<QByteArray>("gbk");
    QTest::addColumn<int>("code");
    QTest::newRow("AAA1, first of the first") << QByteArray("\xAA\xA1") << 0xE000;
    QTest::newRow("AAFE, end of its row") << QByteArray("\xAA\xFE") << 0xE05D;
    QTest::newRow("ABA1, next row") << QByteArray("\xAB\xA1") << 0xE05E;
    QTest::newRow("AFFE, last of the first") << QByteArray("\xAF\xFE") << 0xE233;
    QTest::newRow("F8A1, first of the second") << QByteArray("\xF8\xA1") << 0xE234;
    QTest::newRow("FEFE, last of the second") << QByteArray("\xFE\xFE") << 0xE4C5;
    QTest::newRow("A140, first of the third") << QByteArray("\xA1\x40") << 0xE4C6;
    QTest::newRow("A17E, before 7F") << QByteArray("\xA1\x7E") << 0xE504;
    QTest::newRow("A180, after 7F") << QByteArray("\xA1\x80") << 0xE505;
    QTest::newRow("A240, next row") << QByteArray("\xA2\x40") << 0xE526;
    QTest::newRow("A7A0, last of the third") << QByteArray("\xA7\xA0") << 0xE765;
}

void TestDigits::gbkUserDefinedAreas()
{
    QFETCH(QByteArray, gbk);
    QFETCH(int, code);
    const QString text = QStringLiteral("张") + QChar(char16_t(code)) + QStringLiteral("三");
    const QByteArray bytes = "\xD5\xC5" + gbk + "\xC8\xFD";
    // Every way the program reads and writes GBK: the lenient pair for cards and settings, the
    // strict reading of owner data files and their writing from the database's UTF-8.
    QCOMPARE(GbkToString(bytes), text);
    QCOMPARE(StringToGbk(text), bytes);
    QString decoded;
    QCOMPARE(DecodeGbk(bytes.constData(), bytes.size(), decoded), bytes.size());
    QCOMPARE(decoded, text);
    QByteArray written("x");
    const QByteArray utf8 = text.toUtf8();
    QCOMPARE(AppendUtf8AsGbk(utf8.constData(), utf8.size(), written), 0);
    QCOMPARE(written, "x" + bytes);
}

void TestDigits::gbkBeyondTheAreas()
{
    // Next to the areas nothing changes: the code after the last is no GBK character, a trail byte
    // of 7F is none in any area, and characters beyond the basic plane stay refused.
    QCOMPARE(StringToGbk(QString(QChar(char16_t(0xE766)))), QByteArray("?"));
    QByteArray written;
    const QByteArray beyond =
        QString(QChar(char16_t(0xE766))).toUtf8() + QStringLiteral("\U0001F600").toUtf8();
    QCOMPARE(AppendUtf8AsGbk(beyond.constData(), beyond.size(), written), 2);
    QCOMPARE(written, QByteArray("??"));
    QString decoded;
    QCOMPARE(DecodeGbk("a\xA1\x7F", 3, decoded), 1);
    QCOMPARE(GbkToString(QByteArray("\xA1\xA1")), QString(QChar(char16_t(0x3000)))); // an ordinary GBK pair
    // The community identifier of the cards: eight bytes, a user-defined character in them kept.
    char field[8];
    CopyGbkField(field, 8,
                 StringToGbk(QStringLiteral("小区") + QChar(char16_t(0xE000)) + QStringLiteral("1")));
    QCOMPARE(QByteArray(field, 8), QByteArray("\xD0\xA1\xC7\xF8\xAA\xA1"
                                              "1\0",
                                              8));
    QCOMPARE(GbkToString(field, 8), QStringLiteral("小区") + QChar(char16_t(0xE000)) + QStringLiteral("1"));
}

QTEST_APPLESS_MAIN(TestDigits)
#include "tst_digits.moc"
