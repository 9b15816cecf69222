#include "StoreFixture.h"
#include "store/OperationError.h"
#include "store/OwnerStatements.h"
#include "store/TvexUserInfo.h"

#include "cards/Digits.h"
#include "support/OwnerRecords.h"

namespace {

int insert(const TuserInfoRec& r)
{
    if (!InsertUserInfo(*dm, r))
        return -1;
    return FindUserIdx(*dm, r);
}

} // namespace

class TestOwners : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void insertLoadRoundTrip();
    void loadersFindRows();
    void loadedFlags_data();
    void loadedFlags();
    void nullColumnsLoadAsEmpty();
    void badExpdateEndsTheLoad_data();
    void badExpdateEndsTheLoad();
    void shortBlobsAndBuffers();
    void updatesTouchTheirColumnsOnly();
    void failedWriteReportsTheStatement();
    void cardSerialRegistration();
    void cardHolderAsStored();
    void addCarriesACardOnlyIntoItsOwnPlace();
    void addInItsOwnPlaceKeepsTheRowsState();
    void cardNoAndFindUserIdx();
    void selectionLossAndDeletion();
    void batchOfInserts();

private:
    StoreFixture f;
};

void TestOwners::insertLoadRoundTrip()
{
    TuserInfoRec r =
        OwnerRecord(QStringLiteral("张三"), QStringLiteral("240305140709"), 12, 1, QStringLiteral("0302"));
    r.CardID = PadNumber(305419896, 10);
    r.Phone = QStringLiteral("13800000000");
    r.Remark = QStringLiteral("第一行\r\n第二行");
    r.ExtName = QStringLiteral("zs.jpg");
    r.IsUseExpDate = true;
    r.chUseExpdate = QStringLiteral("是");
    r.BlackCard = true;
    r.IsSelect = QStringLiteral("True"); // whatever the record holds, the insert stores false
    SetTerminal(r.VaildTerminal.data(), 0);
    SetTerminal(r.VaildTerminal.data(), 9);
    SetTerminal(r.VaildTerminal.data(), 255);
    QByteArray terminalBuffer("left over from before, longer than the bitmap");
    r.TerminalStream = &terminalBuffer;

    const int idx = insert(r);
    QCOMPARE(idx, 1);
    QCOMPARE(terminalBuffer.size(), 32); // the bitmap went through the editor's buffer
    QVERIFY(f.dialogs.shown.isEmpty());

    // As stored: terminal 0 is the top bit of the first byte, 255 the low bit of the last; the
    // date is ISO text; yes/no columns are 0 and 1; the mark and the blacklist choice are clear.
    DataSet row(*dm, QStringLiteral("row"));
    row.Open(QStringLiteral("select * from UserInfo"));
    const QByteArray bitmap = row.Field(QStringLiteral("VaildTerminal")).toByteArray();
    QCOMPARE(bitmap.size(), 32);
    QCOMPARE(uint8_t(bitmap[0]), uint8_t(0x80));
    QCOMPARE(uint8_t(bitmap[1]), uint8_t(0x40));
    QCOMPARE(uint8_t(bitmap[31]), uint8_t(0x01));
    QCOMPARE(dm->FieldAsText(row, QStringLiteral("ExpDate")), QStringLiteral("2025-06-30"));
    QCOMPARE(row.Field(QStringLiteral("IsSelect")), QVariant(0));
    QCOMPARE(row.Field(QStringLiteral("selFlag")), QVariant(0));
    QCOMPARE(row.Field(QStringLiteral("BlackCard")), QVariant(1));
    QCOMPARE(row.Field(QStringLiteral("IsUseExpDate")), QVariant(1));
    QCOMPARE(row.Field(QStringLiteral("BuildName")), QVariant(QString(QLatin1String(""))));

    TuserInfoRec back;
    back.idx = 77;
    QByteArray photo("stale");
    QByteArray terminals;
    back.PhotoStream = &photo;
    back.TerminalStream = &terminals;
    QCOMPARE(LoadUserInfoByIdx(*dm, idx, back), 1);
    QCOMPARE(back.idx, 77); // the caller's key stays
    QCOMPARE(back.CardID, QStringLiteral("0305419896"));
    QCOMPARE(back.CardNo, r.CardNo);
    QCOMPARE(back.UserName, r.UserName);
    QCOMPARE(back.DongHao, 12);
    QCOMPARE(back.DanYuan, 1);
    QCOMPARE(back.FangHao, r.FangHao);
    QCOMPARE(back.Sex, r.Sex);
    QCOMPARE(back.UserType, r.UserType);
    QCOMPARE(back.Phone, r.Phone);
    QCOMPARE(back.Remark, r.Remark);
    QCOMPARE(back.ExtName, r.ExtName);
    QCOMPARE(back.ExpDate, QDate(2025, 6, 30));
    QCOMPARE(DateText(back.ExpDate), QStringLiteral("2025/06/30"));
    QVERIFY(back.IsUseExpDate);
    QVERIFY(!back.BlackCard); // from chLoss, not from the stored column
    QCOMPARE(back.IsSelect, QStringLiteral("False"));
    QVERIFY(back.VaildTerminal == r.VaildTerminal);
    QCOMPARE(terminals, bitmap);
    QVERIFY(photo.isEmpty());
}

void TestOwners::loadersFindRows()
{
    TuserInfoRec untouched = OwnerRecord(QStringLiteral("nobody"), QStringLiteral("none"));
    const TuserInfoRec before = untouched;
    QCOMPARE(LoadUserInfoByIdx(*dm, 0, untouched), 0);
    QCOMPARE(LoadUserInfoByCardNo(*dm, QStringLiteral("A1"), untouched), 0);
    QCOMPARE(LoadUserInfoByName(*dm, QStringLiteral("甲"), untouched), 0);
    QCOMPARE(untouched.UserName, before.UserName);
    QCOMPARE(untouched.CardNo, before.CardNo);

    QCOMPARE(insert(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1"))), 1);
    QCOMPARE(insert(OwnerRecord(QStringLiteral("乙"), QStringLiteral("B2"))), 2);
    QCOMPARE(insert(OwnerRecord(QStringLiteral("甲"), QStringLiteral("C3"))), 3);

    TuserInfoRec r;
    QCOMPARE(LoadUserInfoByIdx(*dm, 0, r), 3); // all rows counted, the newest loaded
    QCOMPARE(r.CardNo, QStringLiteral("C3"));
    QCOMPARE(LoadUserInfoByIdx(*dm, -4, r), 3);
    QCOMPARE(LoadUserInfoByIdx(*dm, 2, r), 1);
    QCOMPARE(r.CardNo, QStringLiteral("B2"));
    QCOMPARE(LoadUserInfoByIdx(*dm, 9, r), 0);
    QCOMPARE(r.CardNo, QStringLiteral("B2"));
    QCOMPARE(LoadUserInfoByCardNo(*dm, QStringLiteral("A1"), r), 1);
    QCOMPARE(r.UserName, QStringLiteral("甲"));
    QCOMPARE(LoadUserInfoByCardNo(*dm, QStringLiteral("a1"), r), 1); // letter case makes no other owner
    QCOMPARE(LoadUserInfoByName(*dm, QStringLiteral("甲"), r), 2);

    QVERIFY(TvexUserInfo::DeleteRow(3));
    QCOMPARE(LoadUserInfoByIdx(*dm, 0, r), 2);
    QCOMPARE(r.CardNo, QStringLiteral("B2"));
    QCOMPARE(insert(OwnerRecord(QStringLiteral("丙"), QStringLiteral("D4"))), 4); // keys are never reused
}

void TestOwners::loadedFlags_data()
{
    QTest::addColumn<QString>("chLoss");         // SQL literal
    QTest::addColumn<QString>("chUseExpdate");   // SQL literal
    QTest::addColumn<int>("isUseExpDateColumn"); // what the yes/no column holds
    QTest::addColumn<bool>("blackCard");
    QTest::addColumn<bool>("useExpiry");

    QTest::newRow("reported lost") << "'挂失'"
                                   << "'是'" << 1 << true << true;
    QTest::newRow("on a blacklist card") << "'黑名单'"
                                         << "'是'" << 0 << false << true;
    QTest::newRow("normal") << "''"
                            << "'否'" << 1 << false << false;
    QTest::newRow("null loss state") << "NULL"
                                     << "NULL" << 1 << false << false;
}

void TestOwners::loadedFlags()
{
    QFETCH(QString, chLoss);
    QFETCH(QString, chUseExpdate);
    QFETCH(int, isUseExpDateColumn);
    QFETCH(bool, blackCard);
    QFETCH(bool, useExpiry);
    QVERIFY(
        dm->ExecuteSQL(QStringLiteral("insert into UserInfo (Expdate, chLoss, chUseExpdate, IsUseExpDate, "
                                      "BlackCard) values ('2024-01-01', %1, %2, %3, %4)")
                           .arg(chLoss, chUseExpdate, dm->BoolLiteral(isUseExpDateColumn != 0), yes())));
    TuserInfoRec r;
    QCOMPARE(LoadUserInfoByIdx(*dm, 0, r), 1);
    QCOMPARE(r.BlackCard, blackCard);
    QCOMPARE(r.IsUseExpDate, useExpiry);
}

void TestOwners::nullColumnsLoadAsEmpty()
{
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into UserInfo (Expdate, IsSelect, selFlag) values "
                                          "('2024-02-29', NULL, NULL)")));
    TuserInfoRec r = OwnerRecord(QStringLiteral("x"), QStringLiteral("y"));
    r.VaildTerminal.fill(0xFF);
    QCOMPARE(LoadUserInfoByIdx(*dm, 0, r), 1);
    for (const QString* s : {&r.CardID, &r.CardNo, &r.UserName, &r.BuildName, &r.UserType, &r.FangHao, &r.Sex,
                             &r.Phone, &r.Remark, &r.ExtName, &r.chLoss, &r.chUseExpdate, &r.IsSelect})
        QVERIFY(s->isEmpty());
    QCOMPARE(r.DongHao, 0);
    QCOMPARE(r.DanYuan, 0);
    QCOMPARE(r.ExpDate, QDate(2024, 2, 29));
    QVERIFY(!r.BlackCard);
    QVERIFY(!r.IsUseExpDate);
    QVERIFY(r.VaildTerminal == (std::array<uint8_t, 32>{})); // no bitmap: no terminal permitted
    QVERIFY(!TvexUserInfo::IsSelected(1));                   // a Null mark reads as false
}

void TestOwners::badExpdateEndsTheLoad_data()
{
    QTest::addColumn<QString>("expdate");
    QTest::addColumn<QString>("message");
    QTest::newRow("null") << "NULL"
                          << "Could not convert variant of type (Null) into type (Date)";
    QTest::newRow("not a date") << "'soon'"
                                << "'soon' is not a valid date";
}

void TestOwners::badExpdateEndsTheLoad()
{
    QFETCH(QString, expdate);
    QFETCH(QString, message);
    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("insert into UserInfo (CardNo, Expdate) values ('N1', %1)").arg(expdate)));
    TuserInfoRec r = OwnerRecord(QStringLiteral("before"), QStringLiteral("before"));
    QByteArray photo("kept");
    r.PhotoStream = &photo;
    QVERIFY(!Guarded([&] { LoadUserInfoByCardNo(*dm, QStringLiteral("N1"), r); }));
    QCOMPARE(f.dialogs.texts(), QStringList{message});
    QCOMPARE(r.CardNo, QStringLiteral("before")); // the operation ended; the record is as it was
    QCOMPARE(photo, QByteArray("kept"));
}

void TestOwners::shortBlobsAndBuffers()
{
    QSqlQuery q(dm->database());
    QVERIFY(q.prepare(QStringLiteral("insert into UserInfo (Expdate, VaildTerminal, imgPhoto) values "
                                     "('2024-01-01', :t, :p)")));
    q.bindValue(QStringLiteral(":t"), QByteArray("\xF0\x0F\x01", 3));
    q.bindValue(QStringLiteral(":p"), QByteArray("\xFF\xD8\xFF\xE0 jpeg bytes"));
    QVERIFY(q.exec());

    TuserInfoRec r;
    r.VaildTerminal.fill(0xAA);
    QByteArray photo(100, 'x');
    QByteArray terminals(100, 'y');
    r.PhotoStream = &photo;
    r.TerminalStream = &terminals;
    QCOMPARE(LoadUserInfoByIdx(*dm, 0, r), 1);
    QCOMPARE(photo, QByteArray("\xFF\xD8\xFF\xE0 jpeg bytes")); // the buffer holds the photo alone
    QCOMPARE(terminals, QByteArray("\xF0\x0F\x01", 3));
    std::array<uint8_t, 32> want{};
    want[0] = 0xF0;
    want[1] = 0x0F;
    want[2] = 0x01;
    QVERIFY(r.VaildTerminal == want);

    // The import's records carry no buffers.
    TuserInfoRec imported = OwnerRecord(QStringLiteral("导入"), QStringLiteral("I1"));
    SetTerminal(imported.VaildTerminal.data(), 3);
    QVERIFY(InsertUserInfo(*dm, imported, InsertEntry::Import));
    QCOMPARE(column(QStringLiteral("select %1 from UserInfo where CardNo = 'I1'")
                        .arg(hexOf(QStringLiteral("VaildTerminal")))),
             QVariantList{QStringLiteral("10") + QString(62, QLatin1Char('0'))});
}

void TestOwners::updatesTouchTheirColumnsOnly()
{
    const int a = insert(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    const int b = insert(OwnerRecord(QStringLiteral("乙"), QStringLiteral("B2")));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("update UserInfo set IsSelect = %1, selFlag = %1, BlackCard = %1, "
                                          "chLoss = '挂失', BuildName = '旧楼'")
                               .arg(yes())));
    const QString otherRowSql =
        QStringLiteral("select %1 || Expdate || UserName from UserInfo where idx = %2")
            .arg(quoted(QStringLiteral("VaildTerminal")))
            .arg(b);
    const QVariantList otherRow = column(otherRowSql);

    // The editor's save writes the fields of its form. The loss state and the blacklist marks are
    // not among them: a record loaded before the owner was reported lost (or found again) must not
    // put the state it was loaded with back, so what the record holds there is not written.
    TuserInfoRec r;
    QCOMPARE(LoadUserInfoByIdx(*dm, a, r), 1);
    r.idx = a;
    r.UserName = QStringLiteral("甲改");
    r.chLoss.clear();
    r.BlackCard = false;
    r.BuildName = QStringLiteral("新楼");
    r.ExpDate = QDate(2026, 1, 2);
    SetTerminal(r.VaildTerminal.data(), 17);
    QVERIFY(UpdateUserInfo(*dm, r));
    QCOMPARE(
        column(QStringLiteral("select UserName || '|' || chLoss || '|' || Expdate || '|' || BuildName || "
                              "'|' || cast(IsSelect as integer) || cast(selFlag as integer) || "
                              "cast(BlackCard as integer) from UserInfo where idx = %1")
                   .arg(a)),
        QVariantList{QStringLiteral("甲改|挂失|2026-01-02|旧楼|111")});

    r.ExpDate = QDate(2027, 3, 4);
    r.chUseExpdate = QStringLiteral("是");
    r.IsUseExpDate = true;
    r.UserName = QStringLiteral("ignored");
    QVERIFY(UpdateUserExpiry(*dm, r));
    SetTerminal(r.VaildTerminal.data(), 200);
    QVERIFY(UpdateUserTerminals(*dm, r));
    TuserInfoRec back;
    QCOMPARE(LoadUserInfoByIdx(*dm, a, back), 1);
    QCOMPARE(back.UserName, QStringLiteral("甲改"));
    QCOMPARE(back.ExpDate, QDate(2027, 3, 4));
    QVERIFY(back.IsUseExpDate);
    QVERIFY(TestTerminal(back.VaildTerminal.data(), 17));
    QVERIFY(TestTerminal(back.VaildTerminal.data(), 200));
    QCOMPARE(column(otherRowSql), otherRow);
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestOwners::failedWriteReportsTheStatement()
{
    const int a = insert(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    refuse(QStringLiteral("frozen"), QStringLiteral("before update"), QStringLiteral("UserInfo"), QString(),
           QStringLiteral("frozen"));
    refuse(QStringLiteral("closed"), QStringLiteral("before insert"), QStringLiteral("UserInfo"), QString(),
           QStringLiteral("closed"));
    TuserInfoRec r = OwnerRecord(QStringLiteral("乙"), QStringLiteral("B2"));
    r.idx = a;
    QVERIFY(!InsertUserInfo(*dm, r));
    QVERIFY(!UpdateUserInfo(*dm, r));
    QVERIFY(!UpdateUserExpiry(*dm, r));
    QVERIFY(!UpdateUserTerminals(*dm, r));
    QVERIFY(!SetUserCardID(*dm, a, QStringLiteral("0000000001")));
    const QStringList texts = f.dialogs.texts();
    QCOMPARE(texts.size(), 5);
    QVERIFY(texts[0].startsWith(QStringLiteral("执行错误：insert into UserInfo (CardID,CardNo,")));
    QVERIFY(texts[1].startsWith(QStringLiteral("执行错误：update UserInfo set CardNo = :CardNo,")));
    QVERIFY(texts[1].endsWith(QStringLiteral(" where idx = %1").arg(a)));
    QCOMPARE(
        texts[3],
        QStringLiteral("执行错误：update UserInfo set VaildTerminal = :VaildTerminal where idx = %1").arg(a));
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 1);
    QCOMPARE(column(QStringLiteral("select UserName || CardID from UserInfo")),
             QVariantList{QStringLiteral("甲")});
}

void TestOwners::cardSerialRegistration()
{
    const int a = insert(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    const int b = insert(OwnerRecord(QStringLiteral("乙"), QStringLiteral("B2")));
    const int c = insert(OwnerRecord(QStringLiteral("丙"), QStringLiteral("C3")));
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo where CardID = ''")), QVariantList{3});
    const QString serial = PadNumber(4660, 10);
    QCOMPARE(FindUserByCardID(*dm, serial), -1);

    // A serial stays in one row: the windows clear it from its holder before storing it.
    QVERIFY(SetUserCardID(*dm, a, serial));
    QCOMPARE(FindUserByCardID(*dm, serial), a);
    const int holder = FindUserByCardID(*dm, serial);
    QVERIFY(holder > 0);
    QVERIFY(ClearUserCardID(*dm, holder));
    QVERIFY(SetUserCardID(*dm, b, serial));
    QCOMPARE(column(QStringLiteral("select idx from UserInfo where CardID = '%1'").arg(serial)),
             QVariantList{b});
    QCOMPARE(FindUserByCardID(*dm, serial), b);
    QCOMPARE(FindCardHolder(*dm, serial)->UserName,
             QStringLiteral("乙")); // the row stays readable

    // Two holders (written by someone else): the first row found.
    QVERIFY(SetUserCardID(*dm, c, serial));
    QCOMPARE(FindUserByCardID(*dm, serial), b);

    QVERIFY(SetUserCardID(*dm, 999, QStringLiteral("0000000009"))); // no such row: nothing changes
    QCOMPARE(FindUserByCardID(*dm, QStringLiteral("0000000009")), -1);
    QVERIFY(f.dialogs.shown.isEmpty());
}

// The owner editor adds owners one after another with one record: a card serial registered to the
// row it added goes into no other row.
void TestOwners::cardHolderAsStored()
{
    const QString serial = PadNumber(4660, 10);
    QVERIFY(!FindCardHolder(*dm, serial));
    TuserInfoRec r = OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1"), 7, 2, QStringLiteral("0303"));
    r.Sex = QStringLiteral("女");
    r.Phone = QStringLiteral("13800000000");
    r.Remark = QStringLiteral("第一行\r\n第二行");
    r.IsUseExpDate = true;
    r.chUseExpdate = QStringLiteral("是");
    r.ExpDate = QDate(2026, 12, 31);
    const int a = insert(r);
    QVERIFY(SetUserCardID(*dm, a, serial));
    std::optional<CardHolder> h = FindCardHolder(*dm, serial);
    QVERIFY(h);
    QCOMPARE(h->idx, a);
    QCOMPARE(
        (QStringList{h->CardNo, h->DongHao, h->DanYuan, h->FangHao, h->UserName, h->Sex, h->Phone,
                     h->Remark}),
        (QStringList{QStringLiteral("A1"), QStringLiteral("7"), QStringLiteral("2"), QStringLiteral("0303"),
                     QStringLiteral("甲"), QStringLiteral("女"), r.Phone, r.Remark}));
    QVERIFY(h->IsUseExpDate);
    QCOMPARE(h->ExpDate.value_or(QDate()), QDate(2026, 12, 31));

    // Null columns: empty texts, the expiry neither set nor in force.
    QVERIFY(dm->ExecuteSQL(QStringLiteral("update UserInfo set DongHao = null, phone = null, Expdate = null, "
                                          "IsUseExpDate = null where idx = :idx"),
                           {{QStringLiteral("idx"), a}}));
    h = FindCardHolder(*dm, serial);
    QVERIFY(h);
    QCOMPARE(h->DongHao + h->Phone, QString());
    QVERIFY(!h->IsUseExpDate);
    QVERIFY(!h->ExpDate);
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestOwners::addCarriesACardOnlyIntoItsOwnPlace()
{
    const QString serial = PadNumber(4660, 10);
    const auto holders = [&] {
        return column(QStringLiteral("select idx from UserInfo where CardID = '%1'").arg(serial));
    };
    // A record without a row of its own is added without a card.
    TuserInfoRec r = OwnerRecord(QStringLiteral("张三"), QStringLiteral("C001"));
    r.CardID = serial;
    QVERIFY(AddUserInfo(*dm, r));
    QCOMPARE(r.CardID, QString());
    QCOMPARE(holders(), QVariantList{});
    QVERIFY(RegisterCardID(*dm, r.idx, serial));
    r.CardID = serial;

    // Saved again under its card number: the new row takes its own row's place, and its card.
    const int first = r.idx;
    r.Phone = QStringLiteral("13900000000");
    QVERIFY(AddUserInfo(*dm, r));
    QVERIFY(r.idx != first);
    QCOMPARE(r.CardID, serial);
    QCOMPARE(holders(), QVariantList{r.idx});

    // Under another card number it is another owner, who gets no card.
    TuserInfoRec other = r;
    other.CardNo = QStringLiteral("C002");
    QVERIFY(AddUserInfo(*dm, other));
    QCOMPARE(other.CardID, QString());
    QCOMPARE(holders(), QVariantList{r.idx});

    // Taking the place of a row that is not its own: the card goes with the row it was in.
    other.CardID = serial;
    other.CardNo = QStringLiteral("C001");
    QVERIFY(AddUserInfo(*dm, other));
    QCOMPARE(other.CardID, QString());
    QCOMPARE(holders(), QVariantList{});
    QVERIFY(f.dialogs.shown.isEmpty());
}

// Saved again in add mode in place of its own row, an owner keeps what the row holds beyond the
// editor's form, as it stands at that moment: the loss state and the blacklist marks set since the
// first save, the list's mark, the photo bytes. A new owner in another owner's place keeps nothing.
void TestOwners::addInItsOwnPlaceKeepsTheRowsState()
{
    TuserInfoRec r = OwnerRecord(QStringLiteral("张三"), QStringLiteral("C001"));
    QVERIFY(AddUserInfo(*dm, r));
    QSqlQuery q(dm->database());
    QVERIFY(q.prepare(QStringLiteral("update UserInfo set chLoss = '挂失', IsSelect = %1, selFlag = %1, "
                                     "BlackCard = %1, BuildName = '旧楼', imgPhoto = :p where idx = %2")
                          .arg(yes())
                          .arg(r.idx)));
    q.bindValue(QStringLiteral(":p"), QByteArray("\xFF\xD8"));
    QVERIFY(q.exec());
    const QString state =
        QStringLiteral(
            "select coalesce(chLoss, '') || '|' || cast(IsSelect as integer) || "
            "cast(selFlag as integer) || cast(BlackCard as integer) || '|' || coalesce(BuildName, '') || "
            "'|' || coalesce(%1, '') || '|' || phone from UserInfo where CardNo = 'C001'")
            .arg(hexOf(QStringLiteral("imgPhoto")));

    const int first = r.idx;
    r.Phone = QStringLiteral("13900000000");
    QVERIFY(AddUserInfo(*dm, r));
    QVERIFY(r.idx != first);
    QCOMPARE(column(state), QVariantList{QStringLiteral("挂失|111|旧楼|FFD8|13900000000")});

    TuserInfoRec other = OwnerRecord(QStringLiteral("李四"), QStringLiteral("C001"));
    QVERIFY(AddUserInfo(*dm, other));
    QCOMPARE(column(state), QVariantList{QStringLiteral("|000|||")});
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestOwners::cardNoAndFindUserIdx()
{
    QVERIFY(!CardNoExists(*dm, QStringLiteral("A1")));
    const int a = insert(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    QVERIFY(CardNoExists(*dm, QStringLiteral("A1")));
    QCOMPARE(FindUserByCardNo(*dm, QStringLiteral("A1")), a); // the editor reads the key right after
    QVERIFY(!CardNoExists(*dm, QStringLiteral("A1 ")));

    // The same owner entered twice (an import may do that): the newest row is the one just made.
    const int again = insert(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    QCOMPARE(again, a + 1);

    // No matching row: an error that ends the operation.
    TuserInfoRec missing = OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1"), 1, 3);
    QVERIFY(!Guarded([&] { FindUserIdx(*dm, missing); }));
    QCOMPARE(f.dialogs.shown.size(), 1);
    QVERIFY(f.dialogs.shown.first().text.contains(QStringLiteral("A1")));
}

void TestOwners::selectionLossAndDeletion()
{
    const int a = insert(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    const int b = insert(OwnerRecord(QStringLiteral("乙"), QStringLiteral("B2")));
    const int c = insert(OwnerRecord(QStringLiteral("丙"), QStringLiteral("C3")));
    QVERIFY(!TvexUserInfo::IsSelected(a));
    QVERIFY(!TvexUserInfo::IsSelected(12345));

    // The double-click toggle.
    for (bool expected : {true, false, true}) {
        QVERIFY(TvexUserInfo::SetSelected(b, TvexUserInfo::IsSelected(b) ? 0 : 1));
        QCOMPARE(TvexUserInfo::IsSelected(b), expected);
    }
    QVERIFY(TvexUserInfo::SelectAll());
    QVERIFY(TvexUserInfo::IsSelected(a) && TvexUserInfo::IsSelected(c));
    // Any non-zero mark counts (files of the old engine hold -1 for true); Null is no mark.
    QVERIFY(dm->ExecuteSQL(QStringLiteral("update UserInfo set selFlag = NULL where idx = %1").arg(c)));
    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("update UserInfo set selFlag = %1 where idx = %2").arg(yes(-1)).arg(a)));
    QVERIFY(TvexUserInfo::IsSelected(a) && !TvexUserInfo::IsSelected(c));
    QVERIFY(TvexUserInfo::SelectNone());
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo where selFlag <> %1").arg(no())),
             QVariantList{0});

    QVERIFY(TvexUserInfo::MarkLost(a));
    QCOMPARE(column(QStringLiteral("select chLoss from UserInfo where idx = %1").arg(a)),
             QVariantList{QStringLiteral("挂失")});
    QVERIFY(TvexUserInfo::UnmarkLost(a));
    QCOMPARE(column(QStringLiteral("select chLoss from UserInfo where idx = %1").arg(a)),
             QVariantList{QString(QLatin1String(""))});

    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("update UserInfo set selFlag = %1 where idx = %2").arg(yes(-1)).arg(a)));
    QVERIFY(TvexUserInfo::SetSelected(c, 1));
    QVERIFY(TvexUserInfo::DeleteSelected());
    QCOMPARE(column(QStringLiteral("select idx from UserInfo")), QVariantList{b});
    QVERIFY(TvexUserInfo::DeleteRow(b));
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 0);
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestOwners::batchOfInserts()
{
    QVERIFY(dm->BeginBatch());
    for (int i = 0; i < 3; ++i)
        QVERIFY(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("批%1").arg(i), QString::number(i)),
                               InsertEntry::Import));
    refuse(QStringLiteral("once"), QStringLiteral("before insert"), QStringLiteral("UserInfo"),
           QStringLiteral("new.CardNo = 'bad'"), QStringLiteral("bad"));
    QVERIFY(
        !InsertUserInfo(*dm, OwnerRecord(QStringLiteral("坏"), QStringLiteral("bad")), InsertEntry::Import));
    QVERIFY(
        InsertUserInfo(*dm, OwnerRecord(QStringLiteral("批3"), QStringLiteral("3")), InsertEntry::Import));
    QVERIFY(dm->CommitBatch());
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 4); // the failed insert alone was undone
    QCOMPARE(f.dialogs.shown.size(), 1);
}

QTEST_GUILESS_MAIN(TestOwners)
#include "tst_owners.moc"
