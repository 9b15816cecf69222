#include "store/DataSet.h"
#include "store/OperationError.h"
#include "store/StoreFixture.h"
#include "store/TvexTerminalInfo.h"
#include "store/TvexUserInfo.h"
#include "support/Mouse.h"
#include "ui/ListScreen.h"
#include "ui/Widgets.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QMenu>
#include <QSignalSpy>
#include <memory>

namespace {

const QVariant Null;

// Inserts an owner with the given place, name and mark; returns its idx.
int addOwner(const QVariant& dongHao, const QVariant& danYuan, const QString& fangHao, const QString& name,
             const QVariant& mark = 0)
{
    QSqlQuery q(dm->database());
    if (!ExecBound(q,
                   QStringLiteral("insert into UserInfo (DongHao, DanYuan, FangHao, UserName, selFlag) "
                                  "values (:d, :u, :f, :n, :m)"),
                   {{QStringLiteral("d"), dongHao},
                    {QStringLiteral("u"), danYuan},
                    {QStringLiteral("f"), TextValue(fangHao)},
                    {QStringLiteral("n"), TextValue(name)},
                    {QStringLiteral("m"), mark}})) {
        qWarning().noquote() << "owner not added:" << q.lastError().text();
        return -1;
    }
    return q.lastInsertId().toInt();
}

const QList<ListColumn> OwnerColumns = {
    {QStringLiteral("选择"), QStringLiteral("selFlag"), ListColumnKind::Check},
    {QStringLiteral("栋  号"), QStringLiteral("DongHao")},
    {QStringLiteral("单元号"), QStringLiteral("DanYuan")},
    {QStringLiteral("房 号"), QStringLiteral("FangHao")},
    {QStringLiteral("姓  名"), QStringLiteral("UserName")},
};

ListQuery ownerList()
{
    return {QStringLiteral("idx, selFlag, DongHao, DanYuan, FangHao, UserName"),
            QStringLiteral("UserInfo where 1=1"),
            {},
            {{QStringLiteral("DongHao")}, {QStringLiteral("DanYuan")}, {QStringLiteral("FangHao")}}};
}

// The idx of every row of the grid, top to bottom.
QList<int> listedIdx(const ListGrid& grid)
{
    QList<int> out;
    for (int row = 0; row < grid.RecordCount(); ++row)
        out << grid.Model().IdxAt(row);
    return out;
}

// The tree as lines, two blanks of indent per level, each with its image index.
QStringList treeLines(const QTreeWidgetItem* node, int depth = 0)
{
    QStringList lines{QString(depth * 2, QLatin1Char(' ')) + node->text(0) +
                      QStringLiteral(" (%1)").arg(BuildTreeView::ImageIndex(node))};
    for (int i = 0; i < node->childCount(); ++i)
        lines << treeLines(node->child(i), depth + 1);
    return lines;
}

bool allExpanded(const QTreeWidgetItem* node)
{
    if (node->childCount() > 0 && !node->isExpanded())
        return false;
    for (int i = 0; i < node->childCount(); ++i) {
        if (!allExpanded(node->child(i)))
            return false;
    }
    return true;
}

QTreeWidgetItem* findNode(BuildTreeView& tree, const QString& text)
{
    const QList<QTreeWidgetItem*> found = tree.findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.size() == 1 ? found.first() : nullptr;
}

} // namespace

class TestListScreen : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void doubleClickTogglesThatRow_data();
    void doubleClickTogglesThatRow();
    void toggleErrorsStayInTheGrid();
    void reloadKeepsTheOwnerByIdx();
    void reloadWhenTheOwnerIsGone_data();
    void reloadWhenTheOwnerIsGone();
    void marksShowAsCheckBoxes();
    void countFollowsEveryLoad();
    void popupMenuOnTheRowClicked();
    void rowPickedByClickOrEnter();

    void treeOfBuildings_data();
    void treeOfBuildings();
    void unitNodeHelpers();
    void treeFailureLeavesTheRoot();
    void nodeChosenByTheOperatorOnly();
    void twoThousandUnits();

private:
    // Owners in building, unit and room order (ties in a room broken by idx):
    //   row 0: a  1-1-0101 unmarked      row 3: d  1-1-0102 unmarked
    //   row 1: b  1-1-0101 marked        row 4: c  1-2-0201 marked -1 (the old engine's true)
    //   row 2: e  1-1-0101 mark Null     row 5: f  2-1-0101 unmarked
    QMap<QString, int> m_idx;
    void makeGrid();

    StoreFixture f;
    std::unique_ptr<ListModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<ListGrid> m_grid;
};

void TestListScreen::init()
{
    f.setUp();
    m_idx.clear();
    m_idx[QStringLiteral("a")] = addOwner(1, 1, QStringLiteral("0101"), QStringLiteral("a"));
    m_idx[QStringLiteral("b")] = addOwner(1, 1, QStringLiteral("0101"), QStringLiteral("b"), 1);
    m_idx[QStringLiteral("c")] = addOwner(1, 2, QStringLiteral("0201"), QStringLiteral("c"), -1);
    m_idx[QStringLiteral("d")] = addOwner(1, 1, QStringLiteral("0102"), QStringLiteral("d"));
    m_idx[QStringLiteral("e")] = addOwner(1, 1, QStringLiteral("0101"), QStringLiteral("e"), Null);
    m_idx[QStringLiteral("f")] = addOwner(2, 1, QStringLiteral("0101"), QStringLiteral("f"));
}

void TestListScreen::cleanup()
{
    m_grid.reset();
    m_tester.reset();
    m_model.reset();
    f.tearDown();
}

// A grid over the owners as a window makes it: two rows to a page, so that moving crosses pages,
// and the model checked by the tester throughout.
void TestListScreen::makeGrid()
{
    m_model = std::make_unique<ListModel>(*dm, OwnerColumns);
    m_model->SetPageSize(2);
    m_model->SetPageLimit(4);
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_grid = std::make_unique<ListGrid>(*m_model);
    m_grid->resize(520, 260);
    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    m_grid->Open(ownerList());
    QCOMPARE(listedIdx(*m_grid),
             (QList<int>{m_idx["a"], m_idx["b"], m_idx["e"], m_idx["d"], m_idx["c"], m_idx["f"]}));
}

void TestListScreen::doubleClickTogglesThatRow_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<bool>("markedAfter");

    QTest::newRow("first of three in one room, on its name") << 0 << 4 << "a" << true;
    QTest::newRow("second of the tie, on its check box") << 1 << 0 << "b" << false;
    QTest::newRow("Null mark counts as none") << 2 << 2 << "e" << true;
    QTest::newRow("-1 counts as a mark") << 4 << 1 << "c" << false;
    QTest::newRow("last row, on the second page") << 5 << 3 << "f" << true;
}

void TestListScreen::doubleClickTogglesThatRow()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, owner);
    QFETCH(bool, markedAfter);
    makeGrid();

    // The window's toggle: flip the mark and reload on the row.
    QList<int> toggled;
    m_grid->SetToggle([&](int idx) {
        toggled << idx;
        QVERIFY(TvexUserInfo::SetSelected(idx, TvexUserInfo::IsSelected(idx) ? 0 : 1));
        m_grid->Reload(idx);
    });
    const QList<int> before = listedIdx(*m_grid);
    const QRect cell = m_grid->visualRect(m_model->index(row, column));
    doubleClick(*m_grid, cell.center());

    QCOMPARE(toggled, QList<int>{m_idx[owner]});
    QCOMPARE(TvexUserInfo::IsSelected(m_idx[owner]), markedAfter);
    QCOMPARE(m_model->index(row, 0).data(Qt::CheckStateRole).toInt(),
             int(markedAfter ? Qt::Checked : Qt::Unchecked));
    QCOMPARE(m_grid->CurrentIdx(), m_idx[owner]);
    QCOMPARE(m_grid->CurrentRow(), row);
    QCOMPARE(listedIdx(*m_grid), before); // the order does not depend on the mark

    // Space toggles the current row back, for those who work without a mouse.
    QTest::keyClick(m_grid.get(), Qt::Key_Space);
    QCOMPARE(toggled, (QList<int>{m_idx[owner], m_idx[owner]}));
    QCOMPARE(TvexUserInfo::IsSelected(m_idx[owner]), !markedAfter);
    QCOMPARE(m_grid->CurrentIdx(), m_idx[owner]);
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestListScreen::toggleErrorsStayInTheGrid()
{
    makeGrid();
    // The table goes away under the list: the window's toggle fails in IsSelected. The error is
    // shown once and leaves the event loop alone.
    m_grid->SetToggle([](int idx) { TvexUserInfo::SetSelected(idx, TvexUserInfo::IsSelected(idx) ? 0 : 1); });
    QVERIFY(dm->ExecuteSQL(QStringLiteral("drop table UserInfo")));
    doubleClick(*m_grid, m_grid->visualRect(m_model->index(1, 1)).center());
    QCOMPARE(f.dialogs.shown.size(), 1);
    QVERIFY(f.dialogs.shown.first().text.contains(QStringLiteral("UserInfo")));

    // A double click below the last row, and one without a toggle, do nothing.
    f.dialogs.clear();
    m_grid->SetToggle([](int) { QFAIL("no row was double-clicked"); });
    doubleClick(*m_grid, QPoint(5, m_grid->viewport()->height() - 2));
    m_grid->SetToggle(nullptr);
    doubleClick(*m_grid, m_grid->visualRect(m_model->index(0, 1)).center());
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestListScreen::reloadKeepsTheOwnerByIdx()
{
    makeGrid();
    const int e = m_idx["e"]; // third of three owners in one room
    QVERIFY(m_grid->MakeCurrent(2));
    QCOMPARE(m_grid->CurrentIdx(), e);

    // Two owners come before it (an earlier room, a building with no number), one after it
    // (the same room, a later idx).
    addOwner(1, 1, QStringLiteral("0100"), QStringLiteral("g"));
    addOwner(Null, 1, QStringLiteral("0101"), QStringLiteral("h"));
    const int i = addOwner(1, 1, QStringLiteral("0101"), QStringLiteral("i"));
    m_grid->Reload(m_grid->CurrentIdx());
    QCOMPARE(m_grid->RecordCount(), 9);
    QCOMPARE(m_grid->CurrentIdx(), e);
    QCOMPARE(m_grid->CurrentRow(), 4);
    QCOMPARE(m_grid->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(m_grid->selectionModel()->selectedRows().first().row(), 4);

    // Another owner asked for by idx, far down the list.
    m_grid->Reload(m_idx["f"]);
    QCOMPARE(m_grid->CurrentIdx(), m_idx["f"]);
    QCOMPARE(m_grid->CurrentRow(), 8);
    QVERIFY(m_grid->viewport()->rect().intersects(m_grid->visualRect(m_grid->currentIndex())));
    m_grid->Reload(i);
    QCOMPARE(m_grid->CurrentRow(), 5);
}

void TestListScreen::reloadWhenTheOwnerIsGone_data()
{
    QTest::addColumn<int>("startRow");
    QTest::addColumn<QString>("deleted"); // empty: nothing deleted
    QTest::addColumn<QString>("asked");   // the owner whose idx the reload gets; empty: idx 0
    QTest::addColumn<bool>("sameRow");
    QTest::addColumn<QString>("current");

    QTest::newRow("kept") << 3 << ""
                          << "d" << false << "d";
    QTest::newRow("gone, first row") << 3 << "d"
                                     << "d" << false << "a";
    QTest::newRow("gone, same place") << 3 << "d"
                                      << "d" << true << "c";
    QTest::newRow("the last row gone, same place is the new last") << 5 << "f"
                                                                   << "f" << true << "c";
    QTest::newRow("idx 0, first row") << 4 << ""
                                      << "" << false << "a";
    QTest::newRow("idx 0, same place") << 4 << ""
                                       << "" << true << "c";
    QTest::newRow("unknown idx") << 1 << ""
                                 << "nobody" << false << "a";
}

void TestListScreen::reloadWhenTheOwnerIsGone()
{
    QFETCH(int, startRow);
    QFETCH(QString, deleted);
    QFETCH(QString, asked);
    QFETCH(bool, sameRow);
    QFETCH(QString, current);
    makeGrid();
    QVERIFY(m_grid->MakeCurrent(startRow));
    if (!deleted.isEmpty())
        QVERIFY(TvexUserInfo::DeleteRow(m_idx[deleted]));
    const int idx = asked.isEmpty() ? 0 : m_idx.value(asked, 999);
    m_grid->Reload(idx, sameRow ? FallbackRow::SameRow : FallbackRow::First);
    QCOMPARE(m_grid->CurrentIdx(), m_idx[current]);
}

void TestListScreen::marksShowAsCheckBoxes()
{
    makeGrid();
    const Qt::CheckState expected[] = {Qt::Unchecked, Qt::Checked, Qt::Unchecked,
                                       Qt::Unchecked, Qt::Checked, Qt::Unchecked};
    for (int row = 0; row < 6; ++row)
        QCOMPARE(m_model->index(row, 0).data(Qt::CheckStateRole).toInt(), int(expected[row]));

    // Drawn: a marked cell differs from an unmarked one on a row of the same shade, two unmarked
    // ones look alike, and no text is drawn for either.
    QVERIFY(m_grid->MakeCurrent(5)); // away from the rows compared
    const QImage shot = m_grid->viewport()->grab().toImage();
    auto cellImage = [&](int row) {
        const QRect r = m_grid->visualRect(m_model->index(row, 0));
        return shot.copy(QRect(r.topLeft() * shot.devicePixelRatio(), r.size() * shot.devicePixelRatio()));
    };
    QCOMPARE(cellImage(0), cellImage(2));
    QVERIFY(cellImage(0) != cellImage(4));
    QVERIFY(!cellImage(0).isNull());
    QVERIFY(cellImage(1) != cellImage(3));
    QVERIFY(!m_model->index(1, 0).data().isValid());

    // Screen readers hear the grid's caption and each row's mark.
    std::unique_ptr<QLabel> caption(CaptionFor(m_grid.get(), QStringLiteral("业主资料")));
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(m_grid.get());
    QVERIFY(table && table->tableInterface());
    QCOMPARE(table->text(QAccessible::Name), QStringLiteral("业主资料"));
    for (int row = 0; row < 6; ++row) {
        QAccessibleInterface* cell = table->tableInterface()->cellAt(row, 0);
        QVERIFY(cell);
        QCOMPARE(bool(cell->state().checked), expected[row] == Qt::Checked);
    }
    // Clicking the box does not change the mark: only the window's toggle writes.
    QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                      m_grid->visualRect(m_model->index(0, 0)).center());
    QVERIFY(!TvexUserInfo::IsSelected(m_idx["a"]));
}

void TestListScreen::countFollowsEveryLoad()
{
    makeGrid();
    QSignalSpy loaded(m_grid.get(), &ListGrid::loaded);
    addOwner(3, 1, QStringLiteral("0101"), QStringLiteral("g"));
    m_grid->Reload(m_grid->CurrentIdx());
    QCOMPARE(loaded.size(), 1);
    QCOMPARE(loaded.last().first().toInt(), 7);

    // A filter listing nobody, then a query the engine refuses: the list is empty, the count 0
    // and the error goes to the caller.
    m_grid->Open({ownerList().columns,
                  QStringLiteral("UserInfo where DongHao = :DongHao"),
                  {{QStringLiteral("DongHao"), 99}},
                  ownerList().order});
    QCOMPARE(loaded.last().first().toInt(), 0);
    QCOMPARE(m_grid->CurrentIdx(), -1);
    QCOMPARE(m_grid->CurrentRow(), -1);
    m_grid->Open(ownerList(), m_idx["c"]);
    QCOMPARE(loaded.last().first().toInt(), 7);
    QCOMPARE(m_grid->CurrentIdx(), m_idx["c"]);

    QVERIFY_THROWS_EXCEPTION(
        OperationError,
        m_grid->Open(
            {ownerList().columns, QStringLiteral("UserInfo where NoSuchColumn = 1"), {}, ownerList().order}));
    QCOMPARE(loaded.size(), 4);
    QCOMPARE(loaded.last().first().toInt(), 0);
    QCOMPARE(m_grid->RecordCount(), 0);
    QCOMPARE(m_grid->CurrentIdx(), -1);

    QVERIFY(dm->ExecuteSQL(QStringLiteral("drop table UserInfo")));
    QVERIFY_THROWS_EXCEPTION(OperationError, m_grid->Reload());
    QCOMPARE(loaded.last().first().toInt(), 0);
    QVERIFY(f.dialogs.shown.isEmpty()); // reported by the window's guard, not here
}

void TestListScreen::popupMenuOnTheRowClicked()
{
    makeGrid();
    auto rightClick = [&](int row) {
        const QPoint at = m_grid->visualRect(m_model->index(row, 2)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_grid->viewport()->mapToGlobal(at));
        QApplication::sendEvent(m_grid->viewport(), &event);
        return event.isAccepted();
    };
    // No items, no menu.
    QVERIFY(!rightClick(3));
    QVERIFY(!m_grid->PopupMenu()->isVisible());

    int deletedIdx = -1;
    QAction* remove = m_grid->PopupMenu()->addAction(QStringLiteral("删除此记录"));
    connect(remove, &QAction::triggered, m_grid.get(), [&] { deletedIdx = m_grid->CurrentIdx(); });
    QVERIFY(m_grid->MakeCurrent(0));
    QVERIFY(rightClick(3));
    QVERIFY(m_grid->PopupMenu()->isVisible());
    QCOMPARE(m_grid->CurrentRow(), 3);
    remove->trigger();
    m_grid->PopupMenu()->hide();
    QCOMPARE(deletedIdx, m_idx["d"]);

    // The menu key opens it on the current row.
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(), QPoint());
    QApplication::sendEvent(m_grid->viewport(), &key);
    QVERIFY(m_grid->PopupMenu()->isVisible());
    QCOMPARE(m_grid->CurrentRow(), 3);
    m_grid->PopupMenu()->hide();
}

void TestListScreen::rowPickedByClickOrEnter()
{
    makeGrid();
    QSignalSpy chosen(m_grid.get(), &ListGrid::rowChosen);
    QSignalSpy picked(m_grid.get(), &ListGrid::rowPicked);
    const auto rows = [](const QSignalSpy& spy) {
        QList<int> out;
        for (const QList<QVariant>& args : spy)
            out << args.at(0).toInt();
        return out;
    };
    QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                      m_grid->visualRect(m_model->index(1, 3)).center());
    m_grid->setFocus();
    // Moving with the keyboard chooses a row but picks none; Enter (either key) picks the current one.
    QTest::keyClick(m_grid.get(), Qt::Key_Down);
    QTest::keyClick(m_grid.get(), Qt::Key_Down);
    QCOMPARE(rows(picked), QList<int>{1});
    QTest::keyClick(m_grid.get(), Qt::Key_Return);
    QTest::keyClick(m_grid.get(), Qt::Key_Up);
    QTest::keyClick(m_grid.get(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(rows(picked), (QList<int>{1, 3, 2}));
    QCOMPARE(rows(chosen), (QList<int>{1, 2, 3, 2}));
    // A reload making a row current picks nothing, and Enter on an empty list picks no row.
    m_grid->Reload(m_idx["f"]);
    m_grid->Open({ownerList().columns, QStringLiteral("UserInfo where 1=0"), {}, ownerList().order});
    QTest::keyClick(m_grid.get(), Qt::Key_Return);
    QCOMPARE(picked.count(), 3);
}

void TestListScreen::treeOfBuildings_data()
{
    QTest::addColumn<QStringList>("units"); // building, unit, nickname; in the order entered
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty") << QStringList{} << QStringList{"小区栋号/单元 (3)"};
    QTest::newRow("units in unit order, empty nickname")
        << QStringList{"3", "2", "", "3", "1", "东"}
        << QStringList{"小区栋号/单元 (3)", "  3 (1)", "    1 - [东] (2)", "    2 - [] (2)"};
    QTest::newRow("buildings in number order, entered with a leading zero")
        << QStringList{"10", "1", "A", "03", "1", "", "9", "2", "B-2"}
        << QStringList{"小区栋号/单元 (3)", "  3 (1)",  "    1 - [] (2)", "  9 (1)",
                       "    2 - [B-2] (2)", "  10 (1)", "    1 - [A] (2)"};
}

void TestListScreen::treeOfBuildings()
{
    QFETCH(QStringList, units);
    QFETCH(QStringList, lines);
    for (qsizetype i = 0; i + 2 < units.size(); i += 3)
        TvexTerminalInfo::AddBuildUnit(units[i], units[i + 1], units[i + 2]);

    BuildTreeView tree;
    tree.Fill();
    QCOMPARE(tree.topLevelItemCount(), 1);
    QCOMPARE(treeLines(tree.Root()), lines);
    QVERIFY(allExpanded(tree.Root()));
    for (int index : {1, 2, 3})
        QVERIFY(!BuildTreeView::ImageIcon(index).isNull());

    // Filled again after a change: the old nodes are gone.
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("7"), QStringLiteral("1"), QString());
    tree.Fill();
    QCOMPARE(tree.topLevelItemCount(), 1);
    QVERIFY(findNode(tree, QStringLiteral("7")));
    QCOMPARE(treeLines(tree.Root()).size(), lines.size() + 2);
}

void TestListScreen::unitNodeHelpers()
{
    BuildTreeView tree;
    tree.Fill();
    // The root of an empty tree has no children, yet is no unit: it has no building.
    QVERIFY(!BuildTreeView::IsUnit(tree.Root()));
    QVERIFY(!tree.HasBuildings());
    tree.setCurrentItem(tree.Root());
    QVERIFY(tree.RootChosen());
    QCOMPARE(BuildTreeView::BuildingText(tree.Root()), QString());
    QVERIFY(!BuildTreeView::IsUnit(nullptr));

    TvexTerminalInfo::AddBuildUnit(QStringLiteral("12"), QStringLiteral("3"), QStringLiteral("A-座 - 东"));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("12"), QStringLiteral("4"), QString());
    tree.Fill();
    QVERIFY(tree.HasBuildings());
    QTreeWidgetItem* building = findNode(tree, QStringLiteral("12"));
    QTreeWidgetItem* unit = findNode(tree, QStringLiteral("3 - [A-座 - 东]"));
    QVERIFY(building && unit);
    QVERIFY(!BuildTreeView::IsUnit(building));
    QVERIFY(!BuildTreeView::IsUnit(tree.Root()));
    QVERIFY(BuildTreeView::IsUnit(unit));
    QCOMPARE(BuildTreeView::BuildingText(unit), QStringLiteral("12"));
    QCOMPARE(BuildTreeView::UnitText(unit), QStringLiteral("3"));
    QCOMPARE(BuildTreeView::UnitText(findNode(tree, QStringLiteral("4 - []"))), QStringLiteral("4"));

    tree.setCurrentItem(unit);
    QVERIFY(!tree.RootChosen());
    QVERIFY(!tree.IsRoot(building));
    tree.setCurrentItem(tree.Root());
    QVERIFY(tree.RootChosen());
}

void TestListScreen::treeFailureLeavesTheRoot()
{
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("1"), QString());
    BuildTreeView tree;
    tree.Fill();
    QVERIFY(tree.HasBuildings());
    QVERIFY(dm->ExecuteSQL(QStringLiteral("drop table BuildInfo")));
    QVERIFY_THROWS_EXCEPTION(OperationError, tree.Fill());
    QCOMPARE(treeLines(tree.Root()), QStringList{"小区栋号/单元 (3)"});
    QVERIFY(!BuildTreeView::IsUnit(tree.Root()));
}

void TestListScreen::nodeChosenByTheOperatorOnly()
{
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("1"), QString());
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("2"), QString());
    BuildTreeView tree;
    tree.resize(240, 300);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    QSignalSpy chosen(&tree, &BuildTreeView::nodeChosen);
    tree.Fill();
    QTreeWidgetItem* unit = findNode(tree, QStringLiteral("1 - []"));
    tree.setCurrentItem(unit);
    QCOMPARE(chosen.count(), 0);

    // A click, also on the node that is current already; then a move with the keyboard.
    for (int click = 0; click < 2; ++click)
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                          tree.visualItemRect(unit).center());
    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_Down);
    QTest::keyClick(&tree, Qt::Key_Down); // the last node: nothing moves
    QCOMPARE(chosen.count(), 3);
    QCOMPARE(chosen.at(0).at(0).value<QTreeWidgetItem*>(), unit);
    QCOMPARE(chosen.at(2).at(0).value<QTreeWidgetItem*>(), findNode(tree, QStringLiteral("2 - []")));
}

void TestListScreen::twoThousandUnits()
{
    {
        Transaction change;
        for (int building = 1; building <= 100; ++building) {
            for (int unit = 1; unit <= 20; ++unit)
                TvexTerminalInfo::AddBuildUnit(QString::number(building), QString::number(unit),
                                               QStringLiteral("昵称%1").arg(unit));
        }
        QVERIFY(change.Commit());
    }
    BuildTreeView tree;
    tree.resize(240, 600);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    QElapsedTimer timer;
    timer.start();
    tree.Fill();
    QApplication::processEvents();
    const qint64 ms = timer.elapsed();
    qInfo("2,000 units in the tree in %lld ms", ms);
    QCOMPARE(tree.Root()->childCount(), 100);
    QCOMPARE(tree.Root()->child(99)->childCount(), 20);
    QCOMPARE(tree.Root()->child(99)->child(19)->text(0), QStringLiteral("20 - [昵称20]"));
    QVERIFY(allExpanded(tree.Root()));
    QVERIFY2(ms < 3000, "filling the tree should take a moment, not seconds");
}

QTEST_MAIN(TestListScreen)
#include "tst_listscreen.moc"
