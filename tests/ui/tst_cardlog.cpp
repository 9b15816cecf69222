// The card windows on the simulated card issuer, as the operation log tells them afterwards: an owner
// card written, bound and read, a write that failed, a lost card blacklisted, a command that got no
// answer, and a format run, each with the desk, the level and what was on the card.

#include "UiFixture.h"
#include "cards/Digits.h"
#include "office/BlackList.h"
#include "store/OperationLog.h"
#include "store/TvexDeviceInfo.h"
#include "support/OwnerRecords.h"
#include "support/TestLog.h"
#include "support/TestSql.h"
#include "ui/BlackName.h"
#include "ui/InitQdr.h"
#include "ui/ListScreen.h"
#include "ui/SearchCondition.h"
#include "ui/SetTerminalParam.h"
#include "ui/TerminalSel.h"
#include "ui/WriteUserCard.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <cstring>

namespace {

using Entry = LoggedEntry;

QList<Entry> logged()
{
    return loggedEntries();
}

// The entries of card commands only (the owners' and terminals' set-up is logged too).
QList<Entry> cardEntries()
{
    static const QStringList cards = {LogAction::WriteOwnerCard, LogAction::ReadOwnerCard,
                                      LogAction::BindOwnerCard,  LogAction::WriteDeviceCard,
                                      LogAction::ReadDeviceCard, LogAction::WriteBlackList,
                                      LogAction::WriteWhiteList, LogAction::ReadBlackList,
                                      LogAction::FormatCards,    LogAction::BlankCards};
    QList<Entry> list;
    for (const Entry& e : logged())
        if (cards.contains(e.action))
            list << e;
    return list;
}

const QString Desk = LogComputer() + QLatin1Char('/') + LogSystemUser();

struct Program {
    AttachedProgram a;
    bool start()
    {
        if (!a.startWithTerminals())
            return false;
        return dm->ExecuteSQL(QStringLiteral("insert into BuildInfo (DongHao, DanYuan) values (1, 2)"));
    }
    ~Program() { FreeSearchCondition(); }
    bool answered(QPushButton* button)
    {
        QSignalSpy handled(a.link.get(), &CardIssuerLink::answerHandled);
        button->click();
        return handled.wait(3000) && QTest::qWaitFor([] { return PendingCommand == IdleCommand; }, 1000) &&
               QTest::qWaitFor([] { return !CardDataReady; }, 1000);
    }
};

class OwnerMarks final : public BlackListOwnerMarks {
public:
    bool markOwner(int idx, bool blacklisted) override { return SetOwnerBlackListed(idx, blacklisted); }
};

} // namespace

class TestCardLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ownerCards();
    void lostCardBlacklisted();
    void noAnswerAndFormatRun();
};

void TestCardLog::ownerCards()
{
    Program t;
    QVERIFY(t.start());
    SetLogOperatorLevel(0);
    const uint32_t serial = t.a.f.formattedCardOnReader(0x00A1B2C3u, SystemInfo.Sector);
    const QString serialText = PadNumber(int32_t(serial), 10);
    const int mine = insertOwner(OwnerRecord(QStringLiteral("张三"), QStringLiteral("M")));
    auto w = std::make_unique<TFormWriteUserCard>();
    w->show();
    QVERIFY(w->grdOwners->MakeCurrent(0));
    Q_EMIT w->grdOwners->rowChosen(0);
    w->chkUseExpiry->setChecked(true);
    w->dtpExpiry->setDate(QDate(2027, 8, 9));
    w->grid->SetGranted(0, true); // the first and third terminals of the grid: 1 and 3
    w->grid->SetGranted(2, true);
    QVERIFY(t.answered(w->btnWrite));
    QCOMPARE(ownerField(mine, QStringLiteral("CardID")).toString(), serialText);
    SetLogOperatorLevel(1);
    QVERIFY(t.answered(w->btnBind));
    QVERIFY(t.answered(w->btnRead));
    t.a.f.sim.setFault(SimFault::WriteError, 1);
    QVERIFY(t.answered(w->btnWrite));

    const QList<Entry> log = cardEntries();
    QCOMPARE(log.size(), 4);
    const QString card =
        QStringLiteral("栋号=1；单元=2；房号=0101；小区标识=57302914；扇区=%1；有效期=2027-08-09；终端=1,3")
            .arg(SystemInfo.Sector);
    QCOMPARE(log[0].action, LogAction::WriteOwnerCard);
    QCOMPARE(log[0].outcome, LogSucceeded);
    QCOMPARE(log[0].cardId, serialText);
    QCOMPARE(log[0].ownerIdx, mine);
    QCOMPARE(log[0].ownerName, QStringLiteral("张三"));
    QCOMPARE(log[0].details, card);
    QCOMPARE(log[0].level, 0);
    QCOMPARE(log[0].desk(), Desk);
    QCOMPARE(log[1].action, LogAction::BindOwnerCard);
    QCOMPARE(log[1].ownerIdx, mine);
    QCOMPARE(log[1].details, card);
    QCOMPARE(log[1].level, 1);
    // A card read names the owner it is registered to.
    QCOMPARE(log[2].action, LogAction::ReadOwnerCard);
    QCOMPARE(log[2].cardId, serialText);
    QCOMPARE(log[2].ownerIdx, mine);
    QCOMPARE(log[3].action, LogAction::WriteOwnerCard);
    QCOMPARE(log[3].outcome, QStringLiteral("写卡错误"));
    QCOMPARE(log[3].ownerIdx, mine);
    QCOMPARE(log[3].cardId, QString());
}

void TestCardLog::lostCardBlacklisted()
{
    Program t;
    QVERIFY(t.start());
    OwnerMarks marks;
    CurrentOwnerMarks = &marks;
    SetLogOperatorLevel(1);
    t.a.f.formattedCardOnReader(555);
    TuserInfoRec rec = OwnerRecord(QStringLiteral("李四"), QStringLiteral("L"));
    rec.CardID = PadNumber(0x01ABCDEF, 10);
    rec.chLoss = QStringLiteral("挂失");
    const int lost = insertOwner(rec);
    {
        TFormBlackNameInfo w;
        w.show();
        w.btnPrepareAll->click();
        QSignalSpy handled(t.a.link.get(), &CardIssuerLink::answerHandled);
        w.btnWriteBlack->click();
        QVERIFY(handled.wait(3000));
    }
    CurrentOwnerMarks = nullptr;
    QCOMPARE(ownerField(lost, QStringLiteral("chLoss")).toString(), QStringLiteral("黑名单"));

    const QList<Entry> log = cardEntries();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].action, LogAction::WriteBlackList);
    QCOMPARE(log[0].outcome, LogSucceeded);
    QCOMPARE(log[0].level, 1);
    QCOMPARE(log[0].desk(), Desk);
    QCOMPARE(log[0].ownerIdx, lost); // the card names one owner
    QCOMPARE(log[0].cardId, rec.CardID);
    // The card's own serial is its low 24 bits.
    QCOMPARE(log[0].details, QStringLiteral("小区标识=57302914；记录数=1；黑 %1（业主 %2 李四）")
                                 .arg(PadNumber(0xABCDEF, 10))
                                 .arg(lost));
}

void TestCardLog::noAnswerAndFormatRun()
{
    Program t;
    QVERIFY(t.start());
    SetLogOperatorLevel(2);
    t.a.f.formattedCardOnReader(777);
    {
        // The device card written, then one that gets no answer before the window closes.
        TFormSetTerminalParam w;
        w.show();
        QVERIFY(t.answered(w.btnWrite));
        t.a.f.sim.setFault(SimFault::NoAnswer, 1);
        w.btnRead->click();
        QTest::qWait(300);
        w.reject();
    }
    {
        // A format run of two cards, the second one failing.
        QVERIFY(t.a.f.sim.addCard(101) && t.a.f.sim.addCard(102));
        TFormInit_QDR w;
        w.setMode(false);
        w.show();
        QSignalSpy handled(t.a.link.get(), &CardIssuerLink::answerHandled);
        w.btnRun->click();
        t.a.f.sim.present(101);
        QVERIFY(handled.wait(3000));
        t.a.f.sim.setFault(SimFault::WriteError, 1);
        t.a.f.sim.present(102);
        QVERIFY(handled.wait(3000));
        QTRY_COMPARE(w.failureCount, 1);
        w.btnRun->click(); // stops the run
    }

    const QList<Entry> log = cardEntries();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log[0].action, LogAction::WriteDeviceCard);
    QCOMPARE(log[0].outcome, LogSucceeded);
    QVERIFY2(log[0].details.startsWith(
                 QStringLiteral("卡类型=设备卡；扇区=%1；小区标识=57302914；同步时间=24030514")
                     .arg(SystemInfo.Sector)),
             qPrintable(log[0].details));
    QCOMPARE(log[0].level, 2);
    QCOMPARE(log[1].action, LogAction::ReadDeviceCard);
    QCOMPARE(log[1].outcome, QStringLiteral("发卡器没有应答"));
    QCOMPARE(log[2].action, LogAction::FormatCards);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^处理 [23] 张卡；失败 1 张$")).match(log[2].details).hasMatch(),
        qPrintable(log[2].details));
    QCOMPARE(log[2].outcome, QStringLiteral("1 张卡失败"));
}

QTEST_MAIN(TestCardLog)
#include "tst_cardlog.moc"
