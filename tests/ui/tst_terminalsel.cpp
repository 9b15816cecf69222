#include "store/OperationError.h"
#include "store/StoreFixture.h"
#include "store/TvexDeviceInfo.h"
#include "support/Mouse.h"
#include "ui/TerminalSel.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <memory>

namespace {

void addTerminal(int number, const QString& name = QString())
{
    AddTerminal(
        {0, QString::number(number), name.isNull() ? QStringLiteral("门禁%1").arg(number) : name, {}});
}

// A terminal row with any value in TerminalID, as an old database file may hold.
void addRawTerminal(const QVariant& terminalId)
{
    QSqlQuery q(dm->database());
    QVERIFY2(
        ExecBound(q, QStringLiteral("insert into TerminalInfo (TerminalID, TerminalName) values (:id, 'x')"),
                  {{QStringLiteral("id"), terminalId}}),
        qPrintable(q.lastError().text()));
}

QByteArray bytes(const TerminalBitmap& bitmap)
{
    return QByteArray(reinterpret_cast<const char*>(bitmap.data()), qsizetype(bitmap.size()));
}

// 32 bytes, zero but for the ones given at the front and at the back.
QByteArray bitmapOf(const QByteArray& front, const QByteArray& back = {})
{
    return front + QByteArray(TerminalBitmapSize - front.size() - back.size(), '\0') + back;
}

} // namespace

class TestTerminalSel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void bitmapAndSelectors_data();
    void bitmapAndSelectors();
    void fourToARowInNumberOrder();
    void unregisteredBitsLeaveNoTrace();
    void emptyTable();
    void rebuildClearsEveryBox();
    void numbersThatNameNoTerminalAreSkipped();
    void readErrorLeavesTheGridEmpty();
    void arrowKeysStayOnSelectors_data();
    void arrowKeysStayOnSelectors();
    void keyboardOnly();
    void mouseToggles();
    void screenReaderHearsEachSelector();

private:
    int selectorOf(int terminal) const;
    int currentSelector() const;

    StoreFixture f;
    std::unique_ptr<TerminalGrid> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestTerminalSel::init()
{
    f.setUp();
    m_grid = std::make_unique<TerminalGrid>();
    m_grid->resize(800, 250);
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void TestTerminalSel::cleanup()
{
    m_tester.reset();
    m_grid.reset();
    f.tearDown();
}

int TestTerminalSel::selectorOf(int terminal) const
{
    for (int j = 0; j < m_grid->Count(); ++j) {
        if (m_grid->NumberText(j) == QString::number(terminal))
            return j;
    }
    return -1;
}

// The selector of the current cell, -1 when the cell is empty or there is none.
int TestTerminalSel::currentSelector() const
{
    const QModelIndex current = m_grid->currentIndex();
    if (!current.isValid() || !(current.flags() & Qt::ItemIsEnabled))
        return -1;
    return current.row() * TerminalSelColumns + current.column();
}

void TestTerminalSel::bitmapAndSelectors_data()
{
    QTest::addColumn<QList<int>>("registered");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QByteArray>("bitmap");
    QTest::newRow("terminal 0 alone") << QList<int>{0, 1, 8} << QList<int>{0} << bitmapOf("\x80");
    QTest::newRow("terminal 255 alone") << QList<int>{0, 254, 255} << QList<int>{255} << bitmapOf({}, "\x01");
    QTest::newRow("terminals 0 and 9") << QList<int>{0, 5, 9} << QList<int>{0, 9} << bitmapOf("\x80\x40");
    QTest::newRow("a whole byte") << QList<int>{7, 6, 5, 4, 3, 2, 1, 0} << QList<int>{7, 6, 5, 4, 3, 2, 1, 0}
                                  << bitmapOf("\xff");
    QTest::newRow("none ticked") << QList<int>{3, 200} << QList<int>{} << bitmapOf({});
}

void TestTerminalSel::bitmapAndSelectors()
{
    QFETCH(QList<int>, registered);
    QFETCH(QList<int>, ticked);
    QFETCH(QByteArray, bitmap);
    QCOMPARE(int(bitmap.size()), TerminalBitmapSize);
    for (int n : registered)
        addTerminal(n);
    m_grid->BuildGrid();
    QCOMPARE(m_grid->Count(), int(registered.size()));

    // Ticked selectors to bytes.
    for (int n : ticked)
        m_grid->SetGranted(selectorOf(n), true);
    QCOMPARE(bytes(m_grid->Bitmap()), bitmap);

    // And back: the bytes tick exactly those selectors, whatever was ticked before.
    m_grid->TickAll();
    m_grid->SetBitmap(reinterpret_cast<const uint8_t*>(bitmap.constData()));
    for (int n : registered)
        QCOMPARE(m_grid->IsGranted(selectorOf(n)), ticked.contains(n));
    QCOMPARE(bytes(m_grid->Bitmap()), bitmap);
}

void TestTerminalSel::fourToARowInNumberOrder()
{
    for (int n : {30, 2, 17, 5, 9})
        addTerminal(n);
    m_grid->BuildGrid();
    QCOMPARE(m_grid->Count(), 5);
    const QStringList numbers{"2", "5", "9", "17", "30"};
    for (int j = 0; j < 5; ++j) {
        QCOMPARE(m_grid->NumberText(j), numbers[j]);
        QCOMPARE(m_grid->NameText(j), QStringLiteral("门禁") + numbers[j]);
    }
    QCOMPARE(m_grid->NumberText(5), QString());

    // Four selectors, then one; the rest of the second row is empty.
    const QAbstractItemModel* model = m_grid->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->columnCount(), 4);
    QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("17"));
    QCOMPARE(model->index(1, 0).data().toString(), QStringLiteral("30"));
    for (int column = 1; column < 4; ++column) {
        QCOMPARE(model->index(1, column).flags(), Qt::NoItemFlags);
        QVERIFY(!model->index(1, column).data().isValid());
    }
    // The selectors share the width and stand one row above the other.
    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    const QRect first = m_grid->visualRect(model->index(0, 0));
    const QRect fifth = m_grid->visualRect(model->index(1, 0));
    QCOMPARE(fifth.left(), first.left());
    QCOMPARE(fifth.top(), first.bottom() + 1);
    QVERIFY(first.width() >= TerminalSelMinimumWidth);
    QCOMPARE(first.height(), TerminalSelHeight);
}

void TestTerminalSel::unregisteredBitsLeaveNoTrace()
{
    addTerminal(1);
    addTerminal(2);
    m_grid->BuildGrid();
    TerminalBitmap card{};
    SetTerminal(card.data(), 1);
    SetTerminal(card.data(), 100);
    m_grid->SetBitmap(card.data());
    QVERIFY(m_grid->IsGranted(0));
    QVERIFY(!m_grid->IsGranted(1));
    TerminalBitmap expected{};
    SetTerminal(expected.data(), 1);
    QCOMPARE(bytes(m_grid->Bitmap()), bytes(expected));
}

void TestTerminalSel::emptyTable()
{
    m_grid->BuildGrid();
    QCOMPARE(m_grid->Count(), 0);
    QCOMPARE(m_grid->model()->rowCount(), 0);
    m_grid->TickAll();
    m_grid->SetGranted(0, true);
    QVERIFY(!m_grid->IsGranted(0));
    QCOMPARE(bytes(m_grid->Bitmap()), bitmapOf({}));
    // Keys find nothing to move to or toggle.
    QSignalSpy changed(m_grid.get(), &TerminalGrid::grantsChanged);
    QTest::keyClick(m_grid.get(), Qt::Key_Down);
    QTest::keyClick(m_grid.get(), Qt::Key_Space);
    QVERIFY(!m_grid->currentIndex().isValid());
    QCOMPARE(changed.size(), 0);
}

void TestTerminalSel::rebuildClearsEveryBox()
{
    for (int n : {4, 8, 12})
        addTerminal(n);
    m_grid->BuildGrid();
    QSignalSpy changed(m_grid.get(), &TerminalGrid::grantsChanged);
    m_grid->TickAll();
    QCOMPARE(bytes(m_grid->Bitmap()), bitmapOf("\x08\x88"));
    m_grid->ClearAll();
    QCOMPARE(bytes(m_grid->Bitmap()), bitmapOf({}));
    m_grid->TickAll();
    QCOMPARE(changed.size(), 0); // the host's own changes are not the operator's

    // The terminal registration screen added one: the rebuilt grid lists it and ticks nothing.
    addTerminal(0);
    m_grid->BuildGrid();
    QCOMPARE(m_grid->Count(), 4);
    QCOMPARE(m_grid->NumberText(0), QStringLiteral("0"));
    for (int j = 0; j < 4; ++j)
        QVERIFY(!m_grid->IsGranted(j));
    QCOMPARE(bytes(m_grid->Bitmap()), bitmapOf({}));
}

void TestTerminalSel::numbersThatNameNoTerminalAreSkipped()
{
    for (const QVariant& id : {QVariant(300), QVariant(-1), QVariant(), QVariant(QStringLiteral("abc")),
                               QVariant(QStringLiteral("1x")), QVariant(7)})
        addRawTerminal(id);
    m_grid->BuildGrid();
    QCOMPARE(m_grid->Count(), 6);
    m_grid->TickAll();
    TerminalBitmap expected{};
    SetTerminal(expected.data(), 7);
    QCOMPARE(bytes(m_grid->Bitmap()), bytes(expected));
    m_grid->SetBitmap(expected.data());
    for (int j = 0; j < m_grid->Count(); ++j)
        QCOMPARE(m_grid->IsGranted(j), m_grid->NumberText(j) == QStringLiteral("7"));
}

void TestTerminalSel::readErrorLeavesTheGridEmpty()
{
    addTerminal(1);
    addTerminal(2);
    m_grid->BuildGrid();
    m_grid->TickAll();
    QVERIFY(dm->ExecuteSQL(QStringLiteral("drop table TerminalInfo")));
    QVERIFY_THROWS_EXCEPTION(OperationError, m_grid->BuildGrid());
    QCOMPARE(m_grid->Count(), 0);
    QCOMPARE(m_grid->model()->rowCount(), 0);
    QCOMPARE(bytes(m_grid->Bitmap()), bitmapOf({}));
}

void TestTerminalSel::arrowKeysStayOnSelectors_data()
{
    // Five selectors: 0 1 2 3 in the first row, 4 alone in the second.
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("selector");
    QTest::newRow("right") << QList<int>{Qt::Key_Right, Qt::Key_Right} << 2;
    QTest::newRow("on into the next row")
        << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right} << 4;
    QTest::newRow("down below an empty cell") << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Down} << 4;
    QTest::newRow("down and right from the last")
        << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Right} << 4;
    QTest::newRow("up and left from the first") << QList<int>{Qt::Key_Up, Qt::Key_Left} << 0;
    QTest::newRow("up from the second row") << QList<int>{Qt::Key_Down, Qt::Key_Up} << 0;
    QTest::newRow("left into the row above") << QList<int>{Qt::Key_End, Qt::Key_Left} << 3;
    QTest::newRow("page down, home") << QList<int>{Qt::Key_PageDown, Qt::Key_Home} << 0;
}

void TestTerminalSel::arrowKeysStayOnSelectors()
{
    QFETCH(QList<int>, keys);
    QFETCH(int, selector);
    for (int n = 1; n <= 5; ++n)
        addTerminal(n);
    m_grid->BuildGrid();
    QCOMPARE(currentSelector(), 0);
    for (int key : keys) {
        QTest::keyClick(m_grid.get(), Qt::Key(key));
        QVERIFY2(currentSelector() >= 0, "the current cell is empty");
    }
    QCOMPARE(currentSelector(), selector);
}

void TestTerminalSel::keyboardOnly()
{
    for (int n = 1; n <= 5; ++n)
        addTerminal(n);
    QWidget host;
    auto* before = new QPushButton(QStringLiteral("前"), &host);
    auto* grid = new TerminalGrid(&host);
    auto* after = new QPushButton(QStringLiteral("后"), &host);
    auto* layout = new QVBoxLayout(&host);
    layout->addWidget(before);
    layout->addWidget(grid);
    layout->addWidget(after);
    grid->BuildGrid();
    host.show();
    host.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&host));
    before->setFocus();
    QSignalSpy changed(grid, &TerminalGrid::grantsChanged);

    // Tab reaches the grid; Space ticks, and clears, the current selector.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), grid);
    QTest::keyClick(grid, Qt::Key_Right);
    QTest::keyClick(grid, Qt::Key_Space);
    QVERIFY(grid->IsGranted(1));
    QCOMPARE(changed.size(), 1);
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Space);
    QTest::keyClick(grid, Qt::Key_Space);
    QVERIFY(!grid->IsGranted(4));
    QCOMPARE(changed.size(), 3);
    TerminalBitmap expected{};
    SetTerminal(expected.data(), 2);
    QCOMPARE(bytes(grid->Bitmap()), bytes(expected));

    // Tab goes on to the next control instead of through the selectors.
    QTest::keyClick(grid, Qt::Key_Home);
    QTest::keyClick(grid, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), after);
}

void TestTerminalSel::mouseToggles()
{
    for (int n = 1; n <= 5; ++n)
        addTerminal(n);
    m_grid->BuildGrid();
    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    QSignalSpy changed(m_grid.get(), &TerminalGrid::grantsChanged);
    QWidget* viewport = m_grid->viewport();
    const QRect cell = m_grid->visualRect(m_grid->model()->index(0, 1));
    // The lines of a selector: number at the top, name in the middle, permission at the bottom.
    const QPoint onName = cell.center();
    const QPoint onPermissionCaption(cell.left() + 20, cell.bottom() - cell.height() / 6);
    const QPoint onBox(cell.center().x() - 30, onPermissionCaption.y());

    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, onBox);
    QVERIFY(m_grid->IsGranted(1));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, onPermissionCaption);
    QVERIFY(!m_grid->IsGranted(1));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, onName);
    QVERIFY(!m_grid->IsGranted(1));
    QCOMPARE(changed.size(), 2);

    // A double click toggles once, on the name as on the box.
    doubleClick(*m_grid, onName);
    QVERIFY(m_grid->IsGranted(1));
    doubleClick(*m_grid, onBox);
    QVERIFY(!m_grid->IsGranted(1));
    doubleClick(*m_grid, onBox);
    QVERIFY(m_grid->IsGranted(1));
    QCOMPARE(changed.size(), 5);

    // Empty cells take no clicks.
    const QRect empty = m_grid->visualRect(m_grid->model()->index(1, 2));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier,
                      QPoint(empty.left() + 20, empty.bottom() - empty.height() / 6));
    doubleClick(*m_grid, empty.center());
    QCOMPARE(changed.size(), 5);
    QCOMPARE(bytes(m_grid->Bitmap()), bitmapOf("\x20"));
}

void TestTerminalSel::screenReaderHearsEachSelector()
{
    addTerminal(2, QStringLiteral("北门"));
    addTerminal(5, QStringLiteral("大门"));
    m_grid->BuildGrid();
    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(m_grid.get());
    QVERIFY(table && table->tableInterface());
    QCOMPARE(table->text(QAccessible::Name), QStringLiteral("门禁权限"));

    QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 1);
    QVERIFY(cell);
    QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("编号：5 名称：大门"));
    QVERIFY(cell->state().checkable);
    QVERIFY(!cell->state().checked);
    m_grid->SetGranted(1, true);
    QVERIFY(cell->state().checked);

    // An assistive tool toggles through the model, as the operator does.
    QSignalSpy changed(m_grid.get(), &TerminalGrid::grantsChanged);
    QAbstractItemModel* model = m_grid->model();
    QVERIFY(model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(m_grid->IsGranted(0));
    QVERIFY(table->tableInterface()->cellAt(0, 0)->state().checked);
    QCOMPARE(changed.size(), 1);

    // The empty cells are nothing to hear or tick.
    QAccessibleInterface* empty = table->tableInterface()->cellAt(0, 2);
    QVERIFY(empty);
    QVERIFY(!empty->state().checkable);
    QCOMPARE(empty->text(QAccessible::Name), QString());
    QVERIFY(!model->setData(model->index(0, 2), Qt::Checked, Qt::CheckStateRole));
}

QTEST_MAIN(TestTerminalSel)
#include "tst_terminalsel.moc"
