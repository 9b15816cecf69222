#include "UiFixture.h"
#include "cards/Digits.h"
#include "cards/Gbk.h"
#include "store/OwnerStatements.h"
#include "store/TvexDeviceInfo.h"
#include "support/Files.h"
#include "support/OwnerRecords.h"
#include "support/TestSql.h"
#include "ui/AlterUserInfo.h"
#include "ui/InputDongHao.h"
#include "ui/ListScreen.h"
#include "ui/SearchCondition.h"
#include "ui/TerminalSel.h"
#include "ui/Widgets.h"
#include "ui/WriteUserCard.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <cstring>

namespace {

const QString Moved = QStringLiteral("警告：本卡曾经被登记！\r\n\r\n原登记信息会被取消，请核对");
const QString Resting = QStringLiteral("注意：先放好卡，再进行读写");
const QString NoRegion = QStringLiteral("小区标识号还没有设置，这样写出的卡门禁终端不会接受。\r"
                                        "请先在“发设备卡”中输入小区标识号，再按“保存数据”。");

int addOwner(const QString& name, const QString& cardNo, const QString& cardId = QString(),
             const QString& loss = QString(), int dongHao = 1, int danYuan = 2)
{
    TuserInfoRec rec = OwnerRecord(name, cardNo, dongHao, danYuan);
    rec.CardID = cardId;
    rec.chLoss = loss;
    return insertOwner(rec);
}

// An owner card on the simulated reader holding the given terminals and expiry.
void ownerCardOnReader(SimCardIssuer& sim, uint32_t serial, std::initializer_list<int> terminals,
                       const char* expiry, bool useExpiry)
{
    TUserCardRec card;
    std::memcpy(card.RegionID, SystemInfo.RegionID, sizeof card.RegionID);
    for (int t : terminals)
        SetTerminal(card.Terminals, t);
    std::memcpy(card.Expiry, expiry, 6);
    card.UseExpiry = useExpiry ? 1 : 0;
    const auto bytes = EncodeUserCard(card);
    sim.addCard(serial);
    sim.setSector(serial, SystemInfo.Sector, SectorState::Formatted,
                  QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
    sim.present(serial);
}

struct Window {
    AttachedProgram a;
    std::unique_ptr<TFormWriteUserCard> w;

    bool start()
    {
        if (!a.startWithTerminals())
            return false;
        return dm->ExecuteSQL(
            QStringLiteral("insert into BuildInfo (DongHao, DanYuan) values (1, 2), (3, 1)"));
    }
    ~Window() { FreeSearchCondition(); }
    void open()
    {
        w = std::make_unique<TFormWriteUserCard>();
        w->show();
    }
    bool answered(QPushButton* button)
    {
        QSignalSpy handled(a.link.get(), &CardIssuerLink::answerHandled);
        button->click();
        return handled.wait(3000) && QTest::qWaitFor([] { return PendingCommand == IdleCommand; }, 1000) &&
               QTest::qWaitFor([] { return !CardDataReady; }, 1000);
    }
    QStringList listed() const
    {
        QStringList out;
        for (int row = 0; row < w->grdOwners->RecordCount(); ++row)
            out << w->grdOwners->Model().FieldAt(row, QStringLiteral("UserName")).toString();
        return out;
    }
    void choose(int row)
    {
        QVERIFY(w->grdOwners->MakeCurrent(row));
        Q_EMIT w->grdOwners->rowChosen(row);
    }
};

} // namespace

class TestWriteUserCard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opening();
    void writeRegistersTheCard();
    void readShowsWhoseCardItIs();
    void bindTakesTheCardAsItIs();
    void answerGoesToTheOwnerItWasFor_data();
    void answerGoesToTheOwnerItWasFor();
    void cardErrors();
    void failuresStayOnTheResultLine();
    void noCommunityNoOwnerCard();
    void searches();
    void treeAndPropertyCard();
    void photoWhateverTheCase();
    void exportAndImport();
    void closingSendsStop();
};

void TestWriteUserCard::opening()
{
    Window t;
    QVERIFY(t.start());
    addOwner(QStringLiteral("first"), QStringLiteral("1"));
    addOwner(QStringLiteral("lost"), QStringLiteral("2"), QString(), QStringLiteral("挂失"));
    addOwner(QStringLiteral("black"), QStringLiteral("3"), QString(), QStringLiteral("黑名单"));
    addOwner(QStringLiteral("newest"), QStringLiteral("4"));
    t.open();
    QCOMPARE(t.listed(), (QStringList{"newest", "black", "first"})); // newest first, the lost left out
    QCOMPARE(t.w->lblCount->text(), QStringLiteral("3"));
    QCOMPARE(t.w->dtpExpiry->date(), QDate(2026, 1, 1));
    QCOMPARE(t.w->lblSector->text(), QString::number(SystemInfo.Sector));
    QCOMPARE(t.w->lblRegion->text(), QStringLiteral("57302914"));
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("...")); // no owner shown yet
    QCOMPARE(t.w->grid->Count(), 3);
    QCOMPARE(t.w->lblResult->text(), QStringLiteral("注意：先放好卡，再进行读写"));
    t.choose(2);
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("first"));
    QCOMPARE(t.w->lblDongHao->text() + t.w->lblDanYuan->text() + t.w->lblFangHao->text(),
             QStringLiteral("120101"));
}

void TestWriteUserCard::writeRegistersTheCard()
{
    Window t;
    QVERIFY(t.start());
    const uint32_t serial = t.a.f.formattedCardOnReader(0x80000007u, SystemInfo.Sector);
    const QString serialText = PadNumber(int32_t(serial), 10);
    const int holder = addOwner(QStringLiteral("holder"), QStringLiteral("H"), serialText, QString(), 3, 1);
    const int mine = addOwner(QStringLiteral("mine"), QStringLiteral("M"));
    addOwner(QStringLiteral("other"), QStringLiteral("O"), QString(), QString(), 3, 1);
    t.open();
    // Filtered to unit 2 of building 1, then the card written for the owner there.
    QTreeWidgetItem* unit = t.w->tvBuild->Root()->child(0)->child(0);
    t.w->tvBuild->setCurrentItem(unit);
    Q_EMIT t.w->tvBuild->nodeChosen(unit);
    QCOMPARE(t.listed(), QStringList{"mine"});
    t.choose(0);
    t.w->chkUseExpiry->setChecked(true);
    t.w->dtpExpiry->setDate(QDate(2027, 8, 9));
    t.w->grid->SetGranted(1, true);
    QVERIFY(t.answered(t.w->btnWrite));
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{Moved});
    QCOMPARE(ownerField(holder, QStringLiteral("CardID")).toString(), QString());
    QCOMPARE(ownerField(mine, QStringLiteral("CardID")).toString(), serialText);
    QCOMPARE(ownerField(mine, QStringLiteral("chUseExpdate")).toString(), QStringLiteral("是"));
    QCOMPARE(ownerField(mine, QStringLiteral("Expdate")).toString(), QStringLiteral("2027-08-09"));
    QCOMPARE(uint8_t(ownerField(mine, QStringLiteral("VaildTerminal")).toByteArray().at(0)), uint8_t(0x20));
    // The whole list again, on the owner.
    QCOMPARE(t.listed().size(), 3);
    QCOMPARE(t.w->grdOwners->CurrentIdx(), mine);
    QCOMPARE(t.w->lblCardID->text(), serialText);
    QCOMPARE(t.w->lblResult->text(), QStringLiteral("操作完成"));
    QCOMPARE(UserCardRec.Terminals[0], uint8_t(0x20));
    QCOMPARE(QByteArray(UserCardRec.Expiry, 6), QByteArray("270809"));

    // Writing the owner's card again warns the same; the owner keeps it.
    t.a.f.dialogs.clear();
    QVERIFY(t.answered(t.w->btnWrite));
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{Moved});
    QCOMPARE(ownerField(mine, QStringLiteral("CardID")).toString(), serialText);
    // The result line comes back after two seconds.
    QVERIFY(t.w->tmrResult->isActive());
    QCOMPARE(t.w->tmrResult->interval(), 2000);
}

void TestWriteUserCard::readShowsWhoseCardItIs()
{
    Window t;
    QVERIFY(t.start());
    ownerCardOnReader(t.a.f.sim, 9100, {3}, "261231", true);
    t.open();
    addOwner(QStringLiteral("somebody"), QStringLiteral("S"));
    t.w->LoadList();
    t.choose(0);
    // A card nobody holds.
    QVERIFY(t.answered(t.w->btnRead));
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{"注意：此卡未登记！"});
    QCOMPARE(t.w->lblCardID->text(), PadNumber(9100, 10));
    QCOMPARE(t.w->lblUserName->text() + t.w->lblDongHao->text(), QStringLiteral("......"));
    QCOMPARE(t.w->grid->Bitmap()[0], uint8_t(0x10));
    QCOMPARE(t.w->dtpExpiry->date(), QDate(2026, 12, 31));
    QVERIFY(t.w->chkUseExpiry->isChecked());
    QCOMPARE(t.w->lblResult->text(), QStringLiteral("注意：先放好卡，再进行读写")); // unchanged

    // A card of an owner outside the filtered list: the grid stays, its owner is shown.
    const int holder =
        addOwner(QStringLiteral("holder"), QStringLiteral("H"), PadNumber(9100, 10), QString(), 3, 1);
    const int shown = addOwner(QStringLiteral("shown"), QStringLiteral("X"));
    t.w->LoadList(IssuingListOfCard(QStringLiteral("X"))); // the owners of card number X
    t.a.f.dialogs.clear();
    QVERIFY(t.answered(t.w->btnRead));
    QCOMPARE(t.w->grdOwners->CurrentIdx(), shown);
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("shown"));
    // In the full list the grid moves to the card's owner.
    t.w->LoadList();
    QVERIFY(t.answered(t.w->btnRead));
    QCOMPARE(t.w->grdOwners->CurrentIdx(), holder);
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("holder"));
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
}

void TestWriteUserCard::bindTakesTheCardAsItIs()
{
    Window t;
    QVERIFY(t.start());
    ownerCardOnReader(t.a.f.sim, 9200, {1, 2}, "280315", true);
    const QByteArray before = t.a.f.sim.sectorRecord(9200, SystemInfo.Sector);
    const int idx = addOwner(QStringLiteral("binder"), QStringLiteral("B"));
    t.open();
    t.choose(0);
    QVERIFY(t.answered(t.w->btnBind));
    QCOMPARE(ownerField(idx, QStringLiteral("CardID")).toString(), PadNumber(9200, 10));
    QCOMPARE(ownerField(idx, QStringLiteral("Expdate")).toString(), QStringLiteral("2028-03-15"));
    QCOMPARE(ownerField(idx, QStringLiteral("chUseExpdate")).toString(), QStringLiteral("是"));
    QCOMPARE(uint8_t(ownerField(idx, QStringLiteral("VaildTerminal")).toByteArray().at(0)), uint8_t(0x60));
    QCOMPARE(t.w->grid->Bitmap()[0], uint8_t(0x60));
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
    // The card itself was not written.
    QCOMPARE(t.a.f.sim.sectorRecord(9200, SystemInfo.Sector), before);
}

void TestWriteUserCard::answerGoesToTheOwnerItWasFor_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("写用户卡") << "write";
    QTest::newRow("绑定IC卡") << "bind";
}

// The operator writes (or binds) a card for 甲 and clicks 乙 before the card issuer has answered:
// the card, its expiry and its terminals are registered to 甲, and the window shows 甲.
void TestWriteUserCard::answerGoesToTheOwnerItWasFor()
{
    QFETCH(QString, button);
    Window t;
    QVERIFY(t.start());
    const bool write = button == QStringLiteral("write");
    const uint32_t serial = 9250;
    if (write)
        t.a.f.formattedCardOnReader(serial, SystemInfo.Sector);
    else
        ownerCardOnReader(t.a.f.sim, serial, {1, 2}, "270809", true);
    const int a = addOwner(QStringLiteral("甲"), QStringLiteral("A"));
    const int b = addOwner(QStringLiteral("乙"), QStringLiteral("B"));
    t.open();
    QCOMPARE(t.listed(), (QStringList{"乙", "甲"}));
    t.choose(1);
    t.w->chkUseExpiry->setChecked(true);
    t.w->dtpExpiry->setDate(QDate(2027, 8, 9));
    t.w->grid->SetGranted(0, true);
    t.w->grid->SetGranted(1, true);

    t.a.f.sim.setAnswerDelay(400);
    QSignalSpy handled(t.a.link.get(), &CardIssuerLink::answerHandled);
    (write ? t.w->btnWrite : t.w->btnBind)->click();
    t.choose(0);
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("乙"));
    QVERIFY(handled.wait(3000));
    QVERIFY(QTest::qWaitFor([] { return PendingCommand == IdleCommand && !CardDataReady; }, 1000));

    QCOMPARE(ownerField(a, QStringLiteral("CardID")).toString(), PadNumber(serial, 10));
    QCOMPARE(ownerField(a, QStringLiteral("Expdate")).toString(), QStringLiteral("2027-08-09"));
    QCOMPARE(ownerField(a, QStringLiteral("chUseExpdate")).toString(), QStringLiteral("是"));
    QCOMPARE(uint8_t(ownerField(a, QStringLiteral("VaildTerminal")).toByteArray().at(0)), uint8_t(0x60));
    QCOMPARE(ownerField(b, QStringLiteral("CardID")).toString(), QString());
    QCOMPARE(ownerField(b, QStringLiteral("Expdate")).toString(), QStringLiteral("2025-06-30"));
    QCOMPARE(ownerField(b, QStringLiteral("chUseExpdate")).toString(), QStringLiteral("否"));
    QCOMPARE(uint8_t(ownerField(b, QStringLiteral("VaildTerminal")).toByteArray().at(0)), uint8_t(0));
    QCOMPARE(t.w->grdOwners->CurrentIdx(), a);
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("甲"));
    QCOMPARE(t.w->lblCardID->text(), PadNumber(serial, 10));
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
}

void TestWriteUserCard::cardErrors()
{
    Window t;
    QVERIFY(t.start());
    t.a.f.formattedCardOnReader(9300, SystemInfo.Sector);
    const int idx = addOwner(QStringLiteral("x"), QStringLiteral("X"));
    t.open();
    t.choose(0);
    t.a.f.sim.setFault(SimFault::WriteError, 1);
    QVERIFY(t.answered(t.w->btnWrite));
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("..."));
    QCOMPARE(t.w->lblResult->text(), QStringLiteral("写卡错误"));
    QCOMPARE(ownerField(idx, QStringLiteral("CardID")).toString(), QString());

    // An empty list writes nothing; without a card issuer nothing is sent.
    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo")));
    t.w->LoadList();
    t.w->btnWrite->click();
    QCOMPARE(int(PendingCommand), 9);
    t.a.f.sim.unplug();
    QTRY_VERIFY(!t.a.link->attached());
    for (QPushButton* b : {t.w->btnWrite, t.w->btnRead, t.w->btnBind})
        b->click();
    QCOMPARE(t.a.f.dialogs.texts(), (QStringList{"请插入发卡器", "请插入发卡器", "请插入发卡器"}));
}

// A success leaves the result line after two seconds; a failure stays until the next card action,
// so that an operator who looked away still sees it.
void TestWriteUserCard::failuresStayOnTheResultLine()
{
    Window t;
    QVERIFY(t.start());
    t.a.f.formattedCardOnReader(9400, SystemInfo.Sector);
    addOwner(QStringLiteral("x"), QStringLiteral("X"));
    t.open();
    t.choose(0);
    t.a.f.sim.setFault(SimFault::WriteError, 1);
    QVERIFY(t.answered(t.w->btnWrite));
    QCOMPARE(t.w->lblResult->text(), QStringLiteral("写卡错误"));
    QVERIFY(!t.w->tmrResult->isActive());

    // A card of another community, read: kept as well.
    const char* const foreign = "11112222";
    std::memcpy(SystemInfo.RegionID, foreign, 8);
    ownerCardOnReader(t.a.f.sim, 9401, {1}, "261231", true);
    std::memcpy(SystemInfo.RegionID, "57302914", 8);
    QVERIFY(t.answered(t.w->btnRead));
    QCOMPARE(t.w->lblResult->text(), QStringLiteral("非本小区IC卡"));
    QVERIFY(!t.w->tmrResult->isActive());

    // The next card action takes it away at once; its success goes after two seconds.
    t.a.f.formattedCardOnReader(9402, SystemInfo.Sector);
    t.a.f.sim.setAnswerDelay(200);
    QSignalSpy handled(t.a.link.get(), &CardIssuerLink::answerHandled);
    t.w->btnWrite->click();
    QCOMPARE(t.w->lblResult->text(), Resting);
    QVERIFY(handled.wait(3000));
    QTRY_COMPARE(t.w->lblResult->text(), QStringLiteral("操作完成"));
    QVERIFY(t.w->tmrResult->isActive());
    QMetaObject::invokeMethod(t.w->tmrResult, "timeout");
    QCOMPARE(t.w->lblResult->text(), Resting);

    // Back from the owner editor, a failure on the line is still there.
    t.a.f.sim.setAnswerDelay(0);
    t.a.f.sim.setFault(SimFault::WriteError, 1);
    QVERIFY(t.answered(t.w->btnWrite));
    WhenModal<TFormAlter>([](TFormAlter* editor) { editor->btnCancel->click(); });
    t.w->btnAddOwner->click();
    QCOMPARE(t.w->lblResult->text(), QStringLiteral("写卡错误"));
    QVERIFY(!t.w->tmrResult->isActive());
}

// Owner cards need the community identifier; reading and binding a card do not.
void TestWriteUserCard::noCommunityNoOwnerCard()
{
    Window t;
    QVERIFY(t.start());
    ownerCardOnReader(t.a.f.sim, 9500, {1}, "261231", true);
    const QByteArray before = t.a.f.sim.sectorRecord(9500, SystemInfo.Sector);
    addOwner(QStringLiteral("x"), QStringLiteral("X"));
    std::memset(SystemInfo.RegionID, 0, sizeof SystemInfo.RegionID);
    t.open();
    t.choose(0);
    t.w->btnWrite->click();
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{NoRegion});
    QCOMPARE(int(PendingCommand), 9);
    t.a.f.dialogs.clear();
    for (QPushButton* button : {t.w->btnRead, t.w->btnBind}) {
        button->click();
        QCOMPARE(int(PendingCommand), int(CmdReadOwnerCard));
        PendingCommand = IdleCommand;
    }
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
    QTest::qWait(100);
    QCOMPARE(t.a.f.sim.sectorRecord(9500, SystemInfo.Sector), before);
}

void TestWriteUserCard::searches()
{
    Window t;
    QVERIFY(t.start());
    addOwner(QStringLiteral("王小明"), QStringLiteral("A-1"));
    addOwner(QStringLiteral("小明"), QStringLiteral("A-2"));
    addOwner(QStringLiteral("100%_x"), QStringLiteral("A-3"));
    addOwner(QStringLiteral("100 px"), QStringLiteral("A-4"));
    t.open();
    const auto search = [&](int choice, const QString& text) {
        WhenModal<TFormSearchCondition>([=](TFormSearchCondition* d) {
            (choice == 1 ? d->rb1 : d->rb2)->setChecked(true);
            (choice == 1 ? d->edt1 : d->edt2)->setText(text);
            d->btnOk->click();
        });
        t.w->btnSearch->click();
    };
    search(1, QStringLiteral("A-2"));
    QCOMPARE(t.listed(), QStringList{"小明"});
    QCOMPARE(SearchCondition()->lbl1->text(), QStringLiteral("IC卡编码:"));
    QCOMPARE(SearchCondition()->lbl2->text(), QStringLiteral("用户姓名:"));
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("小明"));
    // Any name containing the text; the owner is shown only for an exact name.
    t.w->lblUserName->setText(QStringLiteral("..."));
    search(2, QStringLiteral("明"));
    QCOMPARE(t.listed(), (QStringList{"小明", "王小明"}));
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("..."));
    search(2, QStringLiteral("%_"));
    QCOMPARE(t.listed(), QStringList{"100%_x"});
    search(1, QStringLiteral("' or '1'='1"));
    QCOMPARE(t.listed(), QStringList{});
    // A card serial typed as the card issuer shows it finds the owner who holds the card, shown
    // with the serial as stored and, beside it, as typed.
    const int holder =
        addOwner(QStringLiteral("持卡人"), QStringLiteral("H-1"), QStringLiteral("-380917942"));
    search(1, QStringLiteral("3914049354"));
    QCOMPARE(t.listed(), QStringList{"持卡人"});
    QCOMPARE(t.w->grdOwners->CurrentIdx(), holder);
    QCOMPARE(t.w->lblUserName->text(), QStringLiteral("持卡人"));
    QCOMPARE(t.w->lblCardID->text(), QStringLiteral("-380917942"));
    QCOMPARE(t.w->lblCardID->toolTip(), QStringLiteral("卡号（无符号）：3914049354"));
    QCOMPARE(t.w->grdOwners->model()->index(0, 6).data(Qt::ToolTipRole).toString(),
             QStringLiteral("卡号（无符号）：3914049354"));
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
}

void TestWriteUserCard::photoWhateverTheCase()
{
    Window t;
    QVERIFY(t.start());
    // A photo folder carried over from a system where ABC.JPG and abc.jpg are one file.
    TuserInfoRec rec = OwnerRecord(QStringLiteral("有相片"), QStringLiteral("P"));
    rec.ExtName = QStringLiteral("ABC.JPG");
    QVERIFY(InsertUserInfo(*dm, rec));
    QDir().mkpath(t.a.f.dir.filePath(QStringLiteral("pic")));
    QImage red(160, 200, QImage::Format_RGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(t.a.f.dir.filePath(QStringLiteral("pic/abc.jpg")), "JPG"));
    t.open();
    t.choose(0);
    const QImage shown = t.w->imgPhoto->pixmap().toImage();
    QVERIFY(!shown.isNull());
    const QColor middle = shown.pixelColor(shown.rect().center());
    QVERIFY2(middle.red() > 200 && middle.green() < 60, qPrintable(middle.name()));
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
}

void TestWriteUserCard::treeAndPropertyCard()
{
    Window t;
    QVERIFY(t.start());
    addOwner(QStringLiteral("a"), QStringLiteral("1"), QString(), QString(), 3, 1);
    addOwner(QStringLiteral("b"), QStringLiteral("2"));
    t.open();
    BuildTreeView& tree = *t.w->tvBuild;
    QTreeWidgetItem* unit = tree.Root()->child(1)->child(0);
    tree.setCurrentItem(unit);
    Q_EMIT tree.nodeChosen(unit);
    QCOMPARE(t.listed(), QStringList{"a"});
    tree.setCurrentItem(tree.Root());
    Q_EMIT tree.nodeChosen(tree.Root());
    QCOMPARE(t.listed().size(), 2);

    t.w->chkUseExpiry->setChecked(true);
    t.w->chkProperty->click();
    QVERIFY(!t.w->chkUseExpiry->isChecked());
    QCOMPARE(t.w->grid->Bitmap()[0], uint8_t(0x70));
    t.w->chkProperty->click();
    QCOMPARE(t.w->grid->Bitmap()[0], uint8_t(0));

    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from BuildInfo")));
    tree.Fill();
    tree.setCurrentItem(tree.Root());
    Q_EMIT tree.nodeChosen(tree.Root());
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{"请输入小区资料"});
}

void TestWriteUserCard::exportAndImport()
{
    Window t;
    QVERIFY(t.start());
    addOwner(QStringLiteral("一号"), QStringLiteral("C1"), QString(), QString(), 3, 2);
    addOwner(QStringLiteral("二号"), QStringLiteral("C2"), QString(), QStringLiteral("挂失"), 3, 2);
    addOwner(QStringLiteral("别处"), QStringLiteral("C3"), QString(), QString(), 1, 1);
    t.open();

    // The owners of unit 2 of building 3, the lost one too, to a file.
    const QString file = t.a.f.dir.filePath(QStringLiteral("对帐.csv"));
    WhenModal<TFormInputDongHao>([](TFormInputDongHao* d) {
        d->edtDongHao->setText(QStringLiteral("3"));
        d->edtDanYuan->setText(QStringLiteral("2"));
        d->btnOk->click();
    });
    t.a.f.dialogs.fileNames = {file};
    t.w->btnExport->click();
    QCOMPARE(t.a.f.dialogs.texts(), QStringList{"操作完成"});
    QVERIFY(!t.w->pnlProgress->isVisible());
    const QStringList lines = GbkToString(ReadFile(file)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(1).contains(QStringLiteral("一号")));
    QVERIFY(lines.at(2).contains(QStringLiteral("二号")));

    // A name edited in the file, then the file read back: the list shows it at once.
    WriteFile(
        file,
        StringToGbk(
            lines.join(QStringLiteral("\r\n")).replace(QStringLiteral("一号"), QStringLiteral("壹号"))));
    t.a.f.dialogs.clear();
    t.a.f.dialogs.fileNames = {file};
    t.a.f.dialogs.answers = {MsgAnswer::Yes};
    t.w->btnImport->click();
    QCOMPARE(t.a.f.dialogs.texts(), (QStringList{"导入数据吗?", "操作完成"}));
    QVERIFY(!t.w->pnlProgress->isVisible());
    QVERIFY(t.listed().contains(QStringLiteral("壹号")));
    QVERIFY(!t.listed().contains(QStringLiteral("一号")));
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo")), QVariantList{3});
    QVERIFY(t.w->tmrAnswer->isActive()); // taking answers again

    // A database that takes no change: the import stops at its first line and says so in one box,
    // not one per line.
    QSqlQuery readOnly(dm->database());
    QVERIFY(readOnly.exec(QStringLiteral("PRAGMA query_only = 1")));
    t.a.f.dialogs.clear();
    t.a.f.dialogs.fileNames = {file};
    t.a.f.dialogs.answers = {MsgAnswer::Yes};
    t.w->btnImport->click();
    const QStringList said = t.a.f.dialogs.texts();
    QCOMPARE(said.size(), 2);
    QVERIFY2(said.last().startsWith(QStringLiteral("导入停止：")) &&
                 said.last().contains(QStringLiteral("只读")) &&
                 said.last().contains(QStringLiteral("从第 2 行起没有导入")),
             qPrintable(said.last()));
    QVERIFY(!t.w->pnlProgress->isVisible());
    QVERIFY(readOnly.exec(QStringLiteral("PRAGMA query_only = 0")));
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo")), QVariantList{3});

    // A closed dialog exports nothing, even after an earlier 确定.
    t.a.f.dialogs.clear();
    WhenModal<TFormInputDongHao>([](TFormInputDongHao* d) { d->close(); });
    t.w->btnExport->click();
    QVERIFY(t.a.f.dialogs.shown.isEmpty());
}

void TestWriteUserCard::closingSendsStop()
{
    Window t;
    QVERIFY(t.start());
    t.open();
    QVERIFY(t.w->tmrAnswer->isActive());
    PendingCommand = CmdReadOwnerCard;
    t.w->close();
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(!t.w->tmrAnswer->isActive());
}

QTEST_MAIN(TestWriteUserCard)
#include "tst_writeusercard.moc"
