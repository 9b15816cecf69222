// The base of the card windows: what closing does to a command in flight, by each window's rule
// and by every way of closing, and the answer handler's pointer to a window, which must never
// outlive the window's opening.

#include "UiFixture.h"
#include "ui/CardDialog.h"

#include <QPointer>

namespace {

TResponseFrame Answer(uint8_t command, uint8_t result)
{
    TResponseFrame a{};
    a.Head = FrameHead;
    a.Length = 5;
    a.Command = command;
    a.Result = result;
    a.Tail = FrameTail;
    return a;
}

} // namespace

// A card window that the answer handler reloads after a blacklist card was written.
class TFormCardProbe : public TCardDialog, private BlackListWindowHook {
    Q_OBJECT
public:
    explicit TFormCardProbe(CloseRule rule) : TCardDialog(nullptr, rule, Polling::WhileOpen, 100)
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

Q_DECLARE_METATYPE(TCardDialog::CloseRule)

class TestCardDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void closeRules_data();
    void closeRules();
    void answerReachesOnlyAnOpenWindow();
    void closingOneWindowKeepsTheOthersPointer();
    void pollsWhileOpen();
};

void TestCardDialog::closeRules_data()
{
    QTest::addColumn<TCardDialog::CloseRule>("rule");
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("pendingAfter");
    QTest::addColumn<bool>("signalled");
    using R = TCardDialog::CloseRule;
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
    QFETCH(TCardDialog::CloseRule, rule);
    QFETCH(QString, way);
    QFETCH(int, pendingAfter);
    QFETCH(bool, signalled);
    UiFixture f;
    auto* w = new TFormCardProbe(rule);
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
    TFormCardProbe w(TCardDialog::CloseRule::LeavePending);
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
    TFormCardProbe below(TCardDialog::CloseRule::LeavePending);
    below.show();
    {
        TFormCardProbe above(TCardDialog::CloseRule::LeavePending);
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
    TFormCardProbe w(TCardDialog::CloseRule::LeavePending);
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

QTEST_MAIN(TestCardDialog)
#include "tst_carddialog.moc"
