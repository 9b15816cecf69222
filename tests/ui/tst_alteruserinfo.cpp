#include "UiFixture.h"
#include "cards/Digits.h"
#include "store/OwnerStatements.h"
#include "store/TvexDeviceInfo.h"
#include "support/Files.h"
#include "support/OwnerRecords.h"
#include "support/TestSql.h"
#include "ui/AlterUserInfo.h"
#include "ui/ListScreen.h"
#include "ui/TerminalSel.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <cstring>

namespace {

const QString Done = QStringLiteral("操作结果：卡操作完成");
const QString MovedWarning = QStringLiteral("警告：本卡曾经被登记！\r\n\r\n原登记信息会被取消，请核对");
const QString Idle = QStringLiteral("操作提示：请首先进行门禁资料录入");
const QString NoRegion = QStringLiteral("小区标识号还没有设置，这样写出的卡门禁终端不会接受。\r"
                                        "请先在“发设备卡”中输入小区标识号，再按“保存数据”。");

// An owner stored as holding the card serial (its stored text).
int insertHolder(const QString& name, const QString& cardNo, const QString& serialText)
{
    TuserInfoRec rec = OwnerRecord(name, cardNo);
    rec.CardID = serialText;
    return insertOwner(rec);
}

// The card numbers (卡编号) of the owners that hold the card serial.
QStringList holdersOf(uint32_t serial)
{
    QStringList out;
    const QString sql = QStringLiteral("select CardNo from UserInfo where CardID = '%1' order by idx");
    for (const QVariant& v : column(sql.arg(PadNumber(int32_t(serial), 10))))
        out << v.toString();
    return out;
}

// The program attached to the simulated card issuer, a data module, three terminals (1, 2, 3),
// a building with one unit, and the editor.
struct Editor {
    AttachedProgram a;
    std::unique_ptr<TFormAlter> w;

    bool start()
    {
        if (!a.startWithTerminals())
            return false;
        return dm->ExecuteSQL(
            QStringLiteral("insert into BuildInfo (DongHao, DanYuan, DanYuanName) values (5, 3, '东区')"));
    }
    void open(TFormAlter::Mode mode, int idx = 0)
    {
        w = std::make_unique<TFormAlter>();
        w->SetMode(mode, idx);
        w->show();
    }
    // Presses the button and waits until the answer has been taken over.
    bool answered(QPushButton* button)
    {
        button->click();
        return QTest::qWaitFor([&] { return w->lblHint->text() == Done; }, 3000);
    }
    QDialog* dialog() const { return w.get(); }
    void type(const char* name, const char* cardNo)
    {
        w->edtUserName->setText(QString::fromUtf8(name));
        w->edtCardNo->setText(QString::fromUtf8(cardNo));
    }
    bool hintReads(const QString& text)
    {
        return QTest::qWaitFor([&] { return w->lblHint->text() == text; }, 3000);
    }
    bool hintIsRed() const { return w->lblHint->styleSheet().contains(QStringLiteral("#ff0000")); }
};

} // namespace

class TestAlterUserInfo : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void modes_data();
    void modes();
    void writeWithEveryBoxEmpty();
    void addReplacesTheOwnerWithTheCardNumber();
    void refusedInsertKeepsTheOldOwner();
    void writingMovesTheCard();
    void aSerialStaysInOneRow_data();
    void aSerialStaysInOneRow();
    void savingLeavesTheCardWhereItIs_data();
    void savingLeavesTheCardWhereItIs();
    void failedCardOperationsSaySo();
    void noCommunityNoCard_data();
    void noCommunityNoCard();
    void ownerlessCardBelongsToNoOne();
    void readShowsTheCardsOwner();
    void photoNames_data();
    void photoNames();
    void modifyKeepsTheStoredPhoto();
    void clearStartsANewOwner();
    void storedPhotoWhateverTheCase_data();
    void storedPhotoWhateverTheCase();
    void treeAndPropertyCard();
    void noCardIssuer();
};

void TestAlterUserInfo::modes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("visible"); // quick bar, tree, owner group, save, clear, 使用有效期
    QTest::addColumn<QString>("write");
    QTest::addColumn<QString>("cancel");
    QTest::newRow("add") << int(TFormAlter::Mode::Add) << "增加业主信息"
                         << "111111"
                         << "保存并写卡"
                         << "取消操作";
    QTest::newRow("modify") << int(TFormAlter::Mode::Modify) << "修改业主信息"
                            << "111101"
                            << "保存并写卡"
                            << "取消操作";
    QTest::newRow("details") << int(TFormAlter::Mode::Details) << "查询业主详细信息"
                             << "111001"
                             << "保存并写卡"
                             << "返  回";
    QTest::newRow("ownerless") << int(TFormAlter::Mode::Ownerless) << "无业主发卡"
                               << "000000"
                               << "写授权卡"
                               << "取消操作";
}

void TestAlterUserInfo::modes()
{
    QFETCH(int, mode);
    QFETCH(QString, title);
    QFETCH(QString, visible);
    QFETCH(QString, write);
    QFETCH(QString, cancel);
    Editor e;
    QVERIFY(e.start());
    TuserInfoRec owner =
        OwnerRecord(QStringLiteral("张三"), QStringLiteral("A1"), 5, 3, QStringLiteral("0202"));
    owner.Remark = QStringLiteral("一楼\r\n左手\r\n");
    owner.IsUseExpDate = true;
    owner.chUseExpdate = QStringLiteral("是");
    SetTerminal(owner.VaildTerminal.data(), 2);
    SetTerminal(owner.VaildTerminal.data(), 200); // not registered: not shown
    const int idx = insertOwner(owner);
    OperatorLevel = 0;
    e.open(TFormAlter::Mode(mode), idx);
    TFormAlter& w = *e.w;
    QCOMPARE(w.windowTitle(), title);
    QString shown;
    const QList<QWidget*> parts{w.pnlQuick, w.pnlTree, w.grpOwner, w.btnSave, w.btnClear, w.chkUseExpiry};
    for (QWidget* part : parts)
        shown += part->isVisible() ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(shown, visible);
    QCOMPARE(w.lblExpiry->isVisible(), mode == int(TFormAlter::Mode::Ownerless));
    QCOMPARE(w.btnWrite->text(), write);
    QCOMPARE(w.btnCancel->text(), cancel);
    QCOMPARE(w.btnCancel->accessibleName(), cancel);
    QVERIFY(!w.grpCard->isVisible());
    QVERIFY(!w.cbbCardType->isEnabled()); // level 0
    QCOMPARE(w.grid->Count(), 3);
    QCOMPARE(w.lblHint->text(), QStringLiteral("操作提示：请首先进行门禁资料录入"));
    if (mode == int(TFormAlter::Mode::Modify) || mode == int(TFormAlter::Mode::Details)) {
        QCOMPARE(w.edtUserName->text(), QStringLiteral("张三"));
        QCOMPARE(w.edtDongHao->text() + QLatin1Char('/') + w.edtDanYuan->text() + QLatin1Char('/') +
                     w.edtFangHao->text(),
                 QStringLiteral("5/3/0202"));
        QCOMPARE(w.mmoRemark->toPlainText(), QStringLiteral("一楼\n左手"));
        QVERIFY(w.chkUseExpiry->isChecked());
        QCOMPARE(w.dtpExpiry->date(), QDate(2025, 6, 30));
        QCOMPARE(w.grid->Bitmap()[0], uint8_t(0x20)); // terminal 2 only
        QVERIFY(w.edtDongHao->isReadOnly());
        // Saved unchanged, the row is as it was (the remark's lines too).
        if (w.btnSave->isVisible()) {
            w.btnSave->click();
            QCOMPARE(e.a.f.dialogs.texts(), QStringList{"保存完成"});
            QCOMPARE(ownerField(idx, QStringLiteral("Remark")).toString(), owner.Remark);
            QCOMPARE(ownerCount(), 1);
        }
    } else {
        QCOMPARE(w.edtUserName->text(), QString());
        QCOMPARE(w.dtpExpiry->date(), QDate(2025, 3, 5)); // today and 365 days
        QCOMPARE(w.chkUseExpiry->isChecked(), mode == int(TFormAlter::Mode::Ownerless));
    }
}

void TestAlterUserInfo::writeWithEveryBoxEmpty()
{
    Editor e;
    QVERIFY(e.start());
    const uint32_t serial = e.a.f.formattedCardOnReader(0x90000005u);
    e.open(TFormAlter::Mode::Add);
    e.w->grid->SetGranted(0, true);
    e.w->grid->SetGranted(2, true);
    QVERIFY(e.answered(e.w->btnWrite));
    QCOMPARE(ownerCount(), 1);
    const int idx = e.w->CurrentIdx();
    QVERIFY(idx > 0);
    QCOMPARE(ownerField(idx, QStringLiteral("UserName")).toString(), QStringLiteral("通用卡"));
    QCOMPARE(ownerField(idx, QStringLiteral("CardNo")).toString(), QStringLiteral("240305140007"));
    QCOMPARE(ownerField(idx, QStringLiteral("DongHao")).toInt(), 12);
    QCOMPARE(ownerField(idx, QStringLiteral("DanYuan")).toInt(), 1);
    QCOMPARE(ownerField(idx, QStringLiteral("FangHao")).toString(), QStringLiteral("0101"));
    QCOMPARE(ownerField(idx, QStringLiteral("chUseExpdate")).toString(), QStringLiteral("否"));
    QCOMPARE(ownerField(idx, QStringLiteral("UserType")).toString(), QStringLiteral("用户卡"));
    // A serial with the top bit set is shown with its sign, and registered to the new owner.
    const QString serialText = PadNumber(int32_t(serial), 10);
    QVERIFY(serialText.startsWith(QLatin1Char('-')));
    QCOMPARE(e.w->lblSerial->text(), serialText);
    QCOMPARE(e.w->lblSerial->toolTip(), QStringLiteral("卡号（无符号）：2415919109"));
    QCOMPARE(ownerField(idx, QStringLiteral("CardID")).toString(), serialText);
    const QByteArray card = e.a.f.sim.sectorRecord(serial, 7);
    QCOMPARE(uint8_t(card.at(0)), uint8_t(0)); // an owner card
    QCOMPARE(QByteArray(UserCardRec.Expiry, 6), QByteArray("250305"));
    QCOMPARE(UserCardRec.UseExpiry, uint8_t(0));
    QCOMPARE(UserCardRec.Terminals[0], uint8_t(0x50)); // terminals 1 and 3
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(e.a.f.dialogs.shown.isEmpty());
    // The hint goes back to idle after five seconds.
    QVERIFY(e.w->tmrHint->isActive());
    QCOMPARE(e.w->tmrHint->interval(), 5000);
}

void TestAlterUserInfo::addReplacesTheOwnerWithTheCardNumber()
{
    Editor e;
    QVERIFY(e.start());
    const int old = insertOwner(OwnerRecord(QStringLiteral("旧业主"), QStringLiteral("C-7")));
    const int other = insertOwner(OwnerRecord(QStringLiteral("别人"), QStringLiteral("C-8")));
    e.open(TFormAlter::Mode::Add);
    e.w->edtCardNo->setText(QStringLiteral("C-7"));
    e.w->edtUserName->setText(QStringLiteral("新业主"));
    e.w->btnSave->click();
    QCOMPARE(e.a.f.dialogs.texts(), QStringList{"保存完成"});
    QCOMPARE(ownerCount(), 2);
    QCOMPARE(ownerField(other, QStringLiteral("UserName")).toString(), QStringLiteral("别人"));
    QVERIFY(!ownerField(old, QStringLiteral("UserName")).isValid()); // deleted
    QVERIFY(e.w->CurrentIdx() != old);
    QVERIFY(e.w->CurrentIdx() != other);
    QCOMPARE(ownerField(e.w->CurrentIdx(), QStringLiteral("CardNo")).toString(), QStringLiteral("C-7"));
}

void TestAlterUserInfo::refusedInsertKeepsTheOldOwner()
{
    Editor e;
    QVERIFY(e.start());
    e.a.f.formattedCardOnReader(1234);
    const int old = insertOwner(OwnerRecord(QStringLiteral("旧业主"), QStringLiteral("C-7")));
    QVERIFY(
        dm->ExecuteSQL(QStringLiteral("create trigger refuse before insert on UserInfo "
                                      "when new.UserName = 'refused' begin select raise(abort, 'no'); end")));
    e.open(TFormAlter::Mode::Add);
    for (QPushButton* button : {e.w->btnSave, e.w->btnWrite}) {
        e.a.f.dialogs.clear();
        e.w->edtCardNo->setText(QStringLiteral("C-7"));
        e.w->edtUserName->setText(QStringLiteral("refused"));
        button->click();
        QCOMPARE(e.a.f.dialogs.texts().size(), 1); // the refusal only, no "保存完成"
        QVERIFY(e.a.f.dialogs.texts().first().startsWith(QStringLiteral("执行错误：insert into UserInfo")));
        QCOMPARE(column(QStringLiteral("select idx from UserInfo")), QVariantList{old});
        QCOMPARE(int(PendingCommand), 9); // nothing goes to the card
        QCOMPARE(e.w->CurrentIdx(), 0);
    }
}

void TestAlterUserInfo::writingMovesTheCard()
{
    Editor e;
    QVERIFY(e.start());
    const uint32_t serial = e.a.f.formattedCardOnReader(777);
    const QString serialText = PadNumber(int32_t(serial), 10);
    const int held = insertHolder(QStringLiteral("原持卡人"), QStringLiteral("H"), serialText);
    const int mine = insertOwner(OwnerRecord(QStringLiteral("新持卡人"), QStringLiteral("N")));

    e.open(TFormAlter::Mode::Modify, mine);
    QVERIFY(e.answered(e.w->btnWrite));
    QCOMPARE(e.a.f.dialogs.texts(), QStringList{MovedWarning});
    QCOMPARE(ownerField(held, QStringLiteral("CardID")).toString(), QString());
    QCOMPARE(ownerField(mine, QStringLiteral("CardID")).toString(), serialText);
    QCOMPARE(e.w->edtUserName->text(), QStringLiteral("新持卡人")); // the boxes show the card's owner

    // Rewriting the owner's own card warns the same, and the owner keeps it.
    e.a.f.dialogs.clear();
    e.w->lblHint->clear();
    QVERIFY(e.answered(e.w->btnWrite));
    QCOMPARE(e.a.f.dialogs.texts(), QStringList{MovedWarning});
    QCOMPARE(ownerField(mine, QStringLiteral("CardID")).toString(), serialText);
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo where CardID <> ''")), QVariantList{1});
}

void TestAlterUserInfo::aSerialStaysInOneRow_data()
{
    QTest::addColumn<QString>("next");   // what the operator does once 张三's card was written
    QTest::addColumn<QString>("holder"); // the card number of the one owner who holds it then
    QTest::newRow("清空输入, 李四 added") << "clear, save"
                                          << "C001";
    QTest::newRow("清空输入, 李四's write fails") << "clear, write fails"
                                                  << "C001";
    QTest::newRow("李四 typed over, write fails") << "write fails"
                                                  << "C001";
    QTest::newRow("李四 typed over, no answer") << "write unanswered"
                                                << "C001";
    QTest::newRow("卡编号 changed, saved") << "number changed, save"
                                           << "C001";
    QTest::newRow("the same owner saved again") << "same number, save"
                                                << "C001";
    QTest::newRow("清空输入, then the same 卡编号") << "clear, same number, save" << QString();
    QTest::newRow("张三's answer after 李四 was saved") << "late answer"
                                                        << "C001";
    QTest::newRow("张三 saved again before the answer") << "saved again before the answer"
                                                        << "C001";
}

// The operator issues cards one owner after another in add mode ("业主卡单独发卡"): the serial
// of the card written for 张三 never goes into a second row.
void TestAlterUserInfo::aSerialStaysInOneRow()
{
    QFETCH(QString, next);
    QFETCH(QString, holder);
    Editor e;
    QVERIFY(e.start());
    const uint32_t first = e.a.f.formattedCardOnReader(5001);
    e.open(TFormAlter::Mode::Add);
    e.type("张三", "C001");
    if (next == QStringLiteral("late answer") || next.endsWith(QStringLiteral("before the answer"))) {
        e.a.f.sim.setAnswerDelay(400);
        e.w->btnWrite->click();
        if (next == QStringLiteral("late answer")) {
            e.w->btnClear->click();
            e.type("李四", "C002");
        }
        e.w->btnSave->click();
        QVERIFY(e.hintReads(Done));
    } else {
        QVERIFY(e.answered(e.w->btnWrite));
        QCOMPARE(holdersOf(first), QStringList{"C001"});
        if (next.startsWith(QStringLiteral("clear"))) {
            e.w->btnClear->click();
            QCOMPARE(e.w->lblSerial->text(), QString()); // the next owner has no card yet
        }
        e.a.f.formattedCardOnReader(5002); // the next owner's card
        if (next.contains(QStringLiteral("same number"))) {
            e.type("张三", "C001");
            e.w->edtPhone->setText(QStringLiteral("13900000000"));
        } else if (next.contains(QStringLiteral("number changed"))) {
            e.w->edtCardNo->setText(QStringLiteral("C009"));
        } else {
            e.type("李四", "C002");
        }
        if (next.endsWith(QStringLiteral("save"))) {
            e.w->btnSave->click();
        } else if (next.endsWith(QStringLiteral("write fails"))) {
            e.a.f.sim.setFault(SimFault::WriteError, 1);
            e.w->btnWrite->click();
            QVERIFY(QTest::qWaitFor([] { return PendingCommand == IdleCommand; }, 3000));
        } else {
            e.a.f.sim.setFault(SimFault::NoAnswer, 1);
            e.w->btnWrite->click();
            QTest::qWait(300);
            QCOMPARE(e.w->lblHint->text(), QStringLiteral("等待写卡..."));
        }
    }
    QCOMPARE(holdersOf(first), holder.isEmpty() ? QStringList{} : QStringList{holder});
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo where CardID <> '' group by CardID "
                                   "having count(*) > 1")),
             QVariantList{});
}

void TestAlterUserInfo::savingLeavesTheCardWhereItIs_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("save");
    QTest::newRow("modify, 确认修改") << int(TFormAlter::Mode::Modify) << "save";
    QTest::newRow("details, 保存并写卡 that fails") << int(TFormAlter::Mode::Details) << "write fails";
    QTest::newRow("add, 甲 saved again") << int(TFormAlter::Mode::Add) << "save";
}

// While 甲 is open in the editor, 甲's card goes to 乙 at another desk (or in the owner card
// window): saving 甲 changes 甲's fields and leaves the card with 乙.
void TestAlterUserInfo::savingLeavesTheCardWhereItIs()
{
    QFETCH(int, mode);
    QFETCH(QString, save);
    Editor e;
    QVERIFY(e.start());
    const uint32_t serial = e.a.f.formattedCardOnReader(8101);
    const QString serialText = PadNumber(int32_t(serial), 10);
    const int a = insertHolder(QStringLiteral("甲"), QStringLiteral("A1"), serialText);
    const int b = insertOwner(OwnerRecord(QStringLiteral("乙"), QStringLiteral("B1")));
    e.open(TFormAlter::Mode(mode), a);
    if (mode == int(TFormAlter::Mode::Add)) {
        // 甲 added and the card written for 甲 in this window.
        e.type("甲", "A1");
        QVERIFY(e.answered(e.w->btnWrite));
        QCOMPARE(holdersOf(serial), QStringList{"A1"});
        e.a.f.dialogs.clear();
    }

    {
        Tdm otherDesk(dm->Target());
        QVERIFY(RegisterCardID(otherDesk, b, serialText));
    }
    e.w->edtPhone->setText(QStringLiteral("13900000000"));
    if (save == QStringLiteral("save")) {
        e.w->btnSave->click();
        QCOMPARE(e.a.f.dialogs.texts(), QStringList{"保存完成"});
    } else {
        e.a.f.sim.setFault(SimFault::WriteError, 1);
        e.w->btnWrite->click();
        QVERIFY(QTest::qWaitFor([] { return PendingCommand == IdleCommand; }, 3000));
    }
    QCOMPARE(holdersOf(serial), QStringList{"B1"});
    QCOMPARE(column(QStringLiteral("select phone from UserInfo where CardNo = 'A1'")),
             QVariantList{QStringLiteral("13900000000")});
}

// A card operation that did not succeed says so in the hint line, in red, until the next card
// action; so does a card issuer that went away or did not answer.
void TestAlterUserInfo::failedCardOperationsSaySo()
{
    Editor e;
    QVERIFY(e.start());
    const uint32_t blank = 6001; // not formatted for the system: its keys do not match
    e.a.f.sim.addCard(blank);
    e.a.f.sim.present(blank);
    e.open(TFormAlter::Mode::Add);
    e.type("王五", "W1");
    e.w->btnWrite->click();
    QCOMPARE(e.w->lblHint->text(), QStringLiteral("等待写卡..."));
    QVERIFY(e.hintReads(QStringLiteral("操作结果：密钥错误")));
    QVERIFY(e.hintIsRed());
    QCOMPARE(ownerCount(), 1); // the owner was saved all the same
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(e.a.f.dialogs.shown.isEmpty());

    // The idle timer of a success does not take a later failure off the screen.
    e.a.f.formattedCardOnReader(6002);
    QVERIFY(e.answered(e.w->btnWrite));
    QVERIFY(e.w->tmrHint->isActive());
    e.a.f.sim.setFault(SimFault::ReadError, 1);
    e.w->btnRead->click();
    QVERIFY(e.hintReads(QStringLiteral("操作结果：读卡错误")));
    QVERIFY(!e.w->tmrHint->isActive());
    QVERIFY(e.hintIsRed());

    // No answer: after a while the hint says so; the command stays pending, so a late answer
    // would still be taken over.
    e.a.f.sim.setFault(SimFault::NoAnswer, 1);
    e.w->btnRead->click();
    QCOMPARE(e.w->lblHint->text(), QStringLiteral("等待读卡..."));
    QVERIFY(e.w->tmrNoAnswer->isActive());
    QTest::qWait(300);
    QMetaObject::invokeMethod(e.w->tmrNoAnswer, "timeout");
    QCOMPARE(e.w->lblHint->text(), QStringLiteral("操作结果：发卡器没有应答，请检查发卡器后重新操作"));
    QVERIFY(e.hintIsRed());
    QCOMPARE(int(PendingCommand), 4);

    // The card issuer pulled out while a write waits for its answer.
    e.a.f.sim.setFault(SimFault::NoAnswer, 1);
    e.w->btnWrite->click();
    QCOMPARE(e.w->lblHint->text(), QStringLiteral("等待写卡..."));
    e.a.f.sim.unplug();
    QVERIFY(e.hintReads(QStringLiteral("操作结果：发卡器已拔出，请插入发卡器后重新操作")));
    QVERIFY(e.hintIsRed());
    QCOMPARE(int(PendingCommand), 9);

    // The next card action starts afresh.
    e.w->btnRead->click();
    QCOMPARE(e.a.f.dialogs.texts(), QStringList{"请插入发卡器"});
    QCOMPARE(e.w->lblHint->text(), Idle);
}

void TestAlterUserInfo::noCommunityNoCard_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("add") << int(TFormAlter::Mode::Add);
    QTest::newRow("modify") << int(TFormAlter::Mode::Modify);
    QTest::newRow("details") << int(TFormAlter::Mode::Details);
    QTest::newRow("ownerless") << int(TFormAlter::Mode::Ownerless);
}

// Without the community identifier no owner card is written, and nothing is saved first; reading
// a card stays allowed.
void TestAlterUserInfo::noCommunityNoCard()
{
    QFETCH(int, mode);
    Editor e;
    QVERIFY(e.start());
    e.a.f.formattedCardOnReader(7001);
    std::memset(SystemInfo.RegionID, 0, sizeof SystemInfo.RegionID);
    const int idx = insertOwner(OwnerRecord(QStringLiteral("原名"), QStringLiteral("K")));
    e.open(TFormAlter::Mode(mode), idx);
    e.type("改名", "K");
    e.w->btnWrite->click();
    QCOMPARE(e.a.f.dialogs.texts(), QStringList{NoRegion});
    QCOMPARE(e.a.f.dialogs.shown.first().buttons, MsgButtons::Abort);
    QCOMPARE(ownerCount(), 1);
    QCOMPARE(ownerField(idx, QStringLiteral("UserName")).toString(), QStringLiteral("原名"));
    QCOMPARE(int(PendingCommand), 9);
    QCOMPARE(e.w->lblHint->text(), Idle);
    e.a.f.dialogs.clear();
    e.w->btnRead->click();
    QCOMPARE(int(PendingCommand), 4);
    QVERIFY(e.a.f.dialogs.shown.isEmpty());
}

void TestAlterUserInfo::ownerlessCardBelongsToNoOne()
{
    Editor e;
    QVERIFY(e.start());
    const uint32_t serial = e.a.f.formattedCardOnReader(4242);
    const QString serialText = PadNumber(int32_t(serial), 10);
    const int held = insertHolder(QStringLiteral("持卡人"), QStringLiteral("H"), serialText);
    e.open(TFormAlter::Mode::Ownerless);
    e.w->grid->TickAll();
    QVERIFY(e.answered(e.w->btnWrite));
    QCOMPARE(e.a.f.dialogs.texts(), QStringList{MovedWarning});
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo where CardID <> ''")), QVariantList{0});
    QCOMPARE(ownerField(held, QStringLiteral("UserName")).toString(), QStringLiteral("持卡人"));
    QCOMPARE(ownerCount(), 1); // the database is not otherwise touched
    QVERIFY(e.w->grpCard->isVisible());
    QCOMPARE(e.w->lblCardSerial->text(), serialText);
    QVERIFY(e.w->chkCardUseExpiry->isChecked());
    QCOMPARE(e.w->lblCardExpiry->text(), QStringLiteral("20250305"));
    QCOMPARE(UserCardRec.Terminals[0], uint8_t(0x70));
    // The hint reset hides the panel again.
    QMetaObject::invokeMethod(e.w->tmrHint, "timeout");
    QVERIFY(!e.w->grpCard->isVisible());
    QCOMPARE(e.w->lblHint->text(), QStringLiteral("操作提示：请首先进行门禁资料录入"));
}

void TestAlterUserInfo::readShowsTheCardsOwner()
{
    Editor e;
    QVERIFY(e.start());
    const uint32_t serial = e.a.f.formattedCardOnReader(9001);
    TUserCardRec card;
    std::memcpy(card.RegionID, SystemInfo.RegionID, sizeof card.RegionID);
    SetTerminal(card.Terminals, 3);
    std::memcpy(card.Expiry, "261231", 6);
    const auto bytes = EncodeUserCard(card);
    e.a.f.sim.setSector(serial, SystemInfo.Sector, SectorState::Formatted,
                        QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
    const int edited = insertOwner(OwnerRecord(QStringLiteral("编辑中"), QStringLiteral("E")));
    e.open(TFormAlter::Mode::Modify, edited);
    e.w->cbbSex->setCurrentIndex(1);

    // An unregistered card: the owner boxes are emptied.
    e.w->btnRead->click();
    QCOMPARE(e.w->lblHint->text(), QStringLiteral("等待读卡..."));
    QVERIFY(QTest::qWaitFor([&] { return e.w->lblHint->text() == Done; }, 3000));
    QCOMPARE(e.w->edtUserName->text() + e.w->edtCardNo->text() + e.w->edtDongHao->text(), QString());
    QCOMPARE(e.w->cbbSex->currentText(), QStringLiteral("男"));
    QCOMPARE(e.w->grid->Bitmap()[0], uint8_t(0x10)); // the card's terminals
    QCOMPARE(int(PendingCommand), 9);

    // A registered card: the boxes show its owner; the owner being edited stays the same.
    TuserInfoRec holder =
        OwnerRecord(QStringLiteral("持卡人"), QStringLiteral("H"), 7, 2, QStringLiteral("0303"));
    holder.CardID = PadNumber(int32_t(serial), 10);
    holder.Sex = QStringLiteral("女");
    insertOwner(holder);
    e.w->lblHint->clear();
    QVERIFY(e.answered(e.w->btnRead));
    QCOMPARE(e.w->edtUserName->text(), QStringLiteral("持卡人"));
    QCOMPARE(e.w->edtDongHao->text() + QLatin1Char('/') + e.w->edtFangHao->text(), QStringLiteral("7/0303"));
    QCOMPARE(e.w->cbbSex->currentText(), QStringLiteral("女"));
    QCOMPARE(e.w->CurrentIdx(), edited);
    QVERIFY(e.a.f.dialogs.shown.isEmpty());
    QCOMPARE(int(PendingCommand), 9);
}

void TestAlterUserInfo::photoNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("10 characters") << "abcdef.jpg" << true;
    QTest::newRow("11 characters") << "abcdefg.jpg" << false;
}

void TestAlterUserInfo::photoNames()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    Editor e;
    QVERIFY(e.start());
    QTemporaryDir elsewhere;
    const QString path = elsewhere.filePath(name);
    QVERIFY(QFile::copy(QStringLiteral(ICCARD_SOURCE_DIR "/data/null.jpg"), path));
    e.open(TFormAlter::Mode::Add);
    e.a.f.dialogs.fileNames = {path};
    e.w->btnPhoto->click();
    QCOMPARE(e.w->ChosenPhoto(), accepted ? path : QString());
    QCOMPARE(e.a.f.dialogs.texts(),
             accepted ? QStringList{} : QStringList{"文件名错误：图片文件名太长（请小于7个字符）"});
    e.a.f.dialogs.clear();
    e.w->btnSave->click();
    QCOMPARE(QFile::exists(e.a.f.dir.filePath(QStringLiteral("pic/")) + name), accepted);
    QCOMPARE(ownerField(e.w->CurrentIdx(), QStringLiteral("ExtName")).toString(),
             accepted ? name : QString());

    if (!accepted)
        return;
    // A file that is no picture: refused, the choice stays.
    e.a.f.dialogs.clear();
    QTemporaryDir third;
    WriteFile(third.filePath(name), QByteArray(100, 'x'));
    e.a.f.dialogs.fileNames = {third.filePath(name)};
    e.w->btnPhoto->click();
    QCOMPARE(e.a.f.dialogs.texts(), QStringList{"图像不合要求,请重新加载"});
    QCOMPARE(e.w->ChosenPhoto(), path);

    // A second owner with another photo of the same name: asked before the one there is replaced.
    QTemporaryDir other;
    QImage red(160, 200, QImage::Format_RGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(other.filePath(name), "JPG"));
    e.w->btnClear->click();
    e.type("第二位", "S2");
    e.a.f.dialogs.clear();
    e.a.f.dialogs.fileNames = {other.filePath(name)};
    e.w->btnPhoto->click();
    e.a.f.dialogs.answers = {MsgAnswer::No};
    e.w->btnSave->click();
    QCOMPARE(e.a.f.dialogs.texts(), (QStringList{"客户相片已经存在，覆盖原有相片吗？", "保存完成"}));
    QCOMPARE(ReadFile(e.a.f.dir.filePath(QStringLiteral("pic/")) + name),
             ReadFile(QStringLiteral(ICCARD_SOURCE_DIR "/data/null.jpg")));
    QCOMPARE(ownerField(e.w->CurrentIdx(), QStringLiteral("ExtName")).toString(), name);
}

void TestAlterUserInfo::modifyKeepsTheStoredPhoto()
{
    Editor e;
    QVERIFY(e.start());
    TuserInfoRec owner = OwnerRecord(QStringLiteral("有相片"), QStringLiteral("P"));
    owner.ExtName = QStringLiteral("p1.jpg");
    const int idx = insertOwner(owner);
    QDir().mkpath(e.a.f.dir.filePath(QStringLiteral("pic")));
    QVERIFY(
        QFile::copy(QStringLiteral(ICCARD_SOURCE_DIR "/data/null.jpg"), e.a.f.dir.filePath("pic/p1.jpg")));
    e.open(TFormAlter::Mode::Modify, idx);
    QVERIFY(!e.w->imgPhoto->pixmap().isNull());
    e.w->edtPhone->setText(QStringLiteral("13800000000"));
    e.w->btnSave->click();
    QCOMPARE(e.a.f.dialogs.texts(), QStringList{"保存完成"});
    QCOMPARE(ownerField(idx, QStringLiteral("ExtName")).toString(), QStringLiteral("p1.jpg"));
    QCOMPARE(ownerField(idx, QStringLiteral("Phone")).toString(), QStringLiteral("13800000000"));
}

// In add mode "清空输入" starts the next owner: the photo chosen for the one before is not theirs.
void TestAlterUserInfo::clearStartsANewOwner()
{
    Editor e;
    QVERIFY(e.start());
    QTemporaryDir elsewhere;
    const QString path = elsewhere.filePath(QStringLiteral("zs.jpg"));
    QImage red(160, 200, QImage::Format_RGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(path, "JPG"));
    e.open(TFormAlter::Mode::Add);
    e.type("张三", "C001");
    e.a.f.dialogs.fileNames = {path};
    e.w->btnPhoto->click();
    e.w->btnSave->click();
    const int first = e.w->CurrentIdx();
    QCOMPARE(ownerField(first, QStringLiteral("ExtName")).toString(), QStringLiteral("zs.jpg"));

    e.w->btnClear->click();
    QCOMPARE(e.w->ChosenPhoto(), QString());
    const QImage shown = e.w->imgPhoto->pixmap().toImage(); // the placeholder, not 张三's photo
    QVERIFY(shown.isNull() || shown.pixelColor(shown.rect().center()).green() > 100 ||
            shown.pixelColor(shown.rect().center()).red() < 200);
    e.type("李四", "C002");
    e.w->btnSave->click();
    QCOMPARE(e.a.f.dialogs.texts(), (QStringList{"保存完成", "保存完成"}));
    QVERIFY(e.w->CurrentIdx() != first);
    QCOMPARE(ownerField(e.w->CurrentIdx(), QStringLiteral("ExtName")).toString(), QString());
    QCOMPARE(ownerField(first, QStringLiteral("ExtName")).toString(), QStringLiteral("zs.jpg"));
}

void TestAlterUserInfo::storedPhotoWhateverTheCase_data()
{
    // The photo's name in the owner row, and the name of its file in the photo folder (a folder
    // carried over from a system where the two are one file).
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("file");
    QTest::newRow("as stored") << "p1.jpg"
                               << "p1.jpg";
    QTest::newRow("stored upper, file lower") << "ABC.JPG"
                                              << "abc.jpg";
    QTest::newRow("stored lower, file upper") << "abc.jpg"
                                              << "ABC.JPG";
}

void TestAlterUserInfo::storedPhotoWhateverTheCase()
{
    QFETCH(QString, stored);
    QFETCH(QString, file);
    Editor e;
    QVERIFY(e.start());
    TuserInfoRec owner = OwnerRecord(QStringLiteral("有相片"), QStringLiteral("P"));
    owner.ExtName = stored;
    const int idx = insertOwner(owner);
    QDir().mkpath(e.a.f.dir.filePath(QStringLiteral("pic")));
    QImage red(160, 200, QImage::Format_RGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(e.a.f.dir.filePath(QStringLiteral("pic/")) + file, "JPG"));
    e.open(TFormAlter::Mode::Modify, idx);
    const QImage shown = e.w->imgPhoto->pixmap().toImage();
    QVERIFY(!shown.isNull());
    const QColor middle = shown.pixelColor(shown.rect().center());
    QVERIFY2(middle.red() > 200 && middle.green() < 60, qPrintable(middle.name()));
    QVERIFY(e.a.f.dialogs.shown.isEmpty());
}

void TestAlterUserInfo::treeAndPropertyCard()
{
    Editor e;
    QVERIFY(e.start());
    e.open(TFormAlter::Mode::Add);
    BuildTreeView& tree = *e.w->tvBuild;
    QTreeWidgetItem* unit = tree.Root()->child(0)->child(0);
    QCOMPARE(unit->text(0), QStringLiteral("3 - [东区]"));
    tree.setCurrentItem(unit);
    Q_EMIT tree.nodeChosen(unit);
    QCOMPARE(e.w->edtDongHao->text() + QLatin1Char('/') + e.w->edtDanYuan->text(), QStringLiteral("5/3"));
    tree.setCurrentItem(tree.Root());
    Q_EMIT tree.nodeChosen(tree.Root()); // a node with children: nothing
    QVERIFY(e.a.f.dialogs.shown.isEmpty());

    // 物业卡 ticks every terminal and ends the expiry; cleared, it clears them.
    e.w->chkUseExpiry->setChecked(true);
    e.w->chkProperty->click();
    QCOMPARE(e.w->grid->Bitmap()[0], uint8_t(0x70));
    QVERIFY(!e.w->chkUseExpiry->isChecked());
    e.w->chkProperty->click();
    QCOMPARE(e.w->grid->Bitmap()[0], uint8_t(0));
    e.w->btnSelectAll->click();
    QCOMPARE(e.w->grid->Bitmap()[0], uint8_t(0x70));
    e.w->btnSelectNone->click();
    QCOMPARE(e.w->grid->Bitmap()[0], uint8_t(0));

    // The card number check.
    insertOwner(OwnerRecord(QStringLiteral("x"), QStringLiteral("K1")));
    e.w->edtCardNo->setText(QStringLiteral("K1"));
    e.w->btnCheckNo->click();
    e.w->edtCardNo->setText(QStringLiteral("K1 "));
    e.w->btnCheckNo->click();
    QCOMPARE(e.a.f.dialogs.texts(), (QStringList{"卡编号已被使用，请选择其他", "恭喜，卡编号可以使用"}));

    // The root of an empty tree.
    e.a.f.dialogs.clear();
    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from BuildInfo")));
    tree.Fill();
    tree.setCurrentItem(tree.Root());
    Q_EMIT tree.nodeChosen(tree.Root());
    QCOMPARE(e.a.f.dialogs.texts(), QStringList{"请输入小区资料"});

    // In modify mode the tree fills nothing.
    const int idx = insertOwner(OwnerRecord(QStringLiteral("y"), QStringLiteral("K2"), 8, 8));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into BuildInfo (DongHao, DanYuan) values (5, 3)")));
    e.w->done(0);
    e.open(TFormAlter::Mode::Modify, idx);
    QTreeWidgetItem* node = e.w->tvBuild->Root()->child(0)->child(0);
    e.w->tvBuild->setCurrentItem(node);
    Q_EMIT e.w->tvBuild->nodeChosen(node);
    QCOMPARE(e.w->edtDongHao->text(), QStringLiteral("8"));
}

void TestAlterUserInfo::noCardIssuer()
{
    UiFixture f;
    f.openData();
    TFormAlter w;
    w.SetMode(TFormAlter::Mode::Add);
    w.show();
    for (QPushButton* button : {w.btnWrite, w.btnRead})
        button->click();
    QCOMPARE(f.dialogs.texts(), (QStringList{"请插入发卡器", "请插入发卡器"}));
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo")), QVariantList{0});
    QCOMPARE(w.lblHint->text(), QStringLiteral("操作提示：请首先进行门禁资料录入"));
}

QTEST_MAIN(TestAlterUserInfo)
#include "tst_alteruserinfo.moc"
