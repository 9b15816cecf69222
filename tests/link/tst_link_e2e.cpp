// End to end over the real pieces: worker, frames, reports, socket, simulated card issuer, read
// thread, answer handling.

#include "SimHarness.h"
#include "cards/Digits.h"
#include "link/ResultTexts.h"
#include "store/OperationError.h"
#include "support/AnswerFrames.h"
#include "support/HookRecorder.h"
#include "support/TestDialogs.h"

#include <QElapsedTimer>
#include <QTest>
#include <optional>

namespace {

enum Setup {
    NoCard,
    BlankSector,
    ForeignSector,
    EmptyFormatted,
    OwnerRecord,
    DeviceRecord,
    BlackListRecord,
    DeviceOtherCommunity,
    OwnerOtherCommunity,
};

QByteArray OwnerBytes(const char* region)
{
    TUserCardRec card{};
    std::memcpy(card.RegionID, region, 8);
    card.UseExpiry = 1;
    std::memcpy(card.Expiry, "991231", 6);
    SetTerminal(card.Terminals, 0);
    SetTerminal(card.Terminals, 9);
    const auto b = EncodeUserCard(card);
    return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
}

QByteArray DeviceBytes(const char* region)
{
    TTerminalParamRec device{};
    device.Kind = 1;
    std::memcpy(device.RegionID, region, 8);
    std::memcpy(device.IssueTime, "24030514", 8);
    const auto b = EncodeTerminalParam(device);
    return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
}

} // namespace

class TestLinkEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void everyCommandAndResult_data();
    void everyCommandAndResult();
    void ownerCardWriteThenRead();
    void deviceCardWriteThenRead();
    void blackListWriteThenRead();
    void failingReloadIsShownAndTheAnswerFinishes();
    void formatRunOverSeveralCards();
    void blankRunRestoresCards();
    void stoppedRunIgnoresLateAnswer();
    void twoSignalsGiveOneFrame();
    void noCardIssuerSendsNothing();
    void answerToOtherCodeLeavesPendingCommand();
    void faultsOnTheWire();
    void unplugDuringHalfReportThenPlug();

private:
    std::unique_ptr<SimHarness> m_h;
    std::unique_ptr<TestDialogs> m_dialogs;
    std::optional<HookRecorder> m_rec;
};

void TestLinkEndToEnd::init()
{
    m_dialogs = std::make_unique<TestDialogs>();
    m_h = std::make_unique<SimHarness>();
    QVERIFY(m_h->start()); // resets the program's state first
    m_rec.emplace();
}

void TestLinkEndToEnd::cleanup()
{
    m_h.reset();
    m_rec.reset();
    m_dialogs.reset();
}

void TestLinkEndToEnd::everyCommandAndResult_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("setup");
    QTest::addColumn<int>("fault"); // 0 none, 2 read error, 3 write error
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("messages");
    const QStringList none;
    const QStringList done{QStringLiteral("操作完成")};
    const QStringList key{QStringLiteral("密钥错误")};
    const QStringList select{QStringLiteral("选择卡错误")};
    QTest::newRow("1 no card") << 1 << int(NoCard) << 0 << 4 << select;
    QTest::newRow("1 blank") << 1 << int(BlankSector) << 0 << 1 << key;
    QTest::newRow("1 foreign") << 1 << int(ForeignSector) << 0 << 1 << key;
    QTest::newRow("1 read error") << 1 << int(EmptyFormatted) << 2 << 2
                                  << QStringList{QStringLiteral("读卡错误")};
    QTest::newRow("1 write error") << 1 << int(EmptyFormatted) << 3 << 3
                                   << QStringList{QStringLiteral("写卡错误")};
    QTest::newRow("1 ok") << 1 << int(EmptyFormatted) << 0 << 0
                          << QStringList{QStringLiteral("管理卡操作完成\r\r请到门禁机刷卡授权")};
    QTest::newRow("2 ok") << 2 << int(DeviceRecord) << 0 << 0 << done;
    QTest::newRow("2 owner card") << 2 << int(OwnerRecord) << 0 << 5
                                  << QStringList{QStringLiteral("卡类型错误: 这个可能是用户卡")};
    QTest::newRow("2 empty") << 2 << int(EmptyFormatted) << 0 << 5
                             << QStringList{QStringLiteral("卡类型错误: 这个可能是用户卡")};
    QTest::newRow("2 other community")
        << 2 << int(DeviceOtherCommunity) << 0 << 6 << QStringList{QStringLiteral("非本小区IC卡")};
    QTest::newRow("3 no card") << 3 << int(NoCard) << 0 << 4 << none;
    QTest::newRow("3 write error") << 3 << int(EmptyFormatted) << 3 << 3 << none;
    QTest::newRow("3 ok") << 3 << int(EmptyFormatted) << 0 << 0 << none;
    QTest::newRow("4 ok") << 4 << int(OwnerRecord) << 0 << 0 << none;
    QTest::newRow("4 device card") << 4 << int(DeviceRecord) << 0 << 5 << none;
    QTest::newRow("4 other community") << 4 << int(OwnerOtherCommunity) << 0 << 6 << none;
    QTest::newRow("4 blank") << 4 << int(BlankSector) << 0 << 1 << none;
    QTest::newRow("6 ok") << 6 << int(EmptyFormatted) << 0 << 0 << done;
    QTest::newRow("6 no card") << 6 << int(NoCard) << 0 << 4 << select;
    QTest::newRow("7 ok") << 7 << int(BlackListRecord) << 0 << 0 << done;
    QTest::newRow("7 owner card") << 7 << int(OwnerRecord) << 0 << 5
                                  << QStringList{QStringLiteral("卡类型错误")};
    QTest::newRow("7 read error") << 7 << int(BlackListRecord) << 2 << 2
                                  << QStringList{QStringLiteral("读卡错误")};
    QTest::newRow("8") << 8 << int(NoCard) << 0 << 0 << none;
    QTest::newRow("10") << 10 << int(NoCard) << 0 << 0 << none;
}

void TestLinkEndToEnd::everyCommandAndResult()
{
    QFETCH(int, command);
    QFETCH(int, setup);
    QFETCH(int, fault);
    QFETCH(int, result);
    QFETCH(QStringList, messages);
    constexpr uint32_t serial = 0xF0E0D0C0u; // top bit set
    if (setup != NoCard) {
        m_h->sim.addCard(serial);
        switch (Setup(setup)) {
        case ForeignSector:
            m_h->sim.setSector(serial, 7, SectorState::Foreign);
            break;
        case EmptyFormatted:
            m_h->sim.setSector(serial, 7, SectorState::Formatted);
            break;
        case OwnerRecord:
            m_h->sim.setSector(serial, 7, SectorState::Formatted, OwnerBytes("12345678"));
            break;
        case OwnerOtherCommunity:
            m_h->sim.setSector(serial, 7, SectorState::Formatted, OwnerBytes("87654321"));
            break;
        case DeviceRecord:
            m_h->sim.setSector(serial, 7, SectorState::Formatted, DeviceBytes("12345678"));
            break;
        case DeviceOtherCommunity:
            m_h->sim.setSector(serial, 7, SectorState::Formatted, DeviceBytes("12345679"));
            break;
        case BlackListRecord:
            m_h->sim.setSector(serial, 7, SectorState::Formatted, BlackListPayload(2));
            break;
        default:
            break;
        }
        m_h->sim.present(serial);
    }
    if (fault)
        m_h->sim.setFault(fault == 2 ? SimFault::ReadError : SimFault::WriteError, 1);
    // Records as the windows fill them.
    TerminalParamRec = {};
    TerminalParamRec.Kind = 1;
    TerminalParamRec.Sector = 7;
    std::memcpy(TerminalParamRec.RegionID, "12345678", 8);
    std::memcpy(TerminalParamRec.IssueTime, "24030514", 8);
    UserCardRec.Sector = 7;
    std::memcpy(UserCardRec.RegionID, "12345678", 8);
    BlackListRec.Kind = 2;
    PackDigits(BlackListRec.RegionBCD, "12345678", 4);

    QVERIFY(m_h->issueAndWait(uint8_t(command)));
    QCOMPARE(int(ResponseFrame.Command), command);
    QCOMPARE(int(ResponseFrame.Result), result);
    QCOMPARE(m_dialogs->texts(), messages);
    QCOMPARE(m_rec->lines.size(), 1);
    QCOMPARE(m_rec->lines[0], LogResponseLine(ResponseFrame));
    QCOMPARE(int(PendingCommand), command == 3 || command >= 8 ? command : 9);
    const bool dataReady = command == 3 || command == 4 || (command == 2 && result == 0);
    QCOMPARE(int(CardDataReady), dataReady ? 1 : 0);
    if (command == 3 || command == 4)
        QCOMPARE(CardResult, result);
    if (command == 3)
        QCOMPARE(uint32_t(UserCardRec.CardSerial), setup == NoCard ? 0u : serial);
    QCOMPARE(int(BlackListReady), command == 7 && result == 0 ? 1 : 0);
    QCOMPARE(m_rec->marks.size(), 0); // no owners were chosen
    if (fault)                        // a failed operation leaves the card alone
        QCOMPARE(m_h->sim.sectorRecord(serial, 7).size(), setup == BlackListRecord ? 14 : 0);
}

void TestLinkEndToEnd::ownerCardWriteThenRead()
{
    const uint32_t serial = m_h->formattedCardOnReader(0x80ABCDEFu);
    UserCardRec.Kind = 0;
    UserCardRec.Sector = 7;
    std::memcpy(UserCardRec.RegionID, "12345678", 8);
    UserCardRec.UseExpiry = 1;
    std::memcpy(UserCardRec.Expiry, "991231", 6);
    SetTerminal(UserCardRec.Terminals, 255);
    QVERIFY(m_h->issueAndWait(3));
    QCOMPARE(CardResult, 0);
    QCOMPARE(uint32_t(UserCardRec.CardSerial), serial);
    QCOMPARE(PadNumber(UserCardRec.CardSerial, 10),
             QStringLiteral("-2136224273")); // as the program stores it
    const QByteArray stored = m_h->sim.sectorRecord(serial, 7);
    QCOMPARE(stored.size(), 48);
    QCOMPARE(stored.mid(1, 4), QByteArray("\x12\x34\x56\x78", 4));
    QCOMPARE(uint8_t(stored[47]), uint8_t(0x01));
    PendingCommand = IdleCommand; // the window finishes command 3

    UserCardRec = {};
    CardDataReady = 0;
    SystemInfo.Sector = 7;
    QVERIFY(m_h->issueAndWait(4));
    QCOMPARE(CardResult, 0);
    QCOMPARE(uint32_t(UserCardRec.CardSerial), serial); // bytes 10-13 carry the serial
    QCOMPARE(QByteArray(UserCardRec.Expiry, 6), QByteArray("991231"));
    QVERIFY(TestTerminal(UserCardRec.Terminals, 255));
    QCOMPARE(m_h->sim.describe(serial), QStringLiteral("%1 present -------O--------").arg(serial));
}

void TestLinkEndToEnd::deviceCardWriteThenRead()
{
    const uint32_t serial = m_h->formattedCardOnReader();
    m_h->sim.setSector(serial, 3, SectorState::Formatted);
    TerminalParamRec.Kind = 1;
    TerminalParamRec.Sector = 3; // a device card names its own sector
    std::memcpy(TerminalParamRec.RegionID, "12345678", 8);
    std::memcpy(TerminalParamRec.IssueTime, "24030514", 8);
    QVERIFY(m_h->issueAndWait(1));
    QCOMPARE(m_h->sim.sectorRecord(serial, 3), DeviceBytes("12345678"));
    QCOMPARE(m_h->sim.sectorRecord(serial, 7), QByteArray());

    TerminalParamRec = {};
    SystemInfo.Sector = 3;
    QVERIFY(m_h->issueAndWait(2));
    QCOMPARE(QByteArray(TerminalParamRec.IssueTime, 8), QByteArray("24030514"));
    QCOMPARE(int(CardDataReady), 1);
}

void TestLinkEndToEnd::blackListWriteThenRead()
{
    const uint32_t serial = m_h->formattedCardOnReader();
    BlackListRec = {};
    BlackListRec.Kind = 2;
    PackDigits(BlackListRec.RegionBCD, "12345678", 4);
    BlackListRec.Count = 2;
    BlackListRec.Entries[0].Flag = 1;
    SetBlackListSerial(BlackListRec.Entries[0], 305419896);
    BlackListRec.Entries[1].Flag = 0;
    SetBlackListSerial(BlackListRec.Entries[1], 77);
    BlackListTargets[0] = {1, 15};
    BlackListTargets[1] = {0, 16};
    BlackListTargetCount = 2;
    BlackListSource = 1;
    QVERIFY(m_h->issueAndWait(6));
    QCOMPARE(m_rec->marks, (QStringList{QStringLiteral("blacklist 15"), QStringLiteral("release 16")}));
    QCOMPARE(m_rec->refreshed, 1);
    QCOMPARE(m_h->sim.sectorRecord(serial, 7).size(), 6 + 8);

    BlackListRec = {};
    QVERIFY(m_h->issueAndWait(7));
    QCOMPARE(int(BlackListReady), 1);
    QCOMPARE(int(BlackListRec.Count), 2);
    QCOMPARE(BlackListSerial(BlackListRec.Entries[0]), 3430008);
    QCOMPARE(BlackListSerial(BlackListRec.Entries[1]), 77);
    QCOMPARE(m_dialogs->texts(), (QStringList{QStringLiteral("操作完成"), QStringLiteral("操作完成")}));
}

// A window's reload that throws in the middle of an answer: the operator reads the error, the
// answer is dealt with to its end, and the link goes on with the next command.
void TestLinkEndToEnd::failingReloadIsShownAndTheAnswerFinishes()
{
    m_h->formattedCardOnReader();
    BlackListRec = {};
    BlackListRec.Kind = 2;
    PackDigits(BlackListRec.RegionBCD, "12345678", 4);
    BlackListRec.Count = 1;
    BlackListRec.Entries[0].Flag = 1;
    SetBlackListSerial(BlackListRec.Entries[0], 77);
    BlackListTargets[0] = {1, 15};
    BlackListTargetCount = 1;
    BlackListSource = 1;
    m_rec->refreshError = QStringLiteral("no such table: UserInfo");
    QVERIFY(m_h->issueAndWait(6));
    QCOMPARE(m_rec->refreshed, 1);
    QCOMPARE(m_dialogs->texts(),
             (QStringList{QStringLiteral("no such table: UserInfo"), QStringLiteral("操作完成")}));
    QCOMPARE(m_dialogs->shown.first().icon, MsgIcon::Error);
    QCOMPARE(int(PendingCommand), 9);

    m_dialogs->clear();
    QVERIFY(m_h->issueAndWait(7));
    QCOMPARE(int(BlackListReady), 1);
    QCOMPARE(m_dialogs->texts(), QStringList{QStringLiteral("操作完成")});
}

void TestLinkEndToEnd::formatRunOverSeveralCards()
{
    const uint32_t cards[] = {1, 2, 3, 4};
    for (uint32_t c : cards)
        m_h->sim.addCard(c);
    m_h->sim.setSector(3, 7, SectorState::Foreign);
    QSignalSpy frames(&m_h->sim, &SimCardIssuer::frameReceived);
    QSignalSpy handled(m_h->link.get(), &CardIssuerLink::answerHandled);
    IssueCommand(0); // no card yet: the card issuer waits
    QVERIFY(frames.wait(1000));
    QTest::qWait(100);
    QCOMPARE(handled.size(), 0);
    for (int i = 0; i < 4; ++i) {
        m_h->sim.present(cards[i]);
        QVERIFY(handled.wait(1000));
        QCOMPARE(handled.size(), i + 1);
        QCOMPARE(int(PendingCommand), 0);
    }
    // The same card left on the reader is not done twice.
    QTest::qWait(150);
    QCOMPARE(handled.size(), 4);
    QCOMPARE(m_rec->successes, 3);
    QCOMPARE(m_rec->failures, 1); // the foreign sector
    for (uint32_t c : {1u, 2u, 4u})
        QCOMPARE(m_h->sim.sectorState(c, 7), SectorState::Formatted);
    QCOMPARE(m_h->sim.sectorState(3, 7), SectorState::Foreign);
    QVERIFY(m_dialogs->texts().isEmpty());

    // Stop: command 9 goes out and ends the wait; a card put on afterwards stays as it was.
    m_h->sim.addCard(5);
    IssueCommand(IdleCommand);
    QTRY_COMPARE(uint8_t(frames.last().at(0).toByteArray()[2]), uint8_t(9));
    m_h->sim.present(5);
    QTest::qWait(150);
    QCOMPARE(m_h->sim.sectorState(5, 7), SectorState::Blank);
    QCOMPARE(handled.size(), 4);
}

void TestLinkEndToEnd::blankRunRestoresCards()
{
    m_h->formattedCardOnReader(11); // on the reader before the run starts: processed at once
    QVERIFY(m_h->issueAndWait(5));
    QCOMPARE(m_h->sim.sectorState(11, 7), SectorState::Blank);
    QCOMPARE(m_rec->successes, 1);
    QCOMPARE(int(PendingCommand), 5);
}

void TestLinkEndToEnd::stoppedRunIgnoresLateAnswer()
{
    m_h->sim.addCard(1);
    m_h->sim.setAnswerDelay(300);
    QSignalSpy handled(m_h->link.get(), &CardIssuerLink::answerHandled);
    QSignalSpy frames(&m_h->sim, &SimCardIssuer::frameReceived);
    IssueCommand(0);
    QVERIFY(frames.wait(1000));
    m_h->sim.present(1); // answered 300 ms later
    IssueCommand(IdleCommand);
    QVERIFY(handled.wait(2000));
    QCOMPARE(int(ResponseFrame.Command), 0);
    QCOMPARE(m_rec->lines.size(), 1);                // logged ...
    QCOMPARE(m_rec->successes + m_rec->failures, 0); // ... but not counted
    QCOMPARE(int(PendingCommand), 9);
    QTest::qWait(100);
    QCOMPARE(frames.size(), 2); // 0 and 9; the late answer sent nothing again
}

void TestLinkEndToEnd::twoSignalsGiveOneFrame()
{
    m_h->formattedCardOnReader();
    StopCommandWorker(); // the worker has not woken yet when both signals arrive
    QSignalSpy frames(&m_h->sim, &SimCardIssuer::frameReceived);
    IssueCommand(2);
    IssueCommand(4);
    StartCommandWorker();
    QSignalSpy handled(m_h->link.get(), &CardIssuerLink::answerHandled);
    QVERIFY(handled.wait(2000));
    QTest::qWait(100);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(int(frames[0].at(0).toByteArray()[2]), 4);
}

void TestLinkEndToEnd::noCardIssuerSendsNothing()
{
    QSignalSpy attached(m_h->link.get(), &CardIssuerLink::attachedChanged);
    m_h->sim.unplug();
    QVERIFY(attached.wait(1000));
    QVERIFY(!m_h->link->attached());
    QVERIFY(!CardIssuerDevice);
    IssueCommand(3);
    QTest::qWait(100);
    QCOMPARE(int(PendingCommand), 3);
    QCOMPARE(int(CardDataReady), 0);
    QVERIFY(m_dialogs->texts().isEmpty());
}

void TestLinkEndToEnd::answerToOtherCodeLeavesPendingCommand()
{
    m_h->formattedCardOnReader();
    QSignalSpy handled(m_h->link.get(), &CardIssuerLink::answerHandled);
    m_h->sim.setFault(SimFault::NoAnswer, 1);
    IssueCommand(4); // never answered
    QTest::qWait(150);
    // An answer to command 2 arrives: logged, nothing else.
    const QByteArray answer("\xAA\x05\x02\x00\xEE", 5);
    QByteArray report(ReportSize, '\0');
    report[1] = 29;
    report[2] = char(PacketHead);
    report[3] = 1;
    report[4] = 1;
    report.replace(5, 5, answer);
    report[30] = char(PacketTail);
    m_h->sim.sendRaw(report);
    QVERIFY(handled.wait(1000));
    QCOMPARE(int(PendingCommand), 4);
    QCOMPARE(int(CardDataReady), 0);
    QCOMPARE(m_rec->lines, QStringList{QStringLiteral("AA,05,02,00,EE")});
    QVERIFY(m_dialogs->texts().isEmpty());
}

void TestLinkEndToEnd::faultsOnTheWire()
{
    m_h->formattedCardOnReader();
    // A corrupt report: the operator is told, the answer is not handled.
    m_h->sim.setFault(SimFault::Corrupt, 1);
    IssueCommand(4);
    QTRY_COMPARE(m_dialogs->texts(), QStringList{QStringLiteral("接收数据错误！")});
    QCOMPARE(int(PendingCommand), 4);
    QCOMPARE(int(CardDataReady), 0);
    m_dialogs->clear();

    // Bit 7 on the result: reduced for the message.
    m_h->sim.setHighBit(true);
    TerminalParamRec.Sector = 7;
    QVERIFY(m_h->issueAndWait(1));
    QCOMPARE(int(ResponseFrame.Result), 0x80);
    QCOMPARE(m_dialogs->texts(), QStringList{QStringLiteral("管理卡操作完成\r\r请到门禁机刷卡授权")});
}

void TestLinkEndToEnd::unplugDuringHalfReportThenPlug()
{
    const uint32_t serial = m_h->formattedCardOnReader();
    m_h->sim.setSector(serial, 7, SectorState::Formatted, OwnerBytes("12345678"));
    m_h->sim.setFault(SimFault::NoAnswer, 1);
    IssueCommand(4);
    QTest::qWait(100);
    // One whole piece and half of the next, then the card issuer is pulled out.
    QByteArray piece(ReportSize, '\0');
    piece[1] = 29;
    piece[2] = char(PacketHead);
    piece[3] = 3;
    piece[4] = 1;
    piece[5] = char(FrameHead);
    piece[6] = 53;
    piece[7] = 4;
    piece[30] = char(PacketTail);
    QSignalSpy attached(m_h->link.get(), &CardIssuerLink::attachedChanged);
    m_h->sim.sendRaw(piece + piece.left(15));
    QTest::qWait(50);
    m_h->sim.unplug();
    QVERIFY(attached.wait(1000));
    QVERIFY(!m_h->link->attached());
    QCOMPARE(int(PendingCommand), 4);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_h->sim.plug());
    QVERIFY(attached.wait(1000));
    QVERIFY(m_h->link->attached());
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));

    // The new connection starts on a report boundary; the command is answered in full.
    QVERIFY(m_h->issueAndWait(4));
    QCOMPARE(int(ResponseFrame.Command), 4);
    QCOMPARE(CardResult, 0);
    QCOMPARE(uint32_t(UserCardRec.CardSerial), serial);
    QVERIFY(m_dialogs->texts().isEmpty());
}

QTEST_GUILESS_MAIN(TestLinkEndToEnd)
#include "tst_link_e2e.moc"
