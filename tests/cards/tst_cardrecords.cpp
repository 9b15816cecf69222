#include "cards/CardRecords.h"
#include "cards/Digits.h"

#include <QTest>

class TestCardRecords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ownerCardExample();
    void ownerCardDecode();
    void deviceCardTimeBytes();
    void blackListSerial_data();
    void blackListSerial();
};

void TestCardRecords::ownerCardExample()
{
    TUserCardRec rec;
    rec.Kind = OwnerCardKind;
    rec.Sector = 7;
    std::memcpy(rec.RegionID, "12345678", 8);
    rec.UseExpiry = 1;
    std::memcpy(rec.Expiry, "991231", 7);
    rec.CardSerial = 0x11223344; // the card issuer fills the serial in; nothing of it goes out
    SetTerminal(rec.Terminals, 0);
    SetTerminal(rec.Terminals, 9);
    const auto b = EncodeUserCard(rec);
    std::array<uint8_t, 48> expected{};
    expected[1] = 0x12;
    expected[2] = 0x34;
    expected[3] = 0x56;
    expected[4] = 0x78;
    expected[5] = 0x01;
    expected[6] = 0x99;
    expected[7] = 0x12;
    expected[8] = 0x31;
    expected[16] = 0x80;
    expected[17] = 0x40;
    QCOMPARE(b, expected);
}

void TestCardRecords::ownerCardDecode()
{
    std::array<uint8_t, 48> b{};
    b[1] = 0x57;
    b[2] = 0x30;
    b[3] = 0x29;
    b[4] = 0x14;
    b[5] = 1;
    b[6] = 0x26;
    b[7] = 0x01;
    b[8] = 0x31;
    b[10] = 0x80;
    b[13] = 0x01;
    b[47] = 0x01;
    TUserCardRec rec;
    rec.Sector = 9;
    DecodeUserCard(b.data(), rec);
    QCOMPARE(QByteArray(rec.RegionID, 8), QByteArray("57302914"));
    QCOMPARE(QByteArray(rec.Expiry, 6), QByteArray("260131"));
    QCOMPARE(rec.UseExpiry, uint8_t(1));
    QCOMPARE(rec.CardSerial, -2147483647);
    QVERIFY(TestTerminal(rec.Terminals, 255));
    QCOMPARE(rec.Sector, uint8_t(9)); // not on the card
}

void TestCardRecords::deviceCardTimeBytes()
{
    TTerminalParamRec rec;
    rec.Kind = DeviceCardKind;
    rec.Sector = 7;
    std::memcpy(rec.RegionID, "57302914", 8);
    std::memcpy(rec.IssueTime, "24030514", 8);
    const auto b = EncodeTerminalParam(rec);
    const std::array<uint8_t, 11> expected{0x01, 0x57, 0x30, 0x29, 0x14, 0x00, 0x24, 0x03, 0x05, 0x14, 0x00};
    QCOMPARE(b, expected);
    TTerminalParamRec back;
    DecodeTerminalParam(b.data(), back);
    QCOMPARE(QByteArray(back.IssueTime, 8), QByteArray("24030514"));
    QCOMPARE(QByteArray(back.RegionID, 8), QByteArray("57302914"));
    QCOMPARE(back.Kind, uint8_t(1));
}

void TestCardRecords::blackListSerial_data()
{
    QTest::addColumn<int>("serial");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("truncated") << 305419896 << QByteArray("\x78\x56\x34") << "0003430008";
    QTest::newRow("below 2^24") << 1234567 << QByteArray("\x87\xD6\x12") << "0001234567";
    QTest::newRow("negative") << int(0x80000001) << QByteArray("\x01\x00\x00", 3) << "0000000001";
}

void TestCardRecords::blackListSerial()
{
    QFETCH(int, serial);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, readBack);
    BlackListEntry e;
    e.Flag = 1;
    SetBlackListSerial(e, serial);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(e.Serial24), 3), bytes);
    QCOMPARE(PadNumber(BlackListSerial(e), 10), readBack);
}

QTEST_APPLESS_MAIN(TestCardRecords)
#include "tst_cardrecords.moc"
