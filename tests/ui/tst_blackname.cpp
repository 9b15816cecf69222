#include "UiFixture.h"
#include "cards/Digits.h"
#include "office/BlackList.h"
#include "store/ListModel.h"
#include "store/OwnerStatements.h"
#include "support/OwnerRecords.h"
#include "support/TestSql.h"
#include "ui/BlackName.h"
#include "ui/ListScreen.h"
#include "ui/ShowBlackCard.h"
#include "ui/UserInfo.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <cstring>
#include <memory>

namespace {

// An owner with a card serial and a loss state ("" normal, "挂失" lost) and prepared mark.
int addOwner(const QString& name, const QString& cardId, const QString& loss, int prepared = 0,
             int fangHao = 101)
{
    TuserInfoRec rec = OwnerRecord(name, QStringLiteral("N-") + name, 1, 1, QString::number(fangHao));
    rec.CardID = cardId;
    rec.chLoss = loss;
    const int idx = insertOwner(rec);
    if (idx == -1)
        return -1;
    dm->ExecuteSQL(QStringLiteral("update UserInfo set IsSelect = :p where idx = :idx"),
                   {{QStringLiteral("p"), prepared}, {QStringLiteral("idx"), idx}});
    return idx;
}

int PreparedCountNow()
{
    return TFormBlackNameInfo::PreparedCount();
}

QString lossOf(int idx)
{
    return column(QStringLiteral("select chLoss from UserInfo where idx = ") + QString::number(idx))
        .value(0)
        .toString();
}

const QString TooManyAll = QStringLiteral("每次处理不能超过10个黑名单\r请单独挑选记录");
const QString TooManyOne = QStringLiteral("每次处理不能超过10个黑名单\r请先写黑名单");
const QString WhiteQuestion = QStringLiteral("选择的黑名单卡需要解挂吗？(Y/N)");
const QString NoRegion = QStringLiteral("小区标识号还没有设置，这样写出的卡门禁终端不会接受。\r"
                                        "请先在“发设备卡”中输入小区标识号，再按“保存数据”。");
const QString NotAllRead = QStringLiteral("准备写卡的黑名单没有全部读出，已重新读取，请核对后再写卡");

// Deletes the owner idx just after the list counted its rows and before it reads them, as another
// desk may: the list then holds a row whose page could not be read in full.
void deleteBetweenCountAndRead(ListModel& list, int idx)
{
    auto statements = std::make_shared<int>(0);
    list.SetStatementHook([statements, idx](const QString&, const SqlParams&) {
        if (++*statements == 2)
            dm->ExecuteSQL(QStringLiteral("delete from UserInfo where idx = :idx"),
                           {{QStringLiteral("idx"), idx}});
    });
}

struct Window {
    AttachedProgram a;
    std::unique_ptr<TFormBlackNameInfo> w;

    bool start()
    {
        if (!a.start())
            return false;
        a.f.openData();
        CurrentOwnerMarks = &m_marks;
        std::memcpy(SystemInfo.RegionID, "57302914", 8);
        return true;
    }
    ~Window() { CurrentOwnerMarks = nullptr; }
    void open()
    {
        w = std::make_unique<TFormBlackNameInfo>();
        w->show();
    }
    int lost() const { return w->lblLostCount->text().toInt(); }
    int prepared() const { return w->lblPreparedCount->text().toInt(); }
    bool written(QPushButton* button)
    {
        QSignalSpy handled(a.link.get(), &CardIssuerLink::answerHandled);
        button->click();
        return handled.wait(3000);
    }

private:
    class OwnerMarks final : public BlackListOwnerMarks {
    public:
        bool markOwner(int idx, bool blacklisted) override { return SetOwnerBlackListed(idx, blacklisted); }
    } m_marks;
};

} // namespace

class TestBlackName : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tenAtMost();
    void blacklistCard();
    void writeErrorChangesNoOwner();
    void whitelistCardWithYes();
    void singleOwnerCard();
    void fromTheOwnerList();
    void foundAndLostAgainIsPreparedAtOnce();
    void listing();
    void closingWithdrawsTheWrite();
    void rowsNotReadAreLeftAlone();
    void cardNotSentAsksNothing_data();
    void cardNotSentAsksNothing();
};

void TestBlackName::tenAtMost()
{
    Window t;
    QVERIFY(t.start());
    for (int i = 0; i < 6; ++i)
        addOwner(QStringLiteral("L%1").arg(i), PadNumber(100 + i, 10), QStringLiteral("挂失"));
    addOwner(QStringLiteral("normal"), PadNumber(99, 10), QString());
    t.open();
    QCOMPARE(t.lost(), 6);
    QCOMPARE(t.prepared(), 0);
    // The card serial as stored, the card issuer's number beside it.
    QCOMPARE(t.w->grdLost->model()->index(0, 4).data(Qt::ToolTipRole).toString(),
             QStringLiteral("卡号（无符号）：100"));
    t.w->btnPrepareAll->click();
    QCOMPARE(t.prepared(), 6);
    t.w->btnPrepareAll->click(); // 6 + 6 > 10
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{TooManyAll});
    QCOMPARE(t.a.f.dialogs.shown.first().buttons, MsgButtons::Abort);
    QCOMPARE(t.prepared(), 6);

    // Removing one, then all.
    t.w->btnRemove->click();
    QCOMPARE(t.prepared(), 5);
    t.w->actRemoveAll->trigger();
    QCOMPARE(t.prepared(), 0);

    // 7 lost of whom 4 prepared: ">>" refused.
    addOwner(QStringLiteral("L6"), PadNumber(106, 10), QStringLiteral("挂失"));
    for (int row = 0; row < 4; ++row) {
        t.w->grdLost->MakeCurrent(row);
        t.w->btnPrepare->click();
    }
    QCOMPARE(t.prepared(), 4);
    t.a.f.dialogs.clear();
    t.w->btnPrepareAll->click();
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{TooManyAll});

    // With 10 prepared, ">" is refused even for an owner prepared already.
    for (int i = 7; i < 13; ++i)
        addOwner(QStringLiteral("L%1").arg(i), PadNumber(100 + i, 10), QStringLiteral("挂失"), 1);
    t.w->refreshLists();
    QCOMPARE(t.prepared(), 10);
    t.a.f.dialogs.clear();
    t.w->grdLost->MakeCurrent(0);
    t.w->btnPrepare->click();
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{TooManyOne});
}

void TestBlackName::blacklistCard()
{
    Window t;
    QVERIFY(t.start());
    const uint32_t card = t.a.f.formattedCardOnReader(555);
    // A serial above 24 bits and one with the top bit set keep their low 24 bits on the card.
    const int a = addOwner(QStringLiteral("a"), PadNumber(0x01ABCDEF, 10), QStringLiteral("挂失"), 1, 101);
    const int b =
        addOwner(QStringLiteral("b"), PadNumber(int32_t(0x80000123u), 10), QStringLiteral("挂失"), 1, 102);
    const int c = addOwner(QStringLiteral("c"), QString(), QStringLiteral("挂失"), 1, 103);
    const int other = addOwner(QStringLiteral("other"), PadNumber(7, 10), QStringLiteral("挂失"), 0, 104);
    t.open();
    QCOMPARE(BlackListSource, uint8_t(1));
    QVERIFY(t.written(t.w->btnWriteBlack));
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{"操作完成"});
    for (int idx : {a, b, c})
        QCOMPARE(lossOf(idx), QStringLiteral("黑名单"));
    QCOMPARE(lossOf(other), QStringLiteral("挂失"));
    QCOMPARE(t.lost(), 1); // they left both lists
    QCOMPARE(t.prepared(), 0);
    const QByteArray record = t.a.f.sim.sectorRecord(card, 7);
    QCOMPARE(uint8_t(record.at(0)), uint8_t(2));
    QCOMPARE(uint8_t(record.at(5)), uint8_t(3)); // count
    QCOMPARE(record.mid(6, 12), QByteArray("\x01\xEF\xCD\xAB"
                                           "\x01\x23\x01\x00"
                                           "\x01\x00\x00\x00",
                                           12));
}

void TestBlackName::writeErrorChangesNoOwner()
{
    Window t;
    QVERIFY(t.start());
    t.a.f.formattedCardOnReader(556);
    const int a = addOwner(QStringLiteral("a"), PadNumber(1, 10), QStringLiteral("挂失"), 1);
    t.open();
    t.a.f.sim.setFault(SimFault::WriteError, 1);
    QVERIFY(t.written(t.w->btnWriteBlack));
    QCOMPARE(t.a.f.dialogs.texts().size(), 1);
    QVERIFY(t.a.f.dialogs.texts().first() != QStringLiteral("操作完成"));
    QCOMPARE(lossOf(a), QStringLiteral("挂失"));
    QCOMPARE(t.prepared(), 1);
    QCOMPARE(int(PendingCommand), 9);

    // Nothing prepared: nothing is sent, nothing said.
    t.a.f.dialogs.clear();
    t.w->btnRemoveAll->click();
    t.w->btnWriteBlack->click();
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
}

void TestBlackName::whitelistCardWithYes()
{
    Window t;
    QVERIFY(t.start());
    const uint32_t card = t.a.f.formattedCardOnReader(557);
    const int a = addOwner(QStringLiteral("a"), PadNumber(11, 10), QStringLiteral("挂失"), 1);
    const int b = addOwner(QStringLiteral("b"), PadNumber(12, 10), QStringLiteral("挂失"), 1);
    t.open();
    t.a.f.dialogs.answers = {MsgAnswer::Yes};
    QSignalSpy handled(t.a.link.get(), &CardIssuerLink::answerHandled);
    t.w->btnWriteWhite->click();
    // At once, before the card answers: the loss has ended and the marks are gone.
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{"选择的黑名单卡需要解挂吗？(Y/N)"});
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo where chLoss = '' and IsSelect = 0")),
             QVariantList{2});
    QCOMPARE(t.lost(), 0);
    QVERIFY(handled.wait(3000));
    QCOMPARE(lossOf(a), QString());
    QCOMPARE(lossOf(b), QString());
    const QByteArray record = t.a.f.sim.sectorRecord(card, 7);
    QCOMPARE(record.mid(6, 8), QByteArray("\x00\x0B\x00\x00\x00\x0C\x00\x00", 8)); // white entries
}

void TestBlackName::singleOwnerCard()
{
    Window t;
    QVERIFY(t.start());
    const uint32_t card = t.a.f.formattedCardOnReader(558);
    const int idx = addOwner(QStringLiteral("normal"), PadNumber(int32_t(0x80000001u), 10), QString());
    BlackListSource = 0;
    QVERIFY(WriteSingleOwnerCard(1, idx, PadNumber(int32_t(0x80000001u), 10)));
    QSignalSpy handled(t.a.link.get(), &CardIssuerLink::answerHandled);
    QVERIFY(handled.wait(3000));
    QCOMPARE(lossOf(idx), QStringLiteral("黑名单"));
    QCOMPARE(t.a.f.sim.sectorRecord(card, 7).mid(5, 5), QByteArray("\x01\x01\x01\x00\x00", 5));
    // Without a card issuer nothing is sent.
    t.a.f.sim.unplug();
    QTRY_VERIFY(!t.a.link->attached());
    t.a.f.dialogs.clear();
    QVERIFY(!WriteSingleOwnerCard(0, idx, QString()));
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{"请插入发卡器"});
}

void TestBlackName::fromTheOwnerList()
{
    Window t;
    QVERIFY(t.start());
    const uint32_t card = t.a.f.formattedCardOnReader(562);
    addOwner(QStringLiteral("a"), PadNumber(41, 10), QString(), 0, 101);
    const int b = addOwner(QStringLiteral("b"), PadNumber(42, 10), QString(), 0, 102);
    TFormUserInfo owners;
    owners.show();
    QCOMPARE(BlackListSource, uint8_t(0));
    QVERIFY(owners.grid->MakeCurrent(1));
    QCOMPARE(owners.grid->CurrentIdx(), b);
    QSignalSpy handled(t.a.link.get(), &CardIssuerLink::answerHandled);
    owners.actWriteBlack->trigger();
    QVERIFY(handled.wait(3000));
    QCOMPARE(lossOf(b), QStringLiteral("黑名单"));
    QCOMPARE(owners.grid->CurrentIdx(), b); // the list reloaded on the owner
    QCOMPARE(owners.grid->Model().FieldAt(1, QStringLiteral("chLoss")).toString(), QStringLiteral("黑名单"));
    QCOMPARE(t.a.f.sim.sectorRecord(card, 7).mid(5, 5), QByteArray("\x01\x01\x2A\x00\x00", 5));
    // And back with a whitelist card.
    owners.actWriteWhite->trigger();
    QVERIFY(handled.wait(3000));
    QCOMPARE(lossOf(b), QString());
}

void TestBlackName::foundAndLostAgainIsPreparedAtOnce()
{
    Window t;
    QVERIFY(t.start());
    t.a.f.formattedCardOnReader(559);
    const int idx = addOwner(QStringLiteral("a"), PadNumber(21, 10), QStringLiteral("挂失"), 1);
    t.open();
    QVERIFY(t.written(t.w->btnWriteBlack));
    QCOMPARE(lossOf(idx), QStringLiteral("黑名单"));
    // Found (the owner list's 解挂), lost again (挂失): prepared straight away.
    QVERIFY(dm->ExecuteSQL(QStringLiteral("update UserInfo set chLoss = '' where idx = :i"), {{"i", idx}}));
    QVERIFY(
        dm->ExecuteSQL(QStringLiteral("update UserInfo set chLoss = '挂失' where idx = :i"), {{"i", idx}}));
    t.w->refreshLists();
    QCOMPARE(t.prepared(), 1);
    QCOMPARE(t.w->grdPrepared->CurrentIdx(), idx);
}

void TestBlackName::listing()
{
    Window t;
    QVERIFY(t.start());
    const uint32_t card = t.a.f.formattedCardOnReader(560);
    // An entry keeps the low 24 bits of a card serial: 0x000123 names both owners whose cards end
    // so, 张三's (0x12000123) and 李四's, whose top bit is set (stored with a minus sign), in room
    // order; 0xFFFFFF names nobody (0x00FFFF00 is not it).
    addOwner(QStringLiteral("李四"), PadNumber(int32_t(0xE9000123u), 10), QString(), 0, 303);
    addOwner(QStringLiteral("张三"), PadNumber(0x12000123, 10), QString(), 0, 202);
    addOwner(QStringLiteral("王五"), PadNumber(0x00FFFF00, 10), QString(), 0, 404);
    // A card of two entries: 0x000123 black, 0xFFFFFF white.
    QByteArray record(46, '\0');
    record[0] = 2;
    PackDigits(reinterpret_cast<uint8_t*>(record.data()) + 1, SystemInfo.RegionID, 4);
    record[5] = 2;
    record.replace(6, 8, QByteArray("\x01\x23\x01\x00\x00\xFF\xFF\xFF", 8));
    QVERIFY(t.a.f.sim.setSector(card, 7, SectorState::Formatted, record));
    t.open();
    QString text;
    WhenModal<TFormShowBlackCard>([&](TFormShowBlackCard* listing) {
        (void)QTest::qWaitFor([&] { return !listing->mmoList->toPlainText().isEmpty(); }, 3000);
        QTest::qWait(150);
        text = listing->mmoList->toPlainText();
        listing->btnReturn->click();
    });
    t.w->btnRead->click();
    const QStringList expected{
        QStringLiteral("卡类型：2 ,\t卡数量：2 ,\t小区号：") + QStringLiteral("57302914"),
        QString(),
        QStringLiteral("序号\t标志\t卡号\t\t姓名\t\t栋号\t单元号\t房号"),
        QString(69, QLatin1Char('=')),
        QStringLiteral("  00\t黑\t0000000291\t张三\t\t1\t1\t202"),
        QStringLiteral("  00\t黑\t0000000291\t李四\t\t1\t1\t303"),
        QString(137, QLatin1Char('-')),
        QStringLiteral("  01\t白\t0016777215\t\t\t\t\t"),
        QString(137, QLatin1Char('-')),
    };
    QCOMPARE(text.split(QLatin1Char('\n')), expected);
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{"操作完成"});
}

void TestBlackName::closingWithdrawsTheWrite()
{
    Window t;
    QVERIFY(t.start());
    t.a.f.formattedCardOnReader(561);
    const int a = addOwner(QStringLiteral("a"), PadNumber(31, 10), QStringLiteral("挂失"), 1);
    t.a.f.sim.setAnswerDelay(300);
    t.open();
    t.w->btnWriteBlack->click();
    QCOMPARE(int(PendingCommand), 6);
    t.w->close();
    QCOMPARE(int(PendingCommand), 9);
    QCOMPARE(CurrentBlackListWindow, nullptr);
    QTest::qWait(600);
    QCOMPARE(lossOf(a), QStringLiteral("挂失")); // the late answer is ignored
}

// A row whose page was not read has no idx: ">" and "<" leave it alone (they must not take it for
// every lost owner), and no card is written with an entry for it.
void TestBlackName::rowsNotReadAreLeftAlone()
{
    Window t;
    QVERIFY(t.start());
    const uint32_t card = t.a.f.formattedCardOnReader(563);
    QList<int> lost;
    for (int i = 0; i < 3; ++i)
        lost << addOwner(QStringLiteral("L%1").arg(i), PadNumber(200 + i, 10), QStringLiteral("挂失"), 0,
                         101 + i);
    QList<int> prepared;
    for (int i = 0; i < 3; ++i)
        prepared << addOwner(QStringLiteral("P%1").arg(i), PadNumber(300 + i, 10), QStringLiteral("挂失"), 1,
                             201 + i);
    t.open();
    QCOMPARE(t.lost(), 6);
    QCOMPARE(t.prepared(), 3);

    // The last lost row (P2, prepared) is gone between the count and the read.
    deleteBetweenCountAndRead(t.w->grdLost->Model(), prepared.last());
    t.w->refreshLists();
    t.w->grdLost->Model().SetStatementHook({});
    QVERIFY(t.w->grdLost->MakeCurrent(5));
    QCOMPARE(t.w->grdLost->CurrentIdx(), -1);
    t.w->btnPrepare->click();
    for (int idx : lost)
        QCOMPARE(
            column(QStringLiteral("select IsSelect from UserInfo where idx = %1").arg(idx)).value(0).toInt(),
            0);

    // The same in the prepared list: "<" unmarks no one, the card is not written.
    deleteBetweenCountAndRead(t.w->grdPrepared->Model(), prepared.at(1));
    t.w->refreshLists();
    t.w->grdPrepared->Model().SetStatementHook({});
    QCOMPARE(t.w->grdPrepared->RecordCount(), 2);
    QVERIFY(t.w->grdPrepared->MakeCurrent(1));
    QCOMPARE(t.w->grdPrepared->CurrentIdx(), -1);
    t.w->btnRemove->click();
    QCOMPARE(PreparedCountNow(), 1);
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
    t.w->btnWriteBlack->click();
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{NotAllRead});
    QCOMPARE(int(PendingCommand), 9);
    QCOMPARE(t.prepared(), 1); // read again
    QCOMPARE(t.w->grdPrepared->RecordCount(), 1);

    // Read again in full, the card goes out with the one owner left.
    t.a.f.dialogs.clear();
    QVERIFY(t.written(t.w->btnWriteBlack));
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{"操作完成"});
    QCOMPARE(lossOf(prepared.first()), QStringLiteral("黑名单"));
    QCOMPARE(uint8_t(t.a.f.sim.sectorRecord(card, 7).at(5)), uint8_t(1));
}

void TestBlackName::cardNotSentAsksNothing_data()
{
    QTest::addColumn<QString>("why");
    QTest::addColumn<QString>("told"); // empty: nothing said
    QTest::addColumn<bool>("white");
    for (bool white : {false, true}) {
        const char* card = white ? "写白名单卡" : "写黑名单卡";
        QTest::addRow("%s, no card issuer", card) << "no card issuer"
                                                  << "请插入发卡器" << white;
        QTest::addRow("%s, nothing prepared", card) << "nothing prepared" << QString() << white;
        QTest::addRow("%s, no community identifier", card) << "no community identifier" << NoRegion << white;
    }
}

// A blacklist or whitelist card that was not sent changes no owner, and the whitelist card does
// not offer to end the losses: the door terminals would go on refusing those cards.
void TestBlackName::cardNotSentAsksNothing()
{
    QFETCH(QString, why);
    QFETCH(QString, told);
    QFETCH(bool, white);
    Window t;
    QVERIFY(t.start());
    const int a = addOwner(QStringLiteral("a"), PadNumber(51, 10), QStringLiteral("挂失"),
                           why == QStringLiteral("nothing prepared") ? 0 : 1);
    if (why == QStringLiteral("no card issuer")) {
        t.a.f.sim.unplug();
        QTRY_VERIFY(!t.a.link->attached());
    } else if (why == QStringLiteral("no community identifier")) {
        std::memset(SystemInfo.RegionID, 0, sizeof SystemInfo.RegionID);
    }
    t.open();
    t.a.f.dialogs.answers = {MsgAnswer::Yes};
    (white ? t.w->btnWriteWhite : t.w->btnWriteBlack)->click();
    QCOMPARE(t.a.f.dialogs.texts(), told.isEmpty() ? QStringList{} : QStringList{told});
    QCOMPARE(int(PendingCommand), 9);
    QCOMPARE(lossOf(a), QStringLiteral("挂失"));
    QCOMPARE(t.lost(), 1);

    // The single-owner card of the owner list follows the same rule, and needs a row it could read.
    t.a.f.dialogs.clear();
    QCOMPARE(WriteSingleOwnerCard(white ? 0 : 1, a, PadNumber(51, 10)),
             why == QStringLiteral("nothing prepared"));
    if (why != QStringLiteral("nothing prepared"))
        QCOMPARE(t.a.f.dialogs.texts(), QStringList{told});
    PendingCommand = IdleCommand;
    t.a.f.dialogs.clear();
    QVERIFY(!WriteSingleOwnerCard(1, -1, QString()));
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
}

QTEST_MAIN(TestBlackName)
#include "tst_blackname.moc"
