#include "UiFixture.h"
#include "store/ListModel.h"
#include "support/Mouse.h"
#include "support/TestSql.h"
#include "ui/BuildInfo.h"
#include "ui/ListScreen.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Every unit as "building|unit|nickname", in building and unit order; a Null nickname as "<null>".
QStringList units()
{
    QStringList out;
    QSqlQuery q(dm->database());
    q.exec(
        QStringLiteral("select DongHao, DanYuan, DanYuanName from BuildInfo order by DongHao, DanYuan, idx"));
    while (q.next())
        out << QStringLiteral("%1|%2|%3")
                   .arg(q.value(0).toString(), q.value(1).toString(),
                        q.value(2).isNull() ? QStringLiteral("<null>") : q.value(2).toString());
    return out;
}

int addUnit(int building, int unit, const QString& nickname, int mark = 0)
{
    QSqlQuery q(dm->database());
    q.prepare(
        QStringLiteral("insert into BuildInfo (DongHao, DanYuan, DanYuanName, selFlag) values (?, ?, ?, ?)"));
    q.addBindValue(building);
    q.addBindValue(unit);
    q.addBindValue(nickname.isNull() ? QStringLiteral("") : nickname);
    q.addBindValue(mark);
    if (!q.exec())
        qWarning() << q.lastError().text();
    return q.lastInsertId().toInt();
}

QVariantList marks()
{
    return column(QStringLiteral("select selFlag from BuildInfo order by DongHao, DanYuan"));
}

// The window shown and active, over a fresh data module.
struct Screen {
    UiFixture f;
    std::unique_ptr<TFormBuildInfo> w;

    Screen() { f.openData(); }
    bool open()
    {
        w = std::make_unique<TFormBuildInfo>();
        w->show();
        w->activateWindow();
        return QTest::qWaitForWindowActive(w.get());
    }
    void type(const QString& building, const QString& unit, const QString& nickname)
    {
        w->edtDongHao->setText(building);
        w->edtDanYuan->setText(unit);
        w->edtDanYuanName->setText(nickname);
    }
    QString count() const { return w->lblCount->text(); }
    // The current row as "building|unit".
    QString current() const
    {
        const int row = w->grid->CurrentRow();
        return row < 0
                   ? QString()
                   : w->grid->Model().FieldAt(row, QStringLiteral("DongHao")).toString() + QLatin1Char('|') +
                         w->grid->Model().FieldAt(row, QStringLiteral("DanYuan")).toString();
    }
};

} // namespace

class TestBuildInfo : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addReplacesThePair();
    void addRefused_data();
    void addRefused();
    void enterWalksToAdd();
    void openingClearsBoxesAndMarks();
    void marksAndDeletes();
    void deleteThisRow();
    void search_data();
    void search();
    void clickOrEnterFillsTheBoxes();
};

void TestBuildInfo::addReplacesThePair()
{
    Screen s;
    QVERIFY(s.open());
    QCOMPARE(s.count(), QStringLiteral("0"));
    s.type(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("A"));
    s.w->btnAdd->click();
    const int first = s.w->grid->CurrentIdx();
    s.type(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("B"));
    s.w->btnAdd->click();
    QCOMPARE(units(), QStringList{QStringLiteral("1|2|B")});
    QVERIFY(s.w->grid->CurrentIdx() != first); // a new row
    // An empty nickname is stored as empty text; the list follows the added unit.
    s.type(QStringLiteral("0"), QStringLiteral("1"), QString());
    s.w->btnAdd->click();
    QCOMPARE(units(), (QStringList{QStringLiteral("0|1|"), QStringLiteral("1|2|B")}));
    QCOMPARE(s.count(), QStringLiteral("2"));
    QCOMPARE(s.current(), QStringLiteral("0|1"));
    QVERIFY(s.f.dialogs.shown.isEmpty());
}

void TestBuildInfo::addRefused_data()
{
    QTest::addColumn<QString>("building");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("message");
    QTest::newRow("no building") << ""
                                 << "2"
                                 << "请输入栋号和单元号";
    QTest::newRow("no unit") << "1"
                             << ""
                             << "请输入栋号和单元号";
    QTest::newRow("building not a number") << "abc"
                                           << "2"
                                           << "'abc' is not a valid integer value";
    QTest::newRow("unit not a number") << "1"
                                       << "2;delete from BuildInfo"
                                       << "'2;delete from BuildInfo' is not a valid integer value";
}

void TestBuildInfo::addRefused()
{
    QFETCH(QString, building);
    QFETCH(QString, unit);
    QFETCH(QString, message);
    Screen s;
    addUnit(9, 9, QStringLiteral("kept"));
    QVERIFY(s.open());
    s.type(building, unit, QStringLiteral("x"));
    s.w->btnAdd->click();
    QCOMPARE(s.f.dialogs.texts(), QStringList{message});
    QCOMPARE(units(), QStringList{QStringLiteral("9|9|kept")});
    QVERIFY(s.w->isVisible());
}

void TestBuildInfo::enterWalksToAdd()
{
    Screen s;
    QVERIFY(s.open());
    QCOMPARE(QApplication::focusWidget(), s.w->edtDongHao);
    QTest::keyClicks(s.w->edtDongHao, QStringLiteral("3"));
    QTest::keyClick(s.w->edtDongHao, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), s.w->edtDanYuan);
    QTest::keyClicks(s.w->edtDanYuan, QStringLiteral("1"));
    QTest::keyClick(s.w->edtDanYuan, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(QApplication::focusWidget(), s.w->edtDanYuanName);
    QTest::keyClicks(s.w->edtDanYuanName, QStringLiteral("East"));
    QTest::keyClick(s.w->edtDanYuanName, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), s.w->btnAdd);
    QVERIFY(units().isEmpty()); // nothing is added before the button is pressed
    QTest::keyClick(s.w->btnAdd, Qt::Key_Return);
    QCOMPARE(units(), QStringList{QStringLiteral("3|1|East")});
}

void TestBuildInfo::openingClearsBoxesAndMarks()
{
    Screen s;
    addUnit(1, 1, QStringLiteral("a"), 1);
    addUnit(1, 2, QStringLiteral("b"), -1); // a mark as the old engine wrote it
    QVERIFY(s.open());
    QCOMPARE(marks(), (QVariantList{0, 0}));
    QCOMPARE(s.count(), QStringLiteral("2"));
    QCOMPARE(s.current(), QStringLiteral("1|1"));
    s.type(QStringLiteral("5"), QStringLiteral("5"), QStringLiteral("5"));
    s.w->btnReturn->click();
    QVERIFY(!s.w->isVisible());
    s.w->show(); // a new opening
    QCOMPARE(s.w->edtDongHao->text(), QString());
    QCOMPARE(s.w->edtDanYuanName->text(), QString());
}

void TestBuildInfo::marksAndDeletes()
{
    Screen s;
    for (int unit = 1; unit <= 4; ++unit)
        addUnit(1, unit, QString::number(unit));
    QVERIFY(s.open());
    ListGrid& grid = *s.w->grid;

    // A double click marks the row and keeps it current; a second one gives the mark back.
    doubleClickRow(grid, 2);
    QCOMPARE(marks(), (QVariantList{0, 0, 1, 0}));
    QCOMPARE(s.current(), QStringLiteral("1|3"));
    doubleClickRow(grid, 2);
    QCOMPARE(marks(), (QVariantList{0, 0, 0, 0}));

    // "删除" with nothing marked deletes nothing.
    s.f.dialogs.answers = {MsgAnswer::Yes};
    s.w->btnDelete->click();
    QCOMPARE(units().size(), 4);

    QVERIFY(grid.MakeCurrent(2));
    s.w->actSelectAll->trigger();
    QCOMPARE(marks(), (QVariantList{1, 1, 1, 1}));
    QCOMPARE(s.current(), QStringLiteral("1|3")); // the current row stays
    s.w->actSelectNone->trigger();
    QCOMPARE(marks(), (QVariantList{0, 0, 0, 0}));

    doubleClickRow(grid, 0);
    doubleClickRow(grid, 3);
    s.f.dialogs.clear();
    s.f.dialogs.answers = {MsgAnswer::No};
    s.w->btnDelete->click();
    QCOMPARE(units().size(), 4);
    s.f.dialogs.answers = {MsgAnswer::Yes};
    s.w->btnDelete->click();
    QCOMPARE(s.f.dialogs.texts(), (QStringList{QStringLiteral("确认删除选择的记录？(Y/N)"),
                                               QStringLiteral("确认删除选择的记录？(Y/N)")}));
    QCOMPARE(units(), (QStringList{QStringLiteral("1|2|2"), QStringLiteral("1|3|3")}));
    QCOMPARE(s.count(), QStringLiteral("2"));
}

void TestBuildInfo::deleteThisRow()
{
    Screen s;
    QVERIFY(s.open());
    s.w->actDeleteRow->trigger(); // an empty list asks nothing
    QVERIFY(s.f.dialogs.shown.isEmpty());

    for (int unit = 1; unit <= 3; ++unit)
        addUnit(2, unit, QString());
    s.w->Reload();
    QVERIFY(s.w->grid->MakeCurrent(1));
    s.w->actDeleteRow->trigger(); // answered No
    QCOMPARE(units().size(), 3);
    s.f.dialogs.answers = {MsgAnswer::Yes};
    s.w->actDeleteRow->trigger();
    QCOMPARE(s.f.dialogs.texts(),
             (QStringList{QStringLiteral("确认删除记录？(Y/N)"), QStringLiteral("确认删除记录？(Y/N)")}));
    QCOMPARE(units(), (QStringList{QStringLiteral("2|1|"), QStringLiteral("2|3|")}));
    QCOMPARE(s.current(), QStringLiteral("2|3")); // the row that took its place
}

void TestBuildInfo::search_data()
{
    QTest::addColumn<QString>("building");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("nickname");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("error");
    QTest::newRow("all blank") << ""
                               << " "
                               << "" << QStringList{"1|1", "1|2", "3|1", "3|2"} << "";
    QTest::newRow("building 3") << "3"
                                << ""
                                << "" << QStringList{"3|1", "3|2"} << "";
    QTest::newRow("blanks around the number") << " 1 "
                                              << "2"
                                              << "" << QStringList{"1|2"} << "";
    QTest::newRow("nickname verbatim") << ""
                                       << ""
                                       << "O'Hara; --" << QStringList{"3|2"} << "";
    QTest::newRow("nickname with blanks is not trimmed") << ""
                                                         << ""
                                                         << " 东区" << QStringList{} << "";
    QTest::newRow("building not a number")
        << "3 or 1=1"
        << ""
        << "" << QStringList{} << "'3 or 1=1' is not a valid integer value";
    QTest::newRow("unit not a number") << ""
                                       << "x"
                                       << "" << QStringList{} << "'x' is not a valid integer value";
}

void TestBuildInfo::search()
{
    QFETCH(QString, building);
    QFETCH(QString, unit);
    QFETCH(QString, nickname);
    QFETCH(QStringList, listed);
    QFETCH(QString, error);
    Screen s;
    addUnit(1, 1, QStringLiteral("东区"));
    addUnit(1, 2, QString());
    addUnit(3, 1, QString());
    addUnit(3, 2, QStringLiteral("O'Hara; --"));
    QVERIFY(s.open());
    QStringList statements;
    s.w->grid->Model().SetStatementHook([&](const QString& sql, const SqlParams&) { statements << sql; });

    s.type(building, unit, nickname);
    s.w->btnSearch->click();
    QStringList shown;
    for (int row = 0; row < s.w->grid->RecordCount(); ++row) {
        QVERIFY(s.w->grid->MakeCurrent(row));
        shown << s.current();
    }
    QCOMPARE(shown, listed);
    QCOMPARE(s.count(), QString::number(listed.size()));
    QCOMPARE(s.f.dialogs.texts(), error.isEmpty() ? QStringList{} : QStringList{error});
    for (const QString& sql : statements) // typed values are bound, never part of a statement
        for (const QString& typed : {building, unit, nickname})
            if (typed.trimmed().size() > 2)
                QVERIFY2(!sql.contains(typed.trimmed()), qPrintable(sql));
    QCOMPARE(units().size(), 4);
}

void TestBuildInfo::clickOrEnterFillsTheBoxes()
{
    Screen s;
    addUnit(4, 1, QStringLiteral("南"));
    addUnit(4, 2, QString());
    addUnit(5, 1, QStringLiteral("北"));
    QVERIFY(s.open());
    QTest::mouseClick(s.w->grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                      s.w->grid->visualRect(s.w->grid->model()->index(0, 2)).center());
    QCOMPARE(s.w->edtDongHao->text(), QStringLiteral("4"));
    QCOMPARE(s.w->edtDanYuan->text(), QStringLiteral("1"));
    QCOMPARE(s.w->edtDanYuanName->text(), QStringLiteral("南"));
    // A new unit typed, then Tab into the list and the arrows: the typing stays.
    s.w->btnClear->click();
    s.w->edtDongHao->setFocus();
    QTest::keyClicks(s.w->edtDongHao, QStringLiteral("7"));
    QTest::keyClick(s.w->edtDongHao, Qt::Key_Return);
    QTest::keyClicks(s.w->edtDanYuan, QStringLiteral("3"));
    QTest::keyClick(s.w->edtDanYuan, Qt::Key_Return);
    QTest::keyClicks(s.w->edtDanYuanName, QStringLiteral("N"));
    s.w->grid->setFocus(Qt::TabFocusReason);
    QTest::keyClick(s.w->grid, Qt::Key_Down);
    QTest::keyClick(s.w->grid, Qt::Key_Down);
    QCOMPARE(s.current(), QStringLiteral("5|1"));
    QCOMPARE(s.w->edtDongHao->text() + s.w->edtDanYuan->text() + s.w->edtDanYuanName->text(),
             QStringLiteral("73N"));
    // Enter on the row takes it into the boxes, as a click does.
    QTest::keyClick(s.w->grid, Qt::Key_Return);
    QCOMPARE(s.w->edtDongHao->text(), QStringLiteral("5"));
    QCOMPARE(s.w->edtDanYuan->text(), QStringLiteral("1"));
    QCOMPARE(s.w->edtDanYuanName->text(), QStringLiteral("北"));
    QCOMPARE(units().size(), 3); // nothing added or changed
}

QTEST_MAIN(TestBuildInfo)
#include "tst_buildinfo.moc"
