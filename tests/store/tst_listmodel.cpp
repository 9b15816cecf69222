#include "StoreFixture.h"
#include "store/DataSet.h"
#include "store/ListModel.h"
#include "store/OperationError.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <map>
#include <memory>

namespace {

const QVariant Null;

// The owners every test starts with: ties in building, unit and room (idx breaks them), Null
// buildings, units and rooms, empty texts beside Null ones, names that differ only in case, one
// serial held by two rows and several owners without a card. Their idx runs from 1 in this order.
struct Owner {
    QVariant dongHao, danYuan, fangHao, name, cardId, chLoss;
};
const Owner Owners[] = {
    {2, 1, "0101", "alice", "0000000011", ""},
    {1, 2, "0201", "Bob", "0000000012", Null},
    {Null, 1, "0101", "carol", "", ""},
    {1, 2, "0201", "bob", "0000000014", "挂失"},
    {1, 1, "0102", "Alice", "", ""},
    {Null, Null, Null, Null, "0000000016", ""},
    {2, 1, "0101", "dave", "0000000017", ""},
    {1, 2, "0201", "Eve", "0000000018", "黑名单"},
    {1, 2, Null, "eve", "0000000019", ""},
    {Null, 1, "0101", "Alice", "0000000020", "挂失"},
    {3, 1, "0301", "frank", "0000000012", ""},
    {1, 1, "0102", "alice", "", Null},
    {2, Null, "0101", "Bob", "0000000023", ""},
    {1, 2, "0201", "bob", "0000000024", ""},
    {1, 1, "", "", "", ""},
};
constexpr int OwnerCount = int(std::size(Owners));

void addOwner(const Owner& o)
{
    // An empty text stays an empty text, not Null.
    auto v = [](const QVariant& value) {
        return value.typeId() == QMetaType::QString ? TextValue(value.toString()) : value;
    };
    QSqlQuery q(dm->database());
    QVERIFY2(
        ExecBound(q,
                  QStringLiteral("insert into UserInfo (DongHao, DanYuan, FangHao, UserName, CardID, chLoss) "
                                 "values (:d, :u, :f, :n, :c, :l)"),
                  {{QStringLiteral("d"), v(o.dongHao)},
                   {QStringLiteral("u"), v(o.danYuan)},
                   {QStringLiteral("f"), v(o.fangHao)},
                   {QStringLiteral("n"), v(o.name)},
                   {QStringLiteral("c"), v(o.cardId)},
                   {QStringLiteral("l"), v(o.chLoss)}}),
        qPrintable(q.lastError().text()));
}

void run(const QString& sql)
{
    QSqlQuery q(dm->database());
    QVERIFY2(q.exec(sql), qPrintable(q.lastError().text() + QStringLiteral(": ") + sql));
}

// The first column of every row the statement gives.
QVariantList rowsOf(const QString& sql, const SqlParams& params = {})
{
    QVariantList out;
    QSqlQuery q(dm->database());
    if (!ExecBound(q, sql, params))
        qWarning().noquote() << "test query failed:" << q.lastError().text() << sql;
    while (q.next())
        out << q.value(0);
    return out;
}

// The idx of every listed row, in the order given as plain text.
QList<int> expectedIdx(const ListQuery& query, const QString& orderBy)
{
    QList<int> out;
    for (const QVariant& v :
         rowsOf(QStringLiteral("select idx from %1 order by %2").arg(query.from, orderBy), query.params))
        out << v.toInt();
    return out;
}

const QList<ListColumn> OwnerColumns = {
    {QStringLiteral("选择"), QStringLiteral("selFlag"), ListColumnKind::Check},
    {QStringLiteral("卡号"), QStringLiteral("CardID")},
    {QStringLiteral("栋  号"), QStringLiteral("DongHao")},
    {QStringLiteral("姓  名"), QStringLiteral("UserName")},
    {QStringLiteral("有效期"), QStringLiteral("ExpDate"), ListColumnKind::Date},
};
const QString OwnerSelect =
    QStringLiteral("idx, selFlag, CardID, DongHao, DanYuan, FangHao, UserName, Expdate");

ListQuery ownerList(const QString& from = QStringLiteral("UserInfo where 1=1"), const SqlParams& params = {})
{
    return {OwnerSelect,
            from,
            params,
            {{QStringLiteral("DongHao")}, {QStringLiteral("DanYuan")}, {QStringLiteral("FangHao")}}};
}

// A model with three rows to a page and two pages kept, so that every walk crosses pages.
std::unique_ptr<ListModel> smallModel(QList<ListColumn> columns = OwnerColumns)
{
    auto model = std::make_unique<ListModel>(*dm, std::move(columns));
    model->SetPageSize(3);
    model->SetPageLimit(2);
    return model;
}

} // namespace

Q_DECLARE_METATYPE(ListQuery)

class TestListModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        f.setUp();
        for (const Owner& o : Owners)
            addOwner(o);
    }
    void cleanup() { f.tearDown(); }

    void positionsAndLocate_data();
    void positionsAndLocate();
    void pagesAreReadOnDemandAndKeptBounded();
    void cellTexts();
    void reopenAfterChanges();
    void engineErrors();
    void statementsUseTheIndexes_data();
    void statementsUseTheIndexes();

private:
    StoreFixture f;
};

void TestListModel::positionsAndLocate_data()
{
    QTest::addColumn<ListQuery>("query");
    QTest::addColumn<QString>("orderBy"); // the same order as plain text, idx last

    QTest::newRow("owner list: building, unit, room") << ownerList() << "DongHao, DanYuan, FangHao, idx";
    QTest::newRow("owner card issuing: newest first, lost cards left out")
        << ListQuery{OwnerSelect,
                     QStringLiteral("UserInfo where ((chLoss <> '挂失') or (chLoss is null))"),
                     {},
                     {{QStringLiteral("idx"), true}}}
        << "idx desc";
    QTest::newRow("descending keys over Nulls") << ListQuery{OwnerSelect,
                                                             QStringLiteral("UserInfo"),
                                                             {},
                                                             {{QStringLiteral("DongHao"), true},
                                                              {QStringLiteral("UserName")},
                                                              {QStringLiteral("FangHao"), true}}}
                                                << "DongHao desc, UserName, FangHao desc, idx";
    QTest::newRow("names in mixed case, Null name")
        << ListQuery{OwnerSelect, QStringLiteral("UserInfo"), {}, {{QStringLiteral("UserName")}}}
        << "UserName, idx";
    QTest::newRow("unit filter with bound values")
        << ownerList(QStringLiteral("UserInfo where 1=1 and DongHao = :DongHao and DanYuan = :DanYuan"),
                     {{QStringLiteral("DongHao"), 1}, {QStringLiteral("DanYuan"), 2}})
        << "DongHao, DanYuan, FangHao, idx";
    QTest::newRow("idx already last, descending")
        << ListQuery{OwnerSelect,
                     QStringLiteral("UserInfo where 1=1"),
                     {},
                     {{QStringLiteral("DanYuan"), true}, {QStringLiteral("Idx"), true}}}
        << "DanYuan desc, idx desc";
    QTest::newRow("nothing listed") << ownerList(QStringLiteral("UserInfo where DongHao = :DongHao"),
                                                 {{QStringLiteral("DongHao"), 99}})
                                    << "idx";
}

void TestListModel::positionsAndLocate()
{
    QFETCH(ListQuery, query);
    QFETCH(QString, orderBy);
    const QList<int> expected = expectedIdx(query, orderBy);
    std::map<int, QString> cardOf;
    for (int i = 0; i < OwnerCount; ++i)
        cardOf[i + 1] = Owners[i].cardId.toString();

    auto model = smallModel();
    QAbstractItemModelTester tester(model.get());
    model->Open(query);
    QCOMPARE(model->RecordCount(), int(expected.size()));
    QCOMPARE(model->rowCount(), int(expected.size()));
    QCOMPARE(model->OrderKeys().last().column.toLower(), QStringLiteral("idx"));
    QCOMPARE(int(std::count_if(model->OrderKeys().begin(), model->OrderKeys().end(),
                               [](const SortKey& k) { return k.column.toLower() == QLatin1String("idx"); })),
             1);

    // Backwards (pages past the middle are read in the reverse order), then forwards.
    for (int row = model->RecordCount() - 1; row >= 0; --row)
        QCOMPARE(model->IdxAt(row), expected[row]);
    for (int row = 0; row < model->RecordCount(); ++row)
        QCOMPARE(model->IdxAt(row), expected[row]);
    QCOMPARE(model->IdxAt(model->RecordCount()), -1);

    // Every owner, listed or not, and a key no row has.
    for (int idx = 1; idx <= OwnerCount + 1; ++idx)
        QCOMPARE(model->LocateIdx(idx), int(expected.indexOf(idx)));
    // Every serial (the first listed holder of one held twice), an empty one, an unknown one.
    QStringList serials{QStringLiteral(""), QStringLiteral("0000000099")};
    for (const auto& [idx, card] : cardOf)
        serials << card;
    for (const QString& serial : serials) {
        const auto first =
            std::find_if(expected.begin(), expected.end(), [&](int idx) { return cardOf[idx] == serial; });
        QCOMPARE(model->LocateCardID(serial), first == expected.end() ? -1 : int(first - expected.begin()));
    }

    QItemSelectionModel selection(model.get());
    for (int row : {int(expected.size()) - 1, 0}) {
        if (row < 0 || row >= int(expected.size()))
            continue;
        QVERIFY(MakeCurrentRow(&selection, model->LocateIdx(expected[row])));
        QCOMPARE(selection.currentIndex().row(), row);
        QCOMPARE(selection.selectedRows().size(), 1);
        QCOMPARE(selection.selectedRows().first().row(), row);
        QCOMPARE(selection.selectedIndexes().size(), OwnerColumns.size());
    }
    QVERIFY(!MakeCurrentRow(&selection, model->LocateIdx(OwnerCount + 1)));
    QVERIFY(!MakeCurrentRow(&selection, int(expected.size())));
}

void TestListModel::pagesAreReadOnDemandAndKeptBounded()
{
    auto model = smallModel();
    QList<SqlParams> pageReads;
    int statements = 0;
    model->SetStatementHook([&](const QString&, const SqlParams& params) {
        ++statements;
        for (const auto& p : params) {
            if (p.first == QLatin1String("list_limit"))
                pageReads << params;
        }
    });
    auto bound = [](const SqlParams& params, const char* name) {
        for (const auto& p : params) {
            if (p.first == QLatin1String(name))
                return p.second.toInt();
        }
        return -1;
    };

    model->Open(ownerList());
    QCOMPARE(statements, 2); // the count and the first page
    QCOMPARE(model->rowCount(), OwnerCount);
    for (int row = 0; row < 3; ++row)
        model->IdxAt(row);
    QCOMPARE(statements, 2);

    // The last page is read from the end: offset 0 in the reverse order.
    model->IdxAt(OwnerCount - 1);
    QCOMPARE(pageReads.size(), 2);
    QCOMPARE(bound(pageReads.last(), "list_limit"), 3);
    QCOMPARE(bound(pageReads.last(), "list_offset"), 0);
    model->IdxAt(OwnerCount - 2);
    QCOMPARE(pageReads.size(), 2);

    // Two pages kept: the first is gone by now, the last page is the most recently used.
    model->IdxAt(4);
    QCOMPARE(pageReads.size(), 3);
    model->IdxAt(OwnerCount - 1);
    QCOMPARE(pageReads.size(), 3);
    model->IdxAt(0);
    QCOMPARE(pageReads.size(), 4);
    model->IdxAt(5);
    QCOMPARE(pageReads.size(), 5);

    for (const SqlParams& read : pageReads)
        QVERIFY(bound(read, "list_limit") <= 3);

    // A smaller page from now on: nothing kept, one row read at a time.
    model->SetPageSize(1);
    model->IdxAt(5);
    QCOMPARE(bound(pageReads.last(), "list_limit"), 1);
}

void TestListModel::cellTexts()
{
    run(QStringLiteral("delete from UserInfo"));
    run(QStringLiteral("insert into UserInfo (idx, selFlag, CardID, DongHao, UserName, Expdate) values "
                       "(1, %1, '0000000011', 3, 'Alice', '2026-12-31'), "
                       "(2, %2, '', 12, null, '2026-01-05 08:30:00'), "
                       "(3, null, null, null, '李四', 'soon'), "
                       "(4, %3, '-380917942', -1, 'bob', null)")
            .arg(yes(), no(), yes(2)));
    auto model = smallModel({
        {QStringLiteral("选择"), QStringLiteral("SELFLAG"), ListColumnKind::Check},
        {QStringLiteral("卡号"), QStringLiteral("cardid"), ListColumnKind::CardSerial},
        {QStringLiteral("栋  号"), QStringLiteral("donghao")},
        {QStringLiteral("姓  名"), QStringLiteral("UserName")},
        {QStringLiteral("有效期"), QStringLiteral("ExpDate"), ListColumnKind::Date},
    });
    QAbstractItemModelTester tester(model.get());
    model->Open({OwnerSelect, QStringLiteral("UserInfo"), {}, {}});

    QCOMPARE(model->columnCount(), 5);
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("卡号"));
    QCOMPARE(model->headerData(4, Qt::Horizontal).toString(), QStringLiteral("有效期"));

    const QStringList texts[] = {
        {"", "0000000011", "3", "Alice", "2026/12/31"},
        {"", "", "12", "", "2026/01/05"},
        {"", "", "", "李四", "soon"},
        {"", "-380917942", "-1", "bob", ""},
    };
    // A card serial shows as stored; beside it, as tool tip and for screen readers, the number the
    // card issuer shows. An owner without a card has none, and no other column has one.
    const QString hints[] = {"卡号（无符号）：11", "", "", "卡号（无符号）：3914049354"};
    const Qt::CheckState checks[] = {Qt::Checked, Qt::Unchecked, Qt::Unchecked, Qt::Checked};
    for (int row = 0; row < 4; ++row) {
        QStringList shown;
        for (int column = 0; column < 5; ++column) {
            const QModelIndex index = model->index(row, column);
            shown << index.data().toString();
            QVERIFY(!(model->flags(index) & Qt::ItemIsEditable));
            QVERIFY(model->flags(index) & Qt::ItemIsSelectable);
            if (column > 0)
                QVERIFY(!index.data(Qt::CheckStateRole).isValid());
        }
        QCOMPARE(shown, texts[row]);
        for (int role : {int(Qt::ToolTipRole), int(Qt::AccessibleDescriptionRole)}) {
            QCOMPARE(model->index(row, 1).data(role).toString(), hints[row]);
            QCOMPARE(model->index(row, 1).data(role).isValid(), !hints[row].isEmpty());
            QVERIFY(!model->index(row, 3).data(role).isValid());
        }
        QVERIFY(!model->index(row, 0).data().isValid());
        QCOMPARE(model->index(row, 0).data(Qt::CheckStateRole).toInt(), int(checks[row]));
    }

    // The raw values, by any spelling of the column.
    QCOMPARE(model->FieldAt(0, QStringLiteral("dongHao")), QVariant(qlonglong(3)));
    QVERIFY(model->FieldAt(2, QStringLiteral("CardID")).isNull());
    QCOMPARE(model->FieldAt(1, QStringLiteral("expdate")).toString(), QStringLiteral("2026-01-05 08:30:00"));
    QVERIFY(!model->FieldAt(0, QStringLiteral("Remark")).isValid()); // not selected
    QVERIFY(!model->FieldAt(4, QStringLiteral("idx")).isValid());
    QCOMPARE(model->IdxAt(3), 4);
}

void TestListModel::reopenAfterChanges()
{
    auto model = smallModel();
    QAbstractItemModelTester tester(model.get());
    model->Open(ownerList());
    const int kept = 2; // building 1, unit 2, room 0201: a tie broken by idx
    const int before = model->LocateIdx(kept);
    QCOMPARE(before,
             int(expectedIdx(ownerList(), QStringLiteral("DongHao, DanYuan, FangHao, idx")).indexOf(kept)));
    model->IdxAt(0);
    model->IdxAt(OwnerCount - 1);

    // Two new owners come before it (a Null building, an earlier room of its unit), one after it
    // (its own place, a later idx); one owner before it and one after it leave.
    addOwner({Null, 5, "0909", "new", "0000000031", ""});
    addOwner({1, 2, "0200", "new", "0000000032", ""});
    addOwner({1, 2, "0201", "new", "0000000033", ""});
    run(QStringLiteral("delete from UserInfo where idx in (5, 13)"));
    model->Reopen();

    const QList<int> expected = expectedIdx(ownerList(), QStringLiteral("DongHao, DanYuan, FangHao, idx"));
    QCOMPARE(model->RecordCount(), OwnerCount + 1);
    // (A Null building sorts first on the file, last on a server.)
    QCOMPARE(int(expected.indexOf(kept)), before + (onServer() ? 0 : 1));
    for (int row = 0; row < expected.size(); ++row)
        QCOMPARE(model->IdxAt(row), expected[row]);
    for (int idx : {kept, 5, OwnerCount + 1, OwnerCount + 2, OwnerCount + 3})
        QCOMPARE(model->LocateIdx(idx), int(expected.indexOf(idx)));
    QCOMPARE(model->LocateCardID(QStringLiteral("0000000033")), int(expected.indexOf(OwnerCount + 3)));

    // Emptied and filled again under the same query.
    run(QStringLiteral("delete from UserInfo"));
    model->Reopen();
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->LocateIdx(kept), -1);
    addOwner(Owners[0]);
    model->Reopen();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->LocateIdx(OwnerCount + 4), 0);
}

void TestListModel::engineErrors()
{
    auto model = smallModel();
    QAbstractItemModelTester tester(model.get());

    // Statements the engine rejects, a grid column the result lacks, a result without idx.
    const ListQuery refused[] = {
        ownerList(QStringLiteral("NoSuchTable where 1=1")),
        {OwnerSelect, QStringLiteral("UserInfo"), {}, {{QStringLiteral("NoSuchColumn")}}},
        {QStringLiteral("idx, CardID"), QStringLiteral("UserInfo"), {}, {}},
        {QStringLiteral("CardID, selFlag, DongHao, UserName, Expdate"), QStringLiteral("UserInfo"), {}, {}},
    };
    for (const ListQuery& query : refused) {
        QVERIFY_THROWS_EXCEPTION(OperationError, model->Open(query));
        QVERIFY(!model->IsOpen());
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(model->IdxAt(0), -1);
        QVERIFY(!model->index(0, 0).isValid());
        QCOMPARE(model->LocateIdx(1), -1);
    }

    model->Open(ownerList());
    QCOMPARE(model->rowCount(), OwnerCount);
    QCOMPARE(model->IdxAt(0),
             expectedIdx(ownerList(), QStringLiteral("DongHao, DanYuan, FangHao, idx")).first());

    // The table goes away under an open list: a page not read yet shows empty and is logged once;
    // finding a row and reopening throw, and reopening leaves the list empty.
    run(QStringLiteral("drop table UserInfo"));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^list rows from 12 not read: .*UserInfo"),
                                            QRegularExpression::CaseInsensitiveOption));
    QVERIFY(!model->index(OwnerCount - 1, 1).data().isValid());
    QCOMPARE(model->IdxAt(OwnerCount - 2), -1);
    QVERIFY(model->index(0, 1).data().isValid()); // the first page is still at hand
    QVERIFY_THROWS_EXCEPTION(OperationError, model->LocateIdx(1));
    QVERIFY_THROWS_EXCEPTION(OperationError, model->LocateCardID(QStringLiteral("0000000011")));
    QVERIFY_THROWS_EXCEPTION(OperationError, model->Reopen());
    QCOMPARE(model->rowCount(), 0);
    QVERIFY(!model->IsOpen());

    model->Close();
    model->Reopen(); // nothing to reopen
    QCOMPARE(model->rowCount(), 0);
}

void TestListModel::statementsUseTheIndexes_data()
{
    QTest::addColumn<ListQuery>("query");
    QTest::addColumn<QString>("pageIndex"); // the index that gives the page order

    QTest::newRow("owner list") << ownerList() << "UserInfo_Place";
    QTest::newRow("owner list, one unit")
        << ownerList(QStringLiteral("UserInfo where 1=1 and DongHao = :DongHao and DanYuan = :DanYuan"),
                     {{QStringLiteral("DongHao"), 1}, {QStringLiteral("DanYuan"), 2}})
        << "UserInfo_Place";
    QTest::newRow("owner card issuing")
        << ListQuery{OwnerSelect,
                     QStringLiteral("UserInfo where ((chLoss <> '挂失') or (chLoss is null))"),
                     {},
                     {{QStringLiteral("idx"), true}}}
        << "";
}

void TestListModel::statementsUseTheIndexes()
{
    SKIP_ON_SERVER();
    QFETCH(ListQuery, query);
    QFETCH(QString, pageIndex);
    auto model = smallModel();
    QList<std::pair<QString, SqlParams>> statements;
    model->SetStatementHook([&](const QString& sql, const SqlParams& params) {
        statements.append({sql, params});
    });
    model->Open(query);
    model->IdxAt(model->RecordCount() - 1);
    QVERIFY(model->LocateIdx(2) >= 0);
    QVERIFY(model->LocateCardID(QStringLiteral("0000000018")) >= 0);
    QCOMPARE(statements.size(), 7); // count, two pages, and two statements for each row found

    for (const auto& [sql, params] : statements) {
        QStringList plan;
        QSqlQuery q(dm->database());
        QVERIFY(ExecBound(q, QStringLiteral("explain query plan ") + sql, params));
        while (q.next())
            plan << q.value(3).toString();
        const QString text = plan.join(QLatin1Char('\n'));
        auto takes = [&](const char* name) {
            return std::any_of(params.begin(), params.end(),
                               [&](const SqlParam& p) { return p.first == QLatin1String(name); });
        };
        if (takes("list_limit")) {
            QVERIFY2(!text.contains(QLatin1String("TEMP B-TREE")),
                     qPrintable(sql + QLatin1Char('\n') + text));
            QVERIFY2(text.contains(pageIndex), qPrintable(sql + QLatin1Char('\n') + text));
        } else if (takes("list_idx") || takes("list_value") || takes("list_v0")) {
            // Finding a row reads no row beyond the ones it counts or looks up.
            for (const QString& line : plan) {
                QVERIFY2(!line.startsWith(QLatin1String("SCAN")) ||
                             line == QLatin1String("SCAN CONSTANT ROW"),
                         qPrintable(sql + QLatin1Char('\n') + text));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestListModel)
#include "tst_listmodel.moc"
