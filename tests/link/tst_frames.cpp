#include "cards/Digits.h"
#include "link/CommandFrames.h"
#include "link/Frames.h"
#include "link/ProgramState.h"
#include "link/ResultTexts.h"
#include "support/AnswerFrames.h"

#include <QTest>
#include <vector>

namespace {

class RecordingSink final : public ReportSink {
public:
    int length = ReportSize;
    std::vector<QByteArray> reports;
    int outputReportLength() const override { return length; }
    void writeReport(const uint8_t* report, int n) override
    {
        reports.emplace_back(reinterpret_cast<const char*>(report), n);
    }
};

FrameBytes frameOf(const QByteArray& bytes)
{
    FrameBytes f{};
    std::memcpy(f.data(), bytes.constData(), size_t(bytes.size()));
    return f;
}

// A frame as the card issuer sends it: reports without the report ID.
std::vector<QByteArray> cut(const QByteArray& frame)
{
    FrameBytes f{};
    std::memcpy(f.data(), frame.constData(), size_t(std::min<qsizetype>(frame.size(), MaxFrameSize)));
    f[1] = uint8_t(frame.size());
    RecordingSink sink;
    SendFrame(f, &sink);
    std::vector<QByteArray> out;
    for (const auto& r : sink.reports)
        out.push_back(r.mid(1));
    return out;
}

ReportOutcome feed(const QByteArray& report)
{
    return ReceiveReport(reinterpret_cast<const uint8_t*>(report.constData()), int(report.size()));
}

QByteArray answer(uint8_t command, uint8_t result, const QByteArray& payload)
{
    return RawFrame(command, result, payload);
}

} // namespace

class TestFrames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { ResetProgramState(); }
    void sendCutsIntoReports_data();
    void sendCutsIntoReports();
    void sendWithoutDeviceDoesNothing();
    void sendPadsLongerReports();
    void receiveThreePieces();
    void receiveOutOfOrderAndMissingPiece();
    void receiveBadReports_data();
    void receiveBadReports();
    void commandFrames_data();
    void commandFrames();
    void blackListCountIsBounded();
    void logLine();
    void resultTexts_data();
    void resultTexts();
};

void TestFrames::sendCutsIntoReports_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("reports");
    QTest::newRow("10") << 10 << 1;
    QTest::newRow("51") << 51 << 3;
    QTest::newRow("53") << 53 << 3;
    QTest::newRow("26") << 26 << 2;
}

void TestFrames::sendCutsIntoReports()
{
    QFETCH(int, length);
    QFETCH(int, reports);
    QByteArray frame(length, '\0');
    for (int i = 0; i < length; ++i)
        frame[i] = char(i + 1);
    frame[0] = char(0xAA);
    frame[1] = char(length);
    frame[length - 1] = char(0xEE);
    RecordingSink sink;
    SendFrame(frameOf(frame), &sink);
    QCOMPARE(int(sink.reports.size()), reports);
    QByteArray carried;
    for (int k = 0; k < reports; ++k) {
        const QByteArray& r = sink.reports[size_t(k)];
        QCOMPARE(r.size(), 31);
        QCOMPARE(uint8_t(r[0]), uint8_t(0));
        QCOMPARE(uint8_t(r[1]), uint8_t(29));
        QCOMPARE(uint8_t(r[2]), uint8_t(0xBB));
        QCOMPARE(int(r[3]), reports);
        QCOMPARE(int(r[4]), k + 1);
        QCOMPARE(uint8_t(r[30]), uint8_t(0xCC));
        carried += r.mid(5, 25);
    }
    QCOMPARE(carried.left(length), frame);
    QCOMPARE(carried.mid(length), QByteArray(carried.size() - length, '\0')); // nothing after the end
}

void TestFrames::sendWithoutDeviceDoesNothing()
{
    SendFrame(frameOf(QByteArray("\xAA\x05\x09\x00\xEE", 5)), nullptr); // must not crash
}

void TestFrames::sendPadsLongerReports()
{
    RecordingSink sink;
    sink.length = 65;
    SendFrame(frameOf(QByteArray("\xAA\x05\x09\x00\xEE", 5)), &sink);
    QCOMPARE(sink.reports.size(), size_t(1));
    QCOMPARE(sink.reports[0].size(), 65);
    QCOMPARE(sink.reports[0].mid(31), QByteArray(34, '\0'));
}

void TestFrames::receiveThreePieces()
{
    QByteArray payload(48, '\0');
    for (int i = 0; i < 48; ++i)
        payload[i] = char(0x10 + i);
    const auto pieces = cut(answer(4, 0, payload));
    QCOMPARE(pieces.size(), size_t(3));
    QCOMPARE(feed(pieces[0]), ReportOutcome::Partial);
    QCOMPARE(feed(pieces[1]), ReportOutcome::Partial);
    QCOMPARE(feed(pieces[2]), ReportOutcome::Complete);
    QCOMPARE(ResponseFrame.Length, uint8_t(53));
    QCOMPARE(ResponseFrame.Command, uint8_t(4));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(ResponseFrame.Data), 48), payload);

    // A 5-byte answer leaves Data as the earlier answer left it.
    QCOMPARE(feed(cut(answer(9, 0, {}))[0]), ReportOutcome::Complete);
    QCOMPARE(ResponseFrame.Length, uint8_t(5));
    QCOMPARE(ResponseFrame.Data[0], uint8_t(0x10));
    QCOMPARE(LogResponseLine(ResponseFrame), QStringLiteral("AA,05,09,00,EE"));
}

void TestFrames::receiveOutOfOrderAndMissingPiece()
{
    QByteArray first(48, '\x01');
    QByteArray second(48, '\x02');
    const auto a = cut(answer(4, 0, first));
    const auto b = cut(answer(4, 0, second));
    QCOMPARE(feed(a[1]), ReportOutcome::Partial);
    QCOMPARE(feed(a[0]), ReportOutcome::Partial);
    QCOMPARE(feed(a[2]), ReportOutcome::Complete);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(ResponseFrame.Data), 48), first);
    // The middle piece of the next answer is lost: its place keeps the earlier bytes, undetected.
    QCOMPARE(feed(b[0]), ReportOutcome::Partial);
    QCOMPARE(feed(b[2]), ReportOutcome::Complete);
    const QByteArray data(reinterpret_cast<const char*>(ResponseFrame.Data), 48);
    QCOMPARE(data.left(21), QByteArray(21, '\x02'));
    QCOMPARE(data.mid(21, 25), QByteArray(25, '\x01'));
}

void TestFrames::receiveBadReports_data()
{
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<bool>("bufferTouched");
    const QByteArray good = cut(answer(2, 0, QByteArray(11, '\x33')))[0];
    QByteArray noHead = good;
    noHead[1] = 0;
    QByteArray noTail = good;
    noTail[29] = 0;
    QByteArray badFrameTail = good;
    badFrameTail[4 + 15] = 0x11;
    QByteArray index0 = good;
    index0[3] = 0;
    index0[2] = 0;
    QByteArray index4 = good;
    index4[3] = 4;
    index4[2] = 4;
    QByteArray lengthLow = good;
    lengthLow[5] = 4;
    QByteArray lengthHigh = good;
    lengthHigh[5] = 57;
    QTest::newRow("no packet head") << noHead << true;
    QTest::newRow("no packet tail") << noTail << true;
    QTest::newRow("no frame tail") << badFrameTail << true;
    QTest::newRow("index 0") << index0 << false;
    QTest::newRow("index 4") << index4 << false;
    QTest::newRow("length 4") << lengthLow << true;
    QTest::newRow("length 57") << lengthHigh << true;
    QTest::newRow("short report") << good.left(20) << false;
}

void TestFrames::receiveBadReports()
{
    QFETCH(QByteArray, report);
    QFETCH(bool, bufferTouched);
    std::memset(ReportBuffer, 0x77, sizeof ReportBuffer);
    const ReceivedFrame before = ResponseFrame;
    QCOMPARE(feed(report), ReportOutcome::Bad);
    QCOMPARE(ReportBuffer[5] != 0x77, bufferTouched);
    QCOMPARE(ReportBuffer[74], uint8_t(0x77));
    const int length = report.size() > 5 ? uint8_t(report[5]) : 0;
    if (length < 5 || length > 56)
        QCOMPARE(std::memcmp(&before, &ResponseFrame, sizeof before), 0);
}

void TestFrames::commandFrames_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("format") << 0 << QByteArray("\xAA\x0B\x00\x07\xFF\xFF\xFF\xFF\xFF\xFF\xEE", 11);
    QTest::newRow("read device") << 2 << QByteArray("\xAA\x0A\x02\x07\x57\x30\x29\x14\x01\xEE", 10);
    QTest::newRow("read owner") << 4 << QByteArray("\xAA\x0A\x04\x07\x57\x30\x29\x14\x00\xEE", 10);
    QTest::newRow("restore") << 5 << QByteArray("\xAA\x0B\x05\x07\xFF\xFF\xFF\xFF\xFF\xFF\xEE", 11);
    QTest::newRow("blacklist empty") << 6 << QByteArray("\xAA\x0B\x06\x07\x02\x57\x30\x29\x14\x00\xEE", 11);
    QTest::newRow("read blacklist") << 7 << QByteArray("\xAA\x0A\x07\x07\x57\x30\x29\x14\x02\xEE", 10);
    QTest::newRow("8") << 8 << QByteArray("\xAA\x06\x08\x00\x00\xEE", 6);
    QTest::newRow("stop") << 9 << QByteArray("\xAA\x05\x09\x00\xEE", 5);
    QTest::newRow("10") << 10 << QByteArray("\xAA\x06\x0A\x00\x5C\xEE", 6);
    QTest::newRow("write device")
        << 1 << QByteArray("\xAA\x10\x01\x0C\x01\x12\x34\x56\x78\x00\x24\x03\x05\x14\x00\xEE", 16);
}

void TestFrames::commandFrames()
{
    QFETCH(int, code);
    QFETCH(QByteArray, frame);
    TSystemInfo info{};
    info.Sector = 7;
    std::memcpy(info.RegionID, "57302914", 8);
    info.Command10Value = 0x5C;
    TTerminalParamRec terminal;
    terminal.Kind = 1;
    terminal.Sector = 12;
    std::memcpy(terminal.RegionID, "12345678", 8);
    std::memcpy(terminal.IssueTime, "24030514", 8);
    TBlackListRec black;
    black.Kind = 2;
    PackDigits(black.RegionBCD, info.RegionID, 4);
    const auto built = BuildCommandFrame(uint8_t(code), info, TUserCardRec{}, terminal, black);
    QVERIFY(built);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(built->data()), frame.size()), frame);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(built->data()) + frame.size(), 56 - frame.size()),
             QByteArray(56 - frame.size(), '\0'));
    QVERIFY(!BuildCommandFrame(11, info, TUserCardRec{}, terminal, black));
}

void TestFrames::blackListCountIsBounded()
{
    TSystemInfo info{};
    TBlackListRec black;
    black.Count = 10;
    for (int i = 0; i < 10; ++i) {
        black.Entries[i].Flag = 1;
        SetBlackListSerial(black.Entries[i], i + 1);
    }
    auto f = BuildCommandFrame(CmdWriteBlackList, info, {}, {}, black);
    QCOMPARE(int((*f)[1]), 0x33);
    QCOMPARE(int((*f)[50]), 0xEE);
    QCOMPARE(int((*f)[46]), 1); // last entry's flag
    black.Count = 200;
    f = BuildCommandFrame(CmdWriteBlackList, info, {}, {}, black);
    QCOMPARE(int((*f)[1]), 0x33);
    QCOMPARE(int((*f)[9]), 10);

    TUserCardRec user;
    user.Sector = 3;
    f = BuildCommandFrame(CmdWriteOwnerCard, info, user, {}, black);
    QCOMPARE(int((*f)[1]), 53);
    QCOMPARE(int((*f)[3]), 3);
    QCOMPARE(int((*f)[52]), 0xEE);
}

void TestFrames::logLine()
{
    feed(cut(answer(3, 0, QByteArray("\x00\x12\xD6\x87", 4)))[0]);
    QCOMPARE(LogResponseLine(ResponseFrame), QStringLiteral("AA,09,03,00,00,12,D6,87,EE"));
}

void TestFrames::resultTexts_data()
{
    // ShowResult's caller type; -1: ResultText; -2: a card run; -3: a failed owner card operation
    QTest::addColumn<int>("caller");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text"); // null: ShowResult shows nothing
    const QString device = QStringLiteral("管理卡操作完成\r\r请到门禁机刷卡授权");
    const int line = -1;
    const int run = -2;
    const int failed = -3;
    QTest::newRow("write device card, 0") << int(CallerWriteDeviceCard) << 0 << device;
    QTest::newRow("write device card, 0x80") << int(CallerWriteDeviceCard) << 0x80 << device;
    QTest::newRow("write device card, 5") << int(CallerWriteDeviceCard) << 5 << "卡类型错误";
    QTest::newRow("read device card, 0") << int(CallerReadDeviceCard) << 0 << "操作完成";
    QTest::newRow("read device card, 0x85")
        << int(CallerReadDeviceCard) << 0x85 << "卡类型错误: 这个可能是用户卡";
    QTest::newRow("blacklist, 1") << int(CallerBlackList) << 1 << "密钥错误";
    QTest::newRow("blacklist, 4") << int(CallerBlackList) << 4 << "选择卡错误";
    QTest::newRow("blacklist, 5") << int(CallerBlackList) << 5 << "卡类型错误";
    QTest::newRow("blacklist, 6") << int(CallerBlackList) << 6 << "非本小区IC卡";
    QTest::newRow("blacklist, 7") << int(CallerBlackList) << 7 << QString();
    QTest::newRow("blacklist, 0x87") << int(CallerBlackList) << 0x87 << QString();
    QTest::newRow("result line, 0") << line << 0 << "操作完成";
    QTest::newRow("result line, 5") << line << 5 << "卡类型错误, 此卡可能是设备卡";
    QTest::newRow("result line, 6") << line << 6 << "非本小区IC卡";
    QTest::newRow("result line, 7") << line << 7 << "";
    QTest::newRow("result line, 0x80 not masked") << line << 0x80 << "";
    QTest::newRow("card run, 0") << run << 0 << "操作完成";
    QTest::newRow("card run, 1 wrong key") << run << 1 << "";
    QTest::newRow("card run, 2") << run << 2 << "读卡错误";
    QTest::newRow("card run, 3") << run << 3 << "写卡错误";
    QTest::newRow("card run, 4") << run << 4 << "";
    QTest::newRow("card run, 5") << run << 5 << "卡类型错误";
    QTest::newRow("card run, 6") << run << 6 << "无效的小区编号";
    QTest::newRow("card run, 0x83") << run << 0x83 << "写卡错误";
    QTest::newRow("card run, 9") << run << 9 << "";
    QTest::newRow("failed, 3") << failed << 3 << "写卡错误";
    QTest::newRow("failed, 6") << failed << 6 << "非本小区IC卡";
    QTest::newRow("failed, a code without a text") << failed << 9 << "卡操作失败（结果代码9）";
}

// One table of texts, read by ShowResult, ResultText, the owner card windows and the card
// initialisation window.
void TestFrames::resultTexts()
{
    QFETCH(int, caller);
    QFETCH(int, code);
    QFETCH(QString, text);
    if (caller == -1) {
        QCOMPARE(ResultText(code), text);
    } else if (caller == -2) {
        QCOMPARE(ResultTextFor(ResultUse::CardRun, code), text);
    } else if (caller == -3) {
        QCOMPARE(CardFailureText(code), text);
    } else {
        const std::optional<QString> shown = ShowResultText(code, caller);
        QCOMPARE(shown.has_value(), !text.isNull());
        if (shown)
            QCOMPARE(*shown, text);
    }
}

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
