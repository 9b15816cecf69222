// The answer handler by its table: flags, records, messages, the owner update after a blacklist
// write, card runs, and answers that do not belong to the pending command.

#include "cards/CardRecords.h"
#include "cards/Digits.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "link/Responses.h"
#include "support/AnswerFrames.h"
#include "support/HookRecorder.h"
#include "support/TestDialogs.h"

#include <QTest>
#include <cstring>
#include <optional>

namespace {

// The answers of the table, as the report handler hands them over.
ReceivedFrame Answer(uint8_t command, uint8_t result, const QByteArray& payload = {})
{
    return AnswerRecord(command, result, payload);
}

} // namespace

class TestResponses : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void resultMessages_data();
    void resultMessages();
    void ownerCardAnswers();
    void deviceCardRead();
    void otherCommandIsIgnored_data();
    void otherCommandIsIgnored();
    void cardRunCountsEveryAnswer();
    void bitSevenOnSuccess_data();
    void bitSevenOnSuccess();
    void blackListWriteUpdatesOwners_data();
    void blackListWriteUpdatesOwners();
    void blackListRead_data();
    void blackListRead();
    void logLine();

private:
    TestDialogs* m_dialogs = nullptr;
    std::optional<HookRecorder> m_rec;
};

void TestResponses::init()
{
    ResetProgramState();
    m_dialogs = new TestDialogs;
    m_rec.emplace();
    CardResult = -1; // tells "not touched" from result 0
}

void TestResponses::cleanup()
{
    m_rec.reset();
    delete m_dialogs;
}

void TestResponses::resultMessages_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("message"); // empty: none
    QTest::addColumn<int>("pendingAfter");
    const QString device = QStringLiteral("管理卡操作完成\r\r请到门禁机刷卡授权");
    QTest::newRow("1 ok") << 1 << 0 << device << 9;
    QTest::newRow("1 ok, bit 7") << 1 << 0x80 << device << 9;
    QTest::newRow("1 key") << 1 << 1 << QStringLiteral("密钥错误") << 9;
    QTest::newRow("1 read") << 1 << 2 << QStringLiteral("读卡错误") << 9;
    QTest::newRow("1 write") << 1 << 3 << QStringLiteral("写卡错误") << 9;
    QTest::newRow("1 select") << 1 << 4 << QStringLiteral("选择卡错误") << 9;
    QTest::newRow("1 unknown code") << 1 << 7 << QString() << 9;
    QTest::newRow("2 kind, bit 7") << 2 << 0x85 << QStringLiteral("卡类型错误: 这个可能是用户卡") << 9;
    QTest::newRow("2 community") << 2 << 6 << QStringLiteral("非本小区IC卡") << 9;
    QTest::newRow("3 no message") << 3 << 3 << QString() << 3;
    QTest::newRow("4 no message") << 4 << 5 << QString() << 9;
    QTest::newRow("6 key") << 6 << 1 << QStringLiteral("密钥错误") << 9;
    QTest::newRow("7 kind") << 7 << 5 << QStringLiteral("卡类型错误") << 9;
    QTest::newRow("8 nothing") << 8 << 0 << QString() << 8;
    QTest::newRow("10 nothing") << 10 << 0 << QString() << 10;
}

void TestResponses::resultMessages()
{
    QFETCH(int, command);
    QFETCH(int, result);
    QFETCH(QString, message);
    QFETCH(int, pendingAfter);
    PendingCommand = uint8_t(command);
    HandleResponse(Answer(uint8_t(command), uint8_t(result), QByteArray(4, '\0')));
    QCOMPARE(m_dialogs->texts(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(int(PendingCommand), pendingAfter);
    QVERIFY(m_rec->events.isEmpty()); // no owner update after a failed blacklist write
}

void TestResponses::ownerCardAnswers()
{
    // Command 3: the serial is stored whatever the result; PendingCommand stays for the window.
    PendingCommand = 3;
    HandleResponse(Answer(3, 3, QByteArray("\x00\x12\xD6\x87", 4)));
    QCOMPARE(UserCardRec.CardSerial, 1234567);
    QCOMPARE(CardResult, 3);
    QCOMPARE(int(CardDataReady), 1);
    QCOMPARE(int(PendingCommand), 3);

    // Command 4 with a failure: the record is left alone.
    CardDataReady = 0;
    PendingCommand = 4;
    HandleResponse(Answer(4, 6, QByteArray(48, '\x11')));
    QCOMPARE(CardResult, 6);
    QCOMPARE(int(CardDataReady), 1);
    QCOMPARE(UserCardRec.CardSerial, 1234567);
    QCOMPARE(int(PendingCommand), 9);

    // Command 4 with success: decoded, the serial from bytes 10-13 (top bit set is fine).
    TUserCardRec card{};
    std::memcpy(card.RegionID, "12345678", 8);
    card.UseExpiry = 1;
    std::memcpy(card.Expiry, "991231", 6);
    SetTerminal(card.Terminals, 9);
    auto bytes = EncodeUserCard(card);
    const uint8_t serial[] = {0xDE, 0xAD, 0xBE, 0xEF};
    std::memcpy(&bytes[10], serial, 4);
    PendingCommand = 4;
    UserCardRec.Sector = 7;
    HandleResponse(Answer(4, 0, QByteArray(reinterpret_cast<const char*>(bytes.data()), 48)));
    QCOMPARE(CardResult, 0);
    QCOMPARE(UserCardRec.CardSerial, int32_t(0xDEADBEEF));
    QCOMPARE(QByteArray(UserCardRec.RegionID, 8), QByteArray("12345678"));
    QVERIFY(TestTerminal(UserCardRec.Terminals, 9));
    QCOMPARE(int(UserCardRec.Sector), 7);
    QVERIFY(m_dialogs->texts().isEmpty());
}

void TestResponses::deviceCardRead()
{
    TTerminalParamRec device{};
    device.Kind = 1;
    std::memcpy(device.RegionID, "12345678", 8);
    std::memcpy(device.IssueTime, "24030514", 8);
    const auto bytes = EncodeTerminalParam(device);
    PendingCommand = 2;
    HandleResponse(Answer(2, 0, QByteArray(reinterpret_cast<const char*>(bytes.data()), 11)));
    QCOMPARE(QByteArray(TerminalParamRec.IssueTime, 8), QByteArray("24030514"));
    QCOMPARE(int(CardDataReady), 1);
    QCOMPARE(m_dialogs->texts(), QStringList{QStringLiteral("操作完成")});

    // A failed read leaves the record and the flag alone.
    CardDataReady = 0;
    PendingCommand = 2;
    HandleResponse(Answer(2, 5));
    QCOMPARE(int(CardDataReady), 0);
    QCOMPARE(QByteArray(TerminalParamRec.IssueTime, 8), QByteArray("24030514"));
}

void TestResponses::otherCommandIsIgnored_data()
{
    QTest::addColumn<int>("pending");
    QTest::addColumn<int>("answered");
    QTest::newRow("4 answered as 2") << 4 << 2;
    QTest::newRow("3 answered as 4") << 3 << 4;
    QTest::newRow("7 answered as 6") << 7 << 6;
    QTest::newRow("1 answered as 9") << 1 << 9;
    QTest::newRow("idle, late 4") << 9 << 4;
}

void TestResponses::otherCommandIsIgnored()
{
    QFETCH(int, pending);
    QFETCH(int, answered);
    PendingCommand = uint8_t(pending);
    HandleResponse(Answer(uint8_t(answered), 0, QByteArray(48, '\x01')));
    QCOMPARE(int(PendingCommand), pending);
    QCOMPARE(int(CardDataReady), 0);
    QCOMPARE(int(BlackListReady), 0);
    QCOMPARE(UserCardRec.CardSerial, 0);
    QVERIFY(m_dialogs->texts().isEmpty());
    QVERIFY(!CommandEvent.isSet());
}

void TestResponses::cardRunCountsEveryAnswer()
{
    PendingCommand = 0;
    HandleResponse(Answer(0, 0));
    QVERIFY(CommandEvent.isSet()); // the same command goes out for the next card
    CommandEvent.reset();
    HandleResponse(Answer(0, 1));
    QVERIFY(CommandEvent.isSet());
    CommandEvent.reset();
    // An answer to another command still counts, but sends nothing.
    HandleResponse(Answer(4, 0));
    QVERIFY(!CommandEvent.isSet());
    QCOMPARE(m_rec->successes, 2);
    QCOMPARE(m_rec->failures, 1);
    QCOMPARE(m_rec->lastResult, 0);

    PendingCommand = 5;
    HandleResponse(Answer(5, 0x84)); // bit 7 dropped: select error, a failure
    QCOMPARE(m_rec->failures, 2);
    QCOMPARE(m_rec->lastResult, 4);
    QCOMPARE(int(PendingCommand), 5);
    QVERIFY(m_dialogs->texts().isEmpty());

    // Without the initialisation window the run still continues.
    CurrentInitRunCounters = nullptr;
    CommandEvent.reset();
    HandleResponse(Answer(5, 0));
    QVERIFY(CommandEvent.isSet());
}

void TestResponses::bitSevenOnSuccess_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("message"); // empty: none
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArray>("record"); // what the command's record holds afterwards
    QTest::addColumn<int>("cardDataReady");
    QTest::addColumn<int>("cardResult");

    TTerminalParamRec device{};
    device.Kind = 1;
    std::memcpy(device.RegionID, "12345678", 8);
    std::memcpy(device.IssueTime, "24030514", 8);
    const auto deviceBytes = EncodeTerminalParam(device);
    TUserCardRec owner{};
    std::memcpy(owner.RegionID, "87654321", 8);
    const auto ownerBytes = EncodeUserCard(owner);
    const QString update = QStringLiteral("blacklist 15");
    const QString done = QStringLiteral("操作完成");

    QTest::newRow("1 write device card") << 1 << QByteArray() << "管理卡操作完成\r\r请到门禁机刷卡授权"
                                         << QStringList() << QByteArray() << 0 << -1;
    QTest::newRow("2 read device card")
        << 2 << QByteArray(reinterpret_cast<const char*>(deviceBytes.data()), 11) << done << QStringList()
        << QByteArray("12345678") << 1 << -1;
    QTest::newRow("3 write owner card")
        << 3 << QByteArray("\x00\x12\xD6\x87", 4) << QString() << QStringList() << QByteArray() << 1 << 0;
    QTest::newRow("4 read owner card")
        << 4 << QByteArray(reinterpret_cast<const char*>(ownerBytes.data()), 48) << QString() << QStringList()
        << QByteArray("87654321") << 1 << 0;
    QTest::newRow("6 write blacklist card")
        << 6 << QByteArray() << done << QStringList{update, QStringLiteral("refresh")} << QByteArray() << 0
        << -1;
    QTest::newRow("7 read blacklist card")
        << 7 << BlackListPayload(1) << done << QStringList() << QByteArray("\x12\x34\x56\x78", 4) << 0 << -1;
    QTest::newRow("0 format run") << 0 << QByteArray() << QString() << QStringList() << QByteArray() << 0
                                  << -1;
    QTest::newRow("5 restore run") << 5 << QByteArray() << QString() << QStringList() << QByteArray() << 0
                                   << -1;
}

// Bit 7 of the result byte is not part of the result: 0x80 is a success for every command.
void TestResponses::bitSevenOnSuccess()
{
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    QFETCH(QString, message);
    QFETCH(QStringList, events);
    QFETCH(QByteArray, record);
    QFETCH(int, cardDataReady);
    QFETCH(int, cardResult);
    BlackListTargets[0] = {1, 15};
    BlackListTargetCount = 1;
    BlackListSource = 1;
    PendingCommand = uint8_t(command);

    HandleResponse(Answer(uint8_t(command), 0x80, payload));

    QCOMPARE(m_dialogs->texts(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(m_rec->events, events);
    QCOMPARE(int(CardDataReady), cardDataReady);
    QCOMPARE(CardResult, cardResult);
    switch (command) {
    case 0:
    case 5: // one more card done, and the run goes on
        QCOMPARE(m_rec->successes, 1);
        QCOMPARE(m_rec->failures, 0);
        QCOMPARE(m_rec->lastResult, 0);
        QVERIFY(CommandEvent.isSet());
        break;
    case 2:
        QCOMPARE(QByteArray(TerminalParamRec.RegionID, 8), record);
        QCOMPARE(QByteArray(TerminalParamRec.IssueTime, 8), QByteArray("24030514"));
        break;
    case 3:
        QCOMPARE(UserCardRec.CardSerial, 1234567);
        break;
    case 4:
        QCOMPARE(QByteArray(UserCardRec.RegionID, 8), record);
        break;
    case 7:
        QCOMPARE(int(BlackListReady), 1);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(BlackListRec.RegionBCD), 4), record);
        QCOMPARE(int(BlackListRec.Count), 1);
        break;
    default:
        break;
    }
}

void TestResponses::blackListWriteUpdatesOwners_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("refresh");
    QTest::newRow("blacklist window") << 1 << QStringLiteral("refresh");
    QTest::newRow("owner list") << 0 << QStringLiteral("reload 15");
}

void TestResponses::blackListWriteUpdatesOwners()
{
    QFETCH(int, source);
    QFETCH(QString, refresh);
    BlackListTargets[0] = {1, 15};
    BlackListTargets[1] = {0, 22};
    BlackListTargets[2] = {1, 30};
    BlackListTargetCount = 3;
    BlackListSource = uint8_t(source);
    const QString first = QStringLiteral("blacklist 15");
    const QString second = QStringLiteral("release 22");
    const QString third = QStringLiteral("blacklist 30");
    m_rec->failing << second; // a failure does not stop the others
    // The message comes last: record it among the events.
    struct Ordered final : Dialogs {
        QStringList* events = nullptr;
        MsgAnswer message(MsgIcon, MsgButtons, const QString& text) override
        {
            *events << QStringLiteral("message ") + text;
            return MsgAnswer::Ok;
        }
        QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
        QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    } ordered;
    ordered.events = &m_rec->events;
    setDialogs(&ordered);

    PendingCommand = 6;
    HandleResponse(Answer(6, 0));
    setDialogs(m_dialogs);
    QCOMPARE(m_rec->events, (QStringList{first, second, third, refresh, QStringLiteral("message 操作完成")}));
    QCOMPARE(int(PendingCommand), 9);
}

void TestResponses::blackListRead_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("kept");
    QTest::addColumn<QStringList>("messages");
    const QString done = QStringLiteral("操作完成");
    QTest::newRow("empty card") << 0 << 0 << QStringList{done};
    QTest::newRow("ten") << 10 << 10 << QStringList{done};
    QTest::newRow("claims eleven") << 11 << 10 << QStringList{QString::fromUtf8(BlackListTooManyText), done};
    QTest::newRow("claims 255") << 255 << 10 << QStringList{QString::fromUtf8(BlackListTooManyText), done};
}

void TestResponses::blackListRead()
{
    QFETCH(int, count);
    QFETCH(int, kept);
    QFETCH(QStringList, messages);
    std::memset(static_cast<void*>(&BlackListRec), 0xA5, sizeof BlackListRec);
    QByteArray payload = BlackListPayload(std::min(count, 11));
    payload[5] = char(count);
    PendingCommand = 7;
    HandleResponse(Answer(7, 0, payload));
    QCOMPARE(int(BlackListReady), 1);
    QCOMPARE(int(BlackListRec.Count), kept);
    QCOMPARE(int(BlackListRec.Kind), 2);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(BlackListRec.RegionBCD), 4),
             QByteArray("\x12\x34\x56\x78", 4));
    for (int i = 0; i < kept; ++i)
        QCOMPARE(int(BlackListRec.Entries[i].Serial24[1]), 0x20 + i);
    if (kept < 10) // bytes beyond the copied entries keep what they had
        QCOMPARE(int(BlackListRec.Entries[kept].Flag), 0xA5);
    QCOMPARE(m_dialogs->texts(), messages);
}

void TestResponses::logLine()
{
    LogResponse(&*m_rec, Answer(9, 0));
    LogResponse(nullptr, Answer(9, 0)); // no memo: nothing
    QCOMPARE(m_rec->events, QStringList{QStringLiteral("log AA,05,09,00,EE")});
}

QTEST_GUILESS_MAIN(TestResponses)
#include "tst_responses.moc"
