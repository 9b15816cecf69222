// The base of the card windows: what closing does to a command in flight, by each window's rule
// and by every way of closing, the answer handler's pointer to a window, which must never
// outlive the window's opening, and which card commands wait for the community identifier.

#include "UiFixture.h"
#include "link/CommandFrames.h"
#include "ui/CardDialog.h"

#include <QPointer>

namespace {

const QString NoRegion = QStringLiteral("小区标识号还没有设置，这样写出的卡门禁终端不会接受。\r"
                                        "请先在“发设备卡”中输入小区标识号，再按“保存数据”。");

ReceivedFrame Answer(uint8_t command, uint8_t result)
{
    ReceivedFrame a{};
    a.Head = FrameHead;
    a.Length = 5;
    a.Command = command;
    a.Result = result;
    a.Tail = FrameTail;
    return a;
}

} // namespace

// A card window that the answer handler reloads after a blacklist card was written.
class CardProbeWindow : public CardDialog, private BlackListWindowHook {
    Q_OBJECT
public:
    explicit CardProbeWindow(CloseRule rule) : CardDialog(nullptr, rule, Polling::WhileOpen, 100)
    {
        KeepAnswerHook<BlackListWindowHook>(CurrentBlackListWindow, this);
    }
    BlackListWindowHook* hook() { return this; }
    int refreshed = 0;
    int ticks = 0;

protected:
    void tmrAnswerTimer() override { ++ticks; }

private:
    void refreshLists() override { ++refreshed; }
};

Q_DECLARE_METATYPE(CardDialog::CloseRule)

class TestCardDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void closeRules_data();
    void closeRules();
    void answerReachesOnlyAnOpenWindow();
    void closingOneWindowKeepsTheOthersPointer();
    void pollsWhileOpen();
    void cardsTheTerminalsCheckNeedTheCommunity_data();
    void cardsTheTerminalsCheckNeedTheCommunity();
};

void TestCardDialog::closeRules_data()
{
    QTest::addColumn<CardDialog::CloseRule>("rule");
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("pendingAfter");
    QTest::addColumn<bool>("signalled");
    using R = CardDialog::CloseRule;
    for (const QString& way :
         {QStringLiteral("reject"), QStringLiteral("close"), QStringLiteral("destroyed")}) {
        QTest::addRow("send stop, %s", qPrintable(way)) << R::SendStop << way << 9 << true;
        QTest::addRow("reset to idle, %s", qPrintable(way)) << R::ResetToIdle << way << 9 << false;
        QTest::addRow("leave pending, %s", qPrintable(way)) << R::LeavePending << way << 6 << false;
    }
    QTest::newRow("send stop, never shown") << R::SendStop << "unshown" << 6 << false;
}

void TestCardDialog::closeRules()
{
    QFETCH(CardDialog::CloseRule, rule);
    QFETCH(QString, way);
    QFETCH(int, pendingAfter);
    QFETCH(bool, signalled);
    UiFixture f;
    auto* w = new CardProbeWindow(rule);
    if (way != QStringLiteral("unshown"))
        w->show();
    PendingCommand = CmdWriteBlackList;
    if (way == QStringLiteral("reject"))
        w->reject();
    else if (way == QStringLiteral("close"))
        w->close();
    QCOMPARE(int(PendingCommand), way == QStringLiteral("destroyed") ? 6 : pendingAfter);
    delete w;
    QCOMPARE(int(PendingCommand), pendingAfter);
    QCOMPARE(CommandEvent.isSet(), signalled);
    QVERIFY(!CurrentBlackListWindow);
}

void TestCardDialog::answerReachesOnlyAnOpenWindow()
{
    UiFixture f;
    BlackListSource = 1;
    CardProbeWindow w(CardDialog::CloseRule::LeavePending);
    QVERIFY(!CurrentBlackListWindow); // not before the window opens
    w.show();
    QCOMPARE(CurrentBlackListWindow, w.hook());
    PendingCommand = CmdWriteBlackList;
    HandleResponse(Answer(CmdWriteBlackList, 0));
    QCOMPARE(w.refreshed, 1);

    w.reject();
    QVERIFY(!CurrentBlackListWindow);
    PendingCommand = CmdWriteBlackList; // still pending: the late answer finds no window
    HandleResponse(Answer(CmdWriteBlackList, 0));
    QCOMPARE(w.refreshed, 1);

    w.show(); // opened again: reached again
    PendingCommand = CmdWriteBlackList;
    HandleResponse(Answer(CmdWriteBlackList, 0));
    QCOMPARE(w.refreshed, 2);
}

// A window opened over another (the owner list over the blacklist window) takes the pointer;
// closing the one below must not take it from the one on top.
void TestCardDialog::closingOneWindowKeepsTheOthersPointer()
{
    UiFixture f;
    CardProbeWindow below(CardDialog::CloseRule::LeavePending);
    below.show();
    {
        CardProbeWindow above(CardDialog::CloseRule::LeavePending);
        above.show();
        QCOMPARE(CurrentBlackListWindow, above.hook());
        below.reject();
        QCOMPARE(CurrentBlackListWindow, above.hook());
    } // destroyed without done()
    QVERIFY(!CurrentBlackListWindow);
}

void TestCardDialog::pollsWhileOpen()
{
    UiFixture f;
    CardProbeWindow w(CardDialog::CloseRule::LeavePending);
    QTest::qWait(150);
    QCOMPARE(w.ticks, 0);
    w.show();
    QTRY_VERIFY(w.ticks >= 2);
    w.reject();
    const int ticks = w.ticks;
    QTest::qWait(250);
    QCOMPARE(w.ticks, ticks);
    QCOMPARE(w.tmrAnswer->interval(), 100);
}

void TestCardDialog::cardsTheTerminalsCheckNeedTheCommunity_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("needsCommunity");
    QTest::newRow("format") << int(CmdFormat) << false;
    QTest::newRow("write device card") << int(CmdWriteDeviceCard) << false;
    QTest::newRow("read device card") << int(CmdReadDeviceCard) << false;
    QTest::newRow("write owner card") << int(CmdWriteOwnerCard) << true;
    QTest::newRow("read owner card") << int(CmdReadOwnerCard) << false;
    QTest::newRow("restore blank") << int(CmdRestoreBlank) << false;
    QTest::newRow("write blacklist card") << int(CmdWriteBlackList) << true;
    QTest::newRow("read blacklist card") << int(CmdReadBlackList) << false;
}

// Owner, blacklist and whitelist cards carry the community identifier that door terminals check:
// none is written while it is empty (or blank). Device cards, reads and card runs go out: they
// are how the identifier is set and cards are made ready.
void TestCardDialog::cardsTheTerminalsCheckNeedTheCommunity()
{
    QFETCH(int, code);
    QFETCH(bool, needsCommunity);
    AttachedProgram a;
    QVERIFY(a.start());
    for (const char* region : {"", "        ", "57302914"}) {
        std::memcpy(SystemInfo.RegionID, QByteArray(region).leftJustified(8, '\0').constData(), 8);
        a.f.dialogs.clear();
        const bool refused = needsCommunity && QByteArray(region).trimmed().isEmpty();
        bool filled = false;
        QCOMPARE(CardDialog::IssueCardCommand(uint8_t(code),
                                              [&] {
                                                  filled = true;
                                                  return true;
                                              }),
                 !refused);
        QCOMPARE(filled, !refused);
        QCOMPARE(int(PendingCommand), refused ? int(IdleCommand) : code);
        QCOMPARE(a.f.dialogs.texts(), refused ? QStringList{NoRegion} : QStringList{});
        if (refused)
            QCOMPARE(a.f.dialogs.shown.first().buttons, MsgButtons::Abort);
        PendingCommand = IdleCommand;
    }
    // Without a card issuer the card issuer is asked for first.
    a.f.sim.unplug();
    QTRY_VERIFY(!a.link->attached());
    std::memset(SystemInfo.RegionID, 0, 8);
    a.f.dialogs.clear();
    QVERIFY(!CardDialog::CardCommandAllowed(uint8_t(code)));
    QCOMPARE(a.f.dialogs.texts(), QStringList{"请插入发卡器"});
}

QTEST_MAIN(TestCardDialog)
#include "tst_carddialog.moc"
