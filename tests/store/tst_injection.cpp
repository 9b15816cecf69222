#include "StoreFixture.h"
#include "store/BuildTree.h"
#include "store/OperationError.h"
#include "store/OwnerStatements.h"
#include "store/SqlText.h"
#include "store/TvexDeviceInfo.h"
#include "store/TvexTerminalInfo.h"
#include "store/TvexUserInfo.h"

namespace {

// Every column of every row, as text; the test compares the rows it did not aim at.
QStringList rowsOf(const QString& table, const QString& where)
{
    QStringList out;
    QSqlQuery q(dm->database());
    if (!q.exec(QStringLiteral("select * from %1 where %2 order by idx").arg(table, where)))
        return {q.lastError().text()};
    while (q.next()) {
        QStringList cells;
        for (int i = 0; i < q.record().count(); ++i)
            cells << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

QStringList bystanders()
{
    return rowsOf(QStringLiteral("UserInfo"), QStringLiteral("idx = 1")) +
           rowsOf(QStringLiteral("BuildInfo"), QStringLiteral("idx = 1")) +
           rowsOf(QStringLiteral("TerminalInfo"), QStringLiteral("idx = 1"));
}

TuserInfoRec ownerWith(const QString& text)
{
    TuserInfoRec r;
    r.CardID = text;
    r.CardNo = text;
    r.UserName = text;
    r.BuildName = text;
    r.UserType = text;
    r.FangHao = text;
    r.Sex = text;
    r.Phone = text;
    r.Remark = text;
    r.ExtName = text;
    r.chLoss = text;
    r.chUseExpdate = text;
    r.DongHao = 1;
    r.DanYuan = 1;
    r.ExpDate = QDate(2025, 1, 1);
    return r;
}

} // namespace

class TestInjection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { f.tearDown(); }

    void textsAreStoredAndFoundAsTyped_data();
    void textsAreStoredAndFoundAsTyped();
    void numberTextsAdmitOnlyNumbers_data();
    void numberTextsAdmitOnlyNumbers();

private:
    StoreFixture f;
};

void TestInjection::init()
{
    f.setUp();
    TuserInfoRec other;
    other.UserName = QStringLiteral("bystander");
    other.CardNo = QStringLiteral("0");
    other.CardID = QStringLiteral("0000000000");
    QVERIFY(InsertUserInfo(*dm, other));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("9"), QStringLiteral("9"), QStringLiteral("bystander"));
    TTerminalRec gate;
    gate.TerminalID = QStringLiteral("9");
    gate.TerminalName = QStringLiteral("bystander");
    AddTerminal(gate);
}

void TestInjection::textsAreStoredAndFoundAsTyped_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("quote") << QStringLiteral("O'Brien");
    QTest::newRow("quote, semicolon, statement") << QStringLiteral("x'; delete from UserInfo; --");
    QTest::newRow("always true") << QStringLiteral("' or '1'='1");
    QTest::newRow("concatenated subquery") << QStringLiteral("'||(select count(*) from UserInfo)||'");
    QTest::newRow("parameter marks") << QStringLiteral(":CardNo ? @x $y");
    QTest::newRow("wildcards and other quotes") << QStringLiteral("%_\\\"[`]");
    QTest::newRow("chinese and drop") << QStringLiteral("张'); drop table BuildInfo; --\r\n");
}

void TestInjection::textsAreStoredAndFoundAsTyped()
{
    QFETCH(QString, text);
    const QStringList before = bystanders();

    // Owner records: every text column, written by insert and update, found by every lookup.
    TuserInfoRec r = ownerWith(text);
    QVERIFY(InsertUserInfo(*dm, r));
    const int idx = FindUserIdx(*dm, r);
    QCOMPARE(idx, 2);
    r.idx = idx;
    QVERIFY(UpdateUserInfo(*dm, r));
    QVERIFY(UpdateUserExpiry(*dm, r));
    QVERIFY(SetUserCardID(*dm, idx, text));
    QVERIFY(CardNoExists(*dm, text));
    QCOMPARE(FindUserByCardID(*dm, text), idx);
    TuserInfoRec back;
    QCOMPARE(LoadUserInfoByCardNo(*dm, text, back), 1);
    QCOMPARE(LoadUserInfoByName(*dm, text, back), 1);
    for (const QString* s :
         {&back.CardID, &back.CardNo, &back.UserName, &back.BuildName, &back.UserType, &back.FangHao,
          &back.Sex, &back.Phone, &back.Remark, &back.ExtName, &back.chLoss, &back.chUseExpdate})
        QCOMPARE(*s, text);

    // Statements the windows paste together: texts through SqlQuote.
    QVERIFY(dm->ExecuteSQL(QStringLiteral("update UserInfo set Remark = %1 || Remark where idx = %2")
                               .arg(SqlQuote(text), SqlInteger(QString::number(idx)))));
    DataSet list(*dm, QStringLiteral("list"));
    list.Open(QStringLiteral("select * from UserInfo where 1=1 and UserName=%1 and CardNo=%2 order by "
                             "DongHao,DanYuan")
                  .arg(SqlQuote(text), SqlQuote(text)));
    QCOMPARE(list.RecordCount(), 1);
    QCOMPARE(dm->FieldAsText(list, QStringLiteral("Remark")), text + text);

    // Building nickname and terminal name and remark.
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("2"), QStringLiteral("3"), text);
    QCOMPARE(TvexTerminalInfo::FindBuildUnit(QStringLiteral("2"), QStringLiteral("3")), 2);
    QCOMPARE(valueAt(QStringLiteral("BuildInfo"), 2, QStringLiteral("DanYuanName")), QVariant(text));
    QCOMPARE(FillBuildTree(*dm).Children.at(0).Children.at(0).Text, QStringLiteral("3 - [%1]").arg(text));
    TTerminalRec t;
    t.TerminalID = QStringLiteral("4");
    t.TerminalName = text;
    t.Remark = text;
    AddTerminal(t);
    t.Remark = text + QLatin1Char('!');
    UpdateTerminal(t);
    QCOMPARE(FindTerminalIdx(QStringLiteral("4")), 2);
    QCOMPARE(valueAt(QStringLiteral("TerminalInfo"), 2, QStringLiteral("TerminalName")), QVariant(text));
    QCOMPARE(valueAt(QStringLiteral("TerminalInfo"), 2, QStringLiteral("Remark")),
             QVariant(text + QLatin1Char('!')));

    // Nothing else changed, nothing ran twice, and every table is still there.
    QCOMPARE(bystanders(), before);
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 2);
    QCOMPARE(countRows(QStringLiteral("BuildInfo")), 2);
    QCOMPARE(countRows(QStringLiteral("TerminalInfo")), 2);
    QVERIFY(f.dialogs.shown.isEmpty());

    // And the owner list's own actions still find exactly that row.
    QVERIFY(TvexUserInfo::DeleteRow(idx));
    QCOMPARE(bystanders(), before);
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 1);
}

void TestInjection::numberTextsAdmitOnlyNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("always true") << QStringLiteral("9 or 1=1");
    QTest::newRow("second statement") << QStringLiteral("9; delete from BuildInfo");
    QTest::newRow("comment") << QStringLiteral("9 --");
    QTest::newRow("subquery") << QStringLiteral("(select 9)");
    QTest::newRow("quote") << QStringLiteral("9'");
}

void TestInjection::numberTextsAdmitOnlyNumbers()
{
    QFETCH(QString, text);
    const QStringList before = bystanders();
    QVERIFY_THROWS_EXCEPTION(OperationError, TvexTerminalInfo::AddBuildUnit(text, text, QString()));
    QVERIFY_THROWS_EXCEPTION(OperationError, TvexTerminalInfo::DeleteBuildUnit(text, QStringLiteral("9")));
    QVERIFY_THROWS_EXCEPTION(OperationError, TvexTerminalInfo::FindBuildUnit(QStringLiteral("9"), text));
    TTerminalRec t;
    t.TerminalID = text;
    t.TerminalName = QStringLiteral("changed");
    QVERIFY_THROWS_EXCEPTION(OperationError, AddTerminal(t));
    QVERIFY_THROWS_EXCEPTION(OperationError, UpdateTerminal(t));
    QVERIFY_THROWS_EXCEPTION(OperationError, FindTerminalIdx(text));
    QVERIFY(!DeleteTerminalByID(text));
    // A window's search with a number box: the query fails before it runs.
    QVERIFY(!Guarded([&] {
        DataSet(*dm, QStringLiteral("list"))
            .Open(QStringLiteral("select * from UserInfo where 1=1 and DongHao=") + SqlInteger(text));
    }));
    QCOMPARE(f.dialogs.shown.size(), 2);
    QCOMPARE(bystanders(), before);
    QCOMPARE(countRows(QStringLiteral("UserInfo")) + countRows(QStringLiteral("BuildInfo")) +
                 countRows(QStringLiteral("TerminalInfo")),
             3);
}

QTEST_GUILESS_MAIN(TestInjection)
#include "tst_injection.moc"
