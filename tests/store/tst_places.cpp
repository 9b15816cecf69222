#include "StoreFixture.h"
#include "store/BuildTree.h"
#include "store/OperationError.h"
#include "store/TvexDeviceInfo.h"
#include "store/TvexTerminalInfo.h"

#include "cards/Digits.h"

namespace {

// The tree as lines: two blanks of indent per level, then text and image index.
QStringList lines(const BuildTreeNode& node, int depth = 0)
{
    QStringList out{QString(depth * 2, QLatin1Char(' ')) + node.Text + QLatin1Char('#') +
                    QString::number(node.ImageIndex)};
    for (const BuildTreeNode& child : node.Children)
        out << lines(child, depth + 1);
    return out;
}

TTerminalRec terminal(const QString& id, const QString& name, const QString& remark = QString())
{
    TTerminalRec t;
    t.TerminalID = id;
    t.TerminalName = name;
    t.Remark = remark;
    return t;
}

// The building screen's add: delete the pair, then add it.
void addUnit(const QString& dongHao, const QString& danYuan, const QString& name)
{
    TvexTerminalInfo::DeleteBuildUnit(dongHao, danYuan);
    TvexTerminalInfo::AddBuildUnit(dongHao, danYuan, name);
}

} // namespace

class TestPlaces : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void buildTree();
    void buildUnitsByPair();
    void buildNumbersMustBeNumbers_data();
    void buildNumbersMustBeNumbers();
    void buildSelection();
    void terminalRows();
    void terminalNumbersMustBeNumbers();
    void terminalSelection();

private:
    StoreFixture f;
};

void TestPlaces::buildTree()
{
    QCOMPARE(lines(FillBuildTree(*dm)), QStringList{QStringLiteral("小区栋号/单元#3")});

    addUnit(QStringLiteral("3"), QStringLiteral("2"), QString());
    addUnit(QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("东单元"));
    addUnit(QStringLiteral("10"), QStringLiteral("1"), QStringLiteral("甲"));
    addUnit(QStringLiteral("03"), QStringLiteral("01"), QStringLiteral("东单元")); // same pair as 3/1
    addUnit(QStringLiteral("2"), QStringLiteral("5"), QStringLiteral("a - b"));
    QCOMPARE(lines(FillBuildTree(*dm)), (QStringList{
                                            QStringLiteral("小区栋号/单元#3"),
                                            QStringLiteral("  2#1"),
                                            QStringLiteral("    5 - [a - b]#2"),
                                            QStringLiteral("  3#1"),
                                            QStringLiteral("    1 - [东单元]#2"),
                                            QStringLiteral("    2 - []#2"),
                                            QStringLiteral("  10#1"),
                                            QStringLiteral("    1 - [甲]#2"),
                                        }));
    // A unit node gives its place back the way the windows read it.
    QCOMPARE(TextBeforeDash(FillBuildTree(*dm).Children[0].Children[0].Text), QStringLiteral("5"));
}

void TestPlaces::buildUnitsByPair()
{
    QCOMPARE(TvexTerminalInfo::FindBuildUnit(QStringLiteral("1"), QStringLiteral("1")), -1);
    addUnit(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("old"));
    addUnit(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("other"));
    addUnit(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("new"));
    QCOMPARE(column(QStringLiteral("select DanYuanName from BuildInfo where DongHao = 1 and DanYuan = 1")),
             QVariantList{QStringLiteral("new")});
    const int idx = TvexTerminalInfo::FindBuildUnit(QStringLiteral(" 1"), QStringLiteral("01"));
    QCOMPARE(idx, 3);
    QCOMPARE(valueAt(QStringLiteral("BuildInfo"), idx, QStringLiteral("DanYuanName")),
             QVariant(QStringLiteral("new")));

    // A second row for a pair (written without the delete) goes with the pair.
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("twin"));
    TvexTerminalInfo::DeleteBuildUnit(QStringLiteral("1"), QStringLiteral("2"));
    QCOMPARE(countRows(QStringLiteral("BuildInfo")), 1);
    QVERIFY(TvexTerminalInfo::DeleteRow(idx));
    QCOMPARE(countRows(QStringLiteral("BuildInfo")), 0);
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestPlaces::buildNumbersMustBeNumbers_data()
{
    QTest::addColumn<QString>("dongHao");
    QTest::addColumn<QString>("danYuan");
    QTest::newRow("letters") << "A"
                             << "1";
    QTest::newRow("empty unit") << "1"
                                << "";
    QTest::newRow("sql after a number") << "1"
                                        << "1 or 1=1";
    QTest::newRow("fraction") << "1.5"
                              << "1";
}

void TestPlaces::buildNumbersMustBeNumbers()
{
    QFETCH(QString, dongHao);
    QFETCH(QString, danYuan);
    addUnit(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("kept"));
    QVERIFY_THROWS_EXCEPTION(OperationError,
                             TvexTerminalInfo::AddBuildUnit(dongHao, danYuan, QStringLiteral("never")));
    QVERIFY_THROWS_EXCEPTION(OperationError, TvexTerminalInfo::DeleteBuildUnit(dongHao, danYuan));
    QVERIFY_THROWS_EXCEPTION(OperationError, TvexTerminalInfo::FindBuildUnit(dongHao, danYuan));
    QCOMPARE(column(QStringLiteral("select DanYuanName from BuildInfo")),
             QVariantList{QStringLiteral("kept")});
    QVERIFY(!Guarded([&] { TvexTerminalInfo::AddBuildUnit(dongHao, danYuan, QString()); }));
    QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("'%1' is not a valid integer value")
                                                .arg(ParseInt32(dongHao) ? danYuan : dongHao)});
}

void TestPlaces::buildSelection()
{
    for (int unit = 1; unit <= 3; ++unit)
        addUnit(QStringLiteral("1"), QString::number(unit), QString());
    QVERIFY(!TvexTerminalInfo::IsSelected(2));
    QVERIFY(!TvexTerminalInfo::IsSelected(99));
    QVERIFY(TvexTerminalInfo::SetSelected(2, TvexTerminalInfo::IsSelected(2) ? 0 : 1));
    QVERIFY(TvexTerminalInfo::IsSelected(2));
    QVERIFY(TvexTerminalInfo::SetSelected(2, TvexTerminalInfo::IsSelected(2) ? 0 : 1));
    QVERIFY(!TvexTerminalInfo::IsSelected(2));
    QVERIFY(TvexTerminalInfo::SelectAll());
    QVERIFY(TvexTerminalInfo::IsSelected(1) && TvexTerminalInfo::IsSelected(3));
    QVERIFY(TvexTerminalInfo::SelectNone());
    QVERIFY(!TvexTerminalInfo::IsSelected(1));
    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("update BuildInfo set selFlag = %1 where idx = 3").arg(yes(-1)))); // old engine's true
    QVERIFY(TvexTerminalInfo::DeleteSelected());
    QCOMPARE(column(QStringLiteral("select DanYuan from BuildInfo order by idx")), (QVariantList{1, 2}));
}

void TestPlaces::terminalRows()
{
    int highest = -1;
    QCOMPARE(GetMaxTerminalID(highest), 0);
    QCOMPARE(highest, 0);
    QCOMPARE(FindTerminalIdx(QStringLiteral("5")), -1);
    QVERIFY(!TerminalExists(5));

    AddTerminal(terminal(QStringLiteral("5"), QStringLiteral("南门"), QStringLiteral("主入口")));
    AddTerminal(terminal(QStringLiteral("12"), QStringLiteral("北门")));
    AddTerminal(terminal(QStringLiteral("7"), QStringLiteral("东门")));
    QCOMPARE(GetMaxTerminalID(highest), 3);
    QCOMPARE(highest, 12);
    QVERIFY(TerminalExists(7));
    QCOMPARE(FindTerminalIdx(QStringLiteral("12")), 2);
    QCOMPARE(column(QStringLiteral("select count(*) from TerminalInfo where selFlag = %1").arg(no())),
             QVariantList{3});

    // Found by number, not by the record's idx.
    TTerminalRec edit = terminal(QStringLiteral("7"), QStringLiteral("东侧门"), QStringLiteral("改"));
    edit.idx = 1;
    UpdateTerminal(edit);
    QCOMPARE(column(QStringLiteral("select TerminalName from TerminalInfo order by idx")),
             (QVariantList{QStringLiteral("南门"), QStringLiteral("北门"), QStringLiteral("东侧门")}));
    UpdateTerminal(
        terminal(QStringLiteral("99"), QStringLiteral("nobody"))); // not registered: nothing changes
    QCOMPARE(column(QStringLiteral("select count(*) from TerminalInfo where TerminalName = 'nobody'")),
             QVariantList{0});

    // Delete by number removes every row carrying it; delete then add leaves exactly one.
    AddTerminal(terminal(QStringLiteral("5"), QStringLiteral("南门2")));
    QVERIFY(DeleteTerminalByID(QStringLiteral("5")));
    AddTerminal(terminal(QStringLiteral("5"), QStringLiteral("南门3")));
    QCOMPARE(column(QStringLiteral("select TerminalName from TerminalInfo where TerminalID = 5")),
             QVariantList{QStringLiteral("南门3")});
    QVERIFY(DeleteTerminal(FindTerminalIdx(QStringLiteral("12"))));
    QCOMPARE(countRows(QStringLiteral("TerminalInfo")), 2);
    QVERIFY(f.dialogs.shown.isEmpty());

    // A row without a number heads the list only when no row has one.
    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from TerminalInfo")));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into TerminalInfo (TerminalName) values ('blank')")));
    QVERIFY_THROWS_EXCEPTION(OperationError, GetMaxTerminalID(highest));
}

void TestPlaces::terminalNumbersMustBeNumbers()
{
    AddTerminal(terminal(QStringLiteral("1"), QStringLiteral("kept")));
    QVERIFY_THROWS_EXCEPTION(OperationError,
                             AddTerminal(terminal(QStringLiteral("x1"), QStringLiteral("never"))));
    QVERIFY_THROWS_EXCEPTION(OperationError,
                             UpdateTerminal(terminal(QStringLiteral("1 or 1=1"), QStringLiteral("all"))));
    QVERIFY_THROWS_EXCEPTION(OperationError, FindTerminalIdx(QStringLiteral("1 or 1=1")));
    QVERIFY(!DeleteTerminalByID(QStringLiteral("1 or 1=1")));
    QCOMPARE(f.dialogs.texts(),
             QStringList{QStringLiteral("执行错误：delete from TerminalInfo where TerminalID = 1 or 1=1")});
    QCOMPARE(column(QStringLiteral("select TerminalName from TerminalInfo")),
             QVariantList{QStringLiteral("kept")});
}

void TestPlaces::terminalSelection()
{
    for (const char* id : {"1", "2", "3"})
        AddTerminal(terminal(QString::fromLatin1(id), QStringLiteral("t")));
    QVERIFY(!IsTerminalSelected(1));
    QVERIFY(!IsTerminalSelected(42));
    QVERIFY(SetTerminalSelected(1, IsTerminalSelected(1) ? 0 : 1));
    QVERIFY(IsTerminalSelected(1));
    QVERIFY(SetTerminalSelected(1, IsTerminalSelected(1) ? 0 : 1));
    QVERIFY(!IsTerminalSelected(1));
    QVERIFY(SelectAllTerminals());
    QVERIFY(IsTerminalSelected(2));
    QVERIFY(SelectNoTerminals());
    QVERIFY(!IsTerminalSelected(2));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("update TerminalInfo set selFlag = NULL where idx = 3")));
    QVERIFY(!IsTerminalSelected(3));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("update TerminalInfo set selFlag = %1 where idx = 2")
                               .arg(yes(-1)))); // old engine's true
    QVERIFY(DeleteSelectedTerminals());
    QCOMPARE(column(QStringLiteral("select TerminalID from TerminalInfo order by idx")),
             (QVariantList{1, 3}));
}

QTEST_GUILESS_MAIN(TestPlaces)
#include "tst_places.moc"
