#include "UiFixture.h"
#include "cards/Gbk.h"
#include "link/CardIssuerLink.h"
#include "ui/SetTerminalParam.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

class TestDeviceCard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writeAndReadBack();
    void writeChecks_data();
    void writeChecks();
    void identifierChecks_data();
    void identifierChecks();
    void saveStoresWithoutRangeCheck();
    void showFillsTheBoxes();
    void noCardIssuer();
    void closingSendsStop();
    void showingAgainKeepsACardRead();
    void enterPressesTheFocusedButtonOnly();
};

void TestDeviceCard::writeAndReadBack()
{
    AttachedProgram a;
    QVERIFY(a.start());
    OperatorLevel = 1;
    const uint32_t serial = a.f.formattedCardOnReader(0x80000001u, 9);
    TFormSetTerminalParam w;
    w.show();
    w.edtSector->setText(QStringLiteral("9"));
    w.edtRegion->setText(QStringLiteral("12345678"));
    QSignalSpy handled(a.link.get(), &CardIssuerLink::answerHandled);
    w.btnWrite->click();
    QVERIFY(handled.wait(3000));
    QCOMPARE(a.f.dialogs.texts(), QStringList{"管理卡操作完成\r\r请到门禁机刷卡授权"});
    // Written at 14:00 on 5 March 2024.
    QCOMPARE(a.f.sim.sectorRecord(serial, 9), QByteArray("\x01\x12\x34\x56\x78\x00\x24\x03\x05\x14\x00", 11));
    QCOMPARE(SystemInfo.Sector, uint8_t(9));
    QCOMPARE(QByteArray(SystemInfo.RegionID, 8), QByteArray("12345678"));
    QCOMPARE(int(PendingCommand), 9);

    w.edtRegion->setText(QStringLiteral("00000000"));
    a.f.dialogs.clear();
    w.btnRead->click();
    QVERIFY(handled.wait(3000));
    QTRY_COMPARE(w.lblSyncTime->text(), QStringLiteral("24030514"));
    QCOMPARE(w.edtRegion->text(), QStringLiteral("12345678"));
    QCOMPARE(a.f.dialogs.texts(), QStringList{"操作完成"});

    // An owner card on the reader: the boxes stay, the kind error shows.
    a.f.sim.setSector(serial, 9, SectorState::Formatted, QByteArray(48, '\0'));
    w.edtRegion->setText(QStringLiteral("87654321"));
    a.f.dialogs.clear();
    w.btnRead->click();
    QVERIFY(handled.wait(3000));
    QCOMPARE(a.f.dialogs.texts(), QStringList{"卡类型错误: 这个可能是用户卡"});
    QTest::qWait(250);
    QCOMPARE(w.edtRegion->text(), QStringLiteral("87654321"));
}

void TestDeviceCard::writeChecks_data()
{
    QTest::addColumn<QString>("sector");
    QTest::addColumn<QString>("region");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("stored");
    QTest::newRow("15") << "15"
                        << "12345678"
                        << "" << 15;
    QTest::newRow("0") << "0"
                       << "12345678"
                       << "" << 0;
    QTest::newRow("256 is sector 0") << "256"
                                     << "12345678"
                                     << "" << 0;
    QTest::newRow("16") << "16"
                        << "12345678"
                        << "扇区范围输入错误" << -1;
    QTest::newRow("-1 is 255") << "-1"
                               << "12345678"
                               << "扇区范围输入错误" << -1;
    QTest::newRow("abc") << "abc"
                         << "12345678"
                         << "扇区输入错误" << -1;
}

void TestDeviceCard::writeChecks()
{
    QFETCH(QString, sector);
    QFETCH(QString, region);
    QFETCH(QString, message);
    QFETCH(int, stored);
    AttachedProgram a;
    QVERIFY(a.start());
    OperatorLevel = 1;
    SystemInfo.Sector = 3;
    TFormSetTerminalParam w;
    w.show();
    w.edtSector->setText(sector);
    w.edtRegion->setText(region);
    w.btnWrite->click();
    if (message.isEmpty()) {
        QCOMPARE(int(SystemInfo.Sector), stored);
        QCOMPARE(int(PendingCommand), 1);
        QCOMPARE(StringToGbk(region), QByteArray(SystemInfo.RegionID, 8));
    } else {
        QCOMPARE(a.f.dialogs.texts(), QStringList{message});
        QCOMPARE(a.f.dialogs.shown.first().buttons,
                 message.startsWith(QStringLiteral("扇区")) ? MsgButtons::Abort : MsgButtons::Ok);
        QCOMPARE(int(SystemInfo.Sector), 3);
        QCOMPARE(int(PendingCommand), 9);
    }
}

void TestDeviceCard::identifierChecks_data()
{
    QTest::addColumn<QByteArray>("stored"); // GBK bytes in the settings before the window opens
    QTest::addColumn<QString>("typed");     // null: the box is left as the window filled it
    QTest::addColumn<QByteArray>("kept");   // the identifier stored afterwards; empty: refused
    const QByteArray chinese = StringToGbk(QStringLiteral("小区标识"));
    QTest::newRow("digits") << QByteArray() << "12345678" << QByteArray("12345678");
    QTest::newRow("letters and digits") << QByteArray() << "AbCd12yZ" << QByteArray("AbCd12yZ");
    QTest::newRow("the default") << QByteArray() << QString() << QByteArray("57302914");
    QTest::newRow("7 characters") << QByteArray() << "1234567" << QByteArray();
    QTest::newRow("9 characters") << QByteArray() << "123456789" << QByteArray();
    QTest::newRow("trailing space") << QByteArray() << "12345678 " << QByteArray();
    QTest::newRow("inner space") << QByteArray() << "1234 678" << QByteArray();
    QTest::newRow("dash") << QByteArray() << "1234-678" << QByteArray();
    QTest::newRow("4 Chinese characters") << QByteArray() << "小区标识" << QByteArray();
    QTest::newRow("full-width digits") << QByteArray() << "１２３４５６７８" << QByteArray();
    QTest::newRow("accented letter") << QByteArray() << "é1234567" << QByteArray();
    // Settings from before the check keep working while the box shows them unchanged.
    QTest::newRow("stored Chinese, unchanged") << chinese << QString() << chinese;
    QTest::newRow("stored with a dash, unchanged")
        << QByteArray("AB-12345") << QString() << QByteArray("AB-12345");
    QTest::newRow("stored Chinese, edited") << chinese << "小区标志" << QByteArray();
    QTest::newRow("stored Chinese, replaced") << chinese << "87654321" << QByteArray("87654321");
}

// The identifier is 8 ASCII digits or letters, on write and on save alike.
void TestDeviceCard::identifierChecks()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, typed);
    QFETCH(QByteArray, kept);
    AttachedProgram a;
    QVERIFY(a.start());
    OperatorLevel = 1;
    CopyGbkField(SystemInfo.RegionID, 8, stored);
    TFormSetTerminalParam w;
    w.show();
    if (!typed.isNull())
        w.edtRegion->setText(typed);
    const QString refusal = QStringLiteral("小区标识号必须8位数字或字母");

    w.btnWrite->click();
    if (kept.isEmpty()) {
        QCOMPARE(a.f.dialogs.texts(), QStringList{refusal});
        QCOMPARE(int(PendingCommand), 9);
    } else {
        QVERIFY(a.f.dialogs.texts().isEmpty());
        QCOMPARE(int(PendingCommand), 1);
        QCOMPARE(QByteArray(TerminalParamRec.RegionID, 8), kept.leftJustified(8, '\0'));
    }
    QCOMPARE(QByteArray(SystemInfo.RegionID, 8), (kept.isEmpty() ? stored : kept).leftJustified(8, '\0'));

    a.f.dialogs.clear();
    CopyGbkField(SystemInfo.RegionID, 8, stored);
    w.btnSave->click();
    QCOMPARE(a.f.dialogs.texts(), kept.isEmpty() ? QStringList{refusal} : QStringList());
    QCOMPARE(w.isVisible(), kept.isEmpty());
    QCOMPARE(QByteArray(SystemInfo.RegionID, 8), (kept.isEmpty() ? stored : kept).leftJustified(8, '\0'));
}

void TestDeviceCard::saveStoresWithoutRangeCheck()
{
    UiFixture f;
    OperatorLevel = 2;
    TFormSetTerminalParam w;
    w.show();
    w.edtSector->setText(QStringLiteral("16"));
    w.edtRegion->setText(QStringLiteral("ABCD1234"));
    w.btnSave->click();
    QCOMPARE(SystemInfo.Sector, uint8_t(16));
    QCOMPARE(QByteArray(SystemInfo.RegionID, 8), QByteArray("ABCD1234"));
    QVERIFY(!w.isVisible());
    QVERIFY(f.dialogs.texts().isEmpty());

    TFormSetTerminalParam again;
    again.show();
    again.edtSector->setText(QStringLiteral("x"));
    again.btnSave->click();
    QVERIFY(again.isVisible()); // the conversion error is shown and the window stays
    QCOMPARE(f.dialogs.shown.size(), 1);
    QCOMPARE(SystemInfo.Sector, uint8_t(16));
}

void TestDeviceCard::showFillsTheBoxes()
{
    UiFixture f;
    SystemInfo.Sector = 11;
    OperatorLevel = 0;
    TFormSetTerminalParam w;
    w.show();
    QCOMPARE(w.edtSector->text(), QStringLiteral("11"));
    QVERIFY(!w.edtSector->isEnabled());
    QCOMPARE(w.edtRegion->text(), QStringLiteral("57302914")); // the default for an empty identifier
    QCOMPARE(w.lblSyncTime->text(), QStringLiteral("..."));
}

void TestDeviceCard::noCardIssuer()
{
    UiFixture f;
    TFormSetTerminalParam w;
    w.show();
    w.btnWrite->click();
    w.btnRead->click();
    QCOMPARE(f.dialogs.texts(), (QStringList{"请插入发卡器", "请插入发卡器"}));
    QCOMPARE(int(PendingCommand), 9);
}

void TestDeviceCard::closingSendsStop()
{
    AttachedProgram a;
    QVERIFY(a.start());
    QSignalSpy frames(&a.f.sim, &SimCardIssuer::frameReceived);
    {
        TFormSetTerminalParam w;
        w.show();
        PendingCommand = CmdReadDeviceCard;
        w.close();
    }
    QVERIFY(frames.wait(3000));
    QCOMPARE(frames.first().first().toByteArray(), QByteArray("\xAA\x05\x09\x00\xEE", 5));
    QCOMPARE(int(PendingCommand), 9);
}

void TestDeviceCard::showingAgainKeepsACardRead()
{
    UiFixture f;
    TFormSetTerminalParam w;
    w.show();
    // A device card read while the window was minimised: shown again, the window takes it over.
    std::memcpy(TerminalParamRec.RegionID, "11223344", 8);
    std::memcpy(TerminalParamRec.IssueTime, "24030514", 8);
    CardDataReady = 1;
    w.hide();
    w.show();
    QTRY_COMPARE(w.lblSyncTime->text(), QStringLiteral("24030514"));
    QCOMPARE(w.edtRegion->text(), QStringLiteral("11223344"));
    QCOMPARE(int(CardDataReady), 0);

    // Closed and opened again: a new opening starts from the settings.
    w.reject();
    CardDataReady = 1;
    w.show();
    QCOMPARE(int(CardDataReady), 0);
    QCOMPARE(w.edtRegion->text(), QStringLiteral("57302914"));
}

void TestDeviceCard::enterPressesTheFocusedButtonOnly()
{
    UiFixture f;
    OperatorLevel = 1;
    TFormSetTerminalParam w;
    w.show();
    for (const QPushButton* b : w.findChildren<QPushButton*>())
        QVERIFY(!b->autoDefault() && !b->isDefault()); // no button that Enter would press from elsewhere
    w.edtRegion->setText(QStringLiteral("ABCD1234"));
    QTest::keyClick(w.edtRegion, Qt::Key_Return);
    QTest::keyClick(w.edtSector, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(w.isVisible());
    QVERIFY(f.dialogs.texts().isEmpty());

    w.btnRead->setFocus();
    QTest::keyClick(w.btnRead, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(f.dialogs.texts(), QStringList{"请插入发卡器"});
    w.btnSave->setFocus();
    QTest::keyClick(w.btnSave, Qt::Key_Return);
    QVERIFY(!w.isVisible());
    QCOMPARE(QByteArray(SystemInfo.RegionID, 8), QByteArray("ABCD1234"));
}

QTEST_MAIN(TestDeviceCard)
#include "tst_devicecard.moc"
