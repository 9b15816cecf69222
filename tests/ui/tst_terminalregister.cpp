#include "UiFixture.h"
#include "store/ListModel.h"
#include "support/Mouse.h"
#include "support/TestSql.h"
#include "ui/ListScreen.h"
#include "ui/SearchCondition.h"
#include "ui/TerminalRegister.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

// Every terminal as "number|name|remark", in number order.
QStringList terminals()
{
    QStringList out;
    QSqlQuery q(dm->database());
    q.exec(
        QStringLiteral("select TerminalID, TerminalName, Remark from TerminalInfo order by TerminalID, idx"));
    while (q.next())
        out << QStringLiteral("%1|%2|%3")
                   .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString());
    return out;
}

int addTerminal(int id, const QString& name, const QString& remark = QString(), int mark = 0)
{
    QSqlQuery q(dm->database());
    q.prepare(QStringLiteral(
        "insert into TerminalInfo (TerminalID, TerminalName, Remark, selFlag) values (?, ?, ?, ?)"));
    q.addBindValue(id);
    q.addBindValue(name);
    q.addBindValue(remark);
    q.addBindValue(mark);
    if (!q.exec())
        qWarning() << q.lastError().text();
    return q.lastInsertId().toInt();
}

QVariantList marks()
{
    return column(QStringLiteral("select selFlag from TerminalInfo order by TerminalID"));
}

const QString RangeMessage = QStringLiteral("输入错误，输入范围：0-255");
const QString FullMessage = QStringLiteral("门禁编号已经被全部使用，不能增加了");

struct Screen {
    UiFixture f;
    std::unique_ptr<TFormTerminalRegster> w;

    Screen() { f.openData(); }
    ~Screen() { FreeSearchCondition(); }
    bool open()
    {
        w = std::make_unique<TFormTerminalRegster>();
        w->show();
        w->activateWindow();
        return QTest::qWaitForWindowActive(w.get());
    }
    void type(const QString& id, const QString& name, const QString& remark = QString())
    {
        w->edtTerminalID->setText(id);
        w->edtTerminalName->setText(name);
        w->edtRemark->setText(remark);
    }
    QString count() const { return w->lblCount->text(); }
    QString current() const
    {
        const int row = w->grid->CurrentRow();
        return row < 0 ? QString() : w->grid->Model().FieldAt(row, QStringLiteral("TerminalID")).toString();
    }
    QStringList listed() const
    {
        QStringList out;
        for (int row = 0; row < w->grid->RecordCount(); ++row)
            out << w->grid->Model().FieldAt(row, QStringLiteral("TerminalID")).toString();
        return out;
    }
    // "查询" answered in the search dialog: the choice (1 or 2) and its text, or cancelled.
    void search(int choice, const QString& text, bool confirm = true)
    {
        WhenModal<TFormSearchCondition>([=](TFormSearchCondition* d) {
            (choice == 1 ? d->rb1 : d->rb2)->setChecked(true);
            (choice == 1 ? d->edt1 : d->edt2)->setText(text);
            (confirm ? d->btnOk : d->btnCancel)->click();
        });
        w->btnSearch->click();
    }
};

} // namespace

class TestTerminalRegister : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addThenAutomaticNumbering();
    void addReplacesTheNumber();
    void numberCheck_data();
    void numberCheck();
    void capacity_data();
    void capacity();
    void modifyByNumber();
    void marksAndDeletes();
    void search();
    void keyboardInTheListKeepsTheTyping();
};

void TestTerminalRegister::addThenAutomaticNumbering()
{
    Screen s;
    QVERIFY(s.open());
    QCOMPARE(s.count(), QStringLiteral("0"));
    QCOMPARE(s.w->edtTerminalID->text(), QStringLiteral("0"));
    s.type(QStringLiteral("0"), QStringLiteral("大门"), QStringLiteral("南侧"));
    s.w->btnAdd->click();
    QCOMPARE(terminals(), QStringList{QStringLiteral("0|大门|南侧")});
    addTerminal(5, QStringLiteral("old five"), QStringLiteral("r"));

    s.w->btnAuto->click();
    QStringList expected{QStringLiteral("0|大门|南侧")};
    for (int id = 1; id <= 20; ++id)
        expected << QStringLiteral("%1|%1|").arg(id);
    QCOMPARE(terminals(), expected);
    QCOMPARE(s.count(), QStringLiteral("21"));
    QCOMPARE(s.current(), QStringLiteral("20"));
    QVERIFY(s.f.dialogs.shown.isEmpty());
}

void TestTerminalRegister::addReplacesTheNumber()
{
    Screen s;
    const int before = addTerminal(7, QStringLiteral("east"), QStringLiteral("old"));
    addTerminal(8, QStringLiteral("west"));
    QVERIFY(s.open());
    s.type(QStringLiteral("7"), QStringLiteral("东门"), QStringLiteral("新"));
    s.w->btnAdd->click();
    QCOMPARE(terminals(), (QStringList{QStringLiteral("7|东门|新"), QStringLiteral("8|west|")}));
    QCOMPARE(s.current(), QStringLiteral("7"));
    QVERIFY(s.w->grid->CurrentIdx() != before);

    // An empty number passes the range check; the data layer refuses it and nothing is stored.
    s.type(QString(), QStringLiteral("x"));
    s.w->btnAdd->click();
    QCOMPARE(s.f.dialogs.texts(), QStringList{QStringLiteral("'' is not a valid integer value")});
    QCOMPARE(terminals().size(), 2);
}

void TestTerminalRegister::numberCheck_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("255") << "255" << true;
    QTest::newRow("0") << "0" << true;
    QTest::newRow("256") << "256" << false;
    QTest::newRow("-1") << "-1" << false;
    QTest::newRow("abc") << "abc" << false;
    QTest::newRow("1.5") << "1.5" << false;
    QTest::newRow("statement") << "1; delete from TerminalInfo" << false;
}

void TestTerminalRegister::numberCheck()
{
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    Screen s;
    addTerminal(3, QStringLiteral("kept"));
    QVERIFY(s.open());
    // add, modify and search all check the number first
    for (QPushButton* button : {s.w->btnAdd, s.w->btnModify}) {
        s.f.dialogs.clear();
        s.type(typed, QStringLiteral("n"));
        s.w->edtTerminalName->setFocus();
        button->click();
        if (accepted) {
            QVERIFY(s.f.dialogs.shown.isEmpty());
        } else {
            QCOMPARE(s.f.dialogs.texts(), QStringList{RangeMessage});
            QCOMPARE(QApplication::focusWidget(), s.w->edtTerminalID);
        }
    }
    QCOMPARE(terminals().contains(QStringLiteral("%1|n|").arg(typed)), accepted);
    QCOMPARE(terminals().contains(QStringLiteral("3|kept|")), true);
    s.f.dialogs.clear();
    s.search(1, typed);
    QCOMPARE(s.f.dialogs.texts(), accepted ? QStringList{} : QStringList{RangeMessage});
}

void TestTerminalRegister::capacity_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("room");
    QTest::newRow("0 to 254: 255 terminals") << 0 << 254 << false;
    QTest::newRow("1 to 255: 255 terminals") << 1 << 255 << false;
    QTest::newRow("2 to 255: 254, the highest in use, 1 free") << 2 << 255 << true;
    QTest::newRow("0 to 253: 254") << 0 << 253 << true;
}

void TestTerminalRegister::capacity()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, room);
    Screen s;
    {
        Transaction all;
        for (int id = from; id <= to; ++id)
            addTerminal(id, QString::number(id));
        QVERIFY(all.Commit());
    }
    QVERIFY(s.open());
    QCOMPARE(s.count(), QString::number(to - from + 1));
    s.type(QStringLiteral("100"), QStringLiteral("replaced"));
    s.w->btnAdd->click();
    QCOMPARE(s.f.dialogs.texts(), room ? QStringList{} : QStringList{FullMessage});
    QCOMPARE(terminals().contains(QStringLiteral("100|replaced|")), room);
}

void TestTerminalRegister::modifyByNumber()
{
    Screen s;
    QVERIFY(s.open());
    s.type(QStringLiteral("4"), QStringLiteral("x"));
    s.w->btnModify->click(); // an empty list: nothing at all
    QVERIFY(s.f.dialogs.shown.isEmpty());
    QVERIFY(terminals().isEmpty());

    const int four = addTerminal(4, QStringLiteral("four"), QStringLiteral("r4"));
    addTerminal(9, QStringLiteral("nine"));
    s.w->Reload();
    QVERIFY(s.w->grid->MakeCurrent(1)); // terminal 9 is current; the number typed decides
    s.type(QStringLiteral("4"), QStringLiteral("四号门"), QString());
    s.w->btnModify->click();
    QCOMPARE(terminals(), (QStringList{QStringLiteral("4|四号门|"), QStringLiteral("9|nine|")}));
    QCOMPARE(s.w->grid->CurrentIdx(), four); // the same row, renamed

    // A number no terminal has changes nothing and says nothing.
    s.type(QStringLiteral("77"), QStringLiteral("ghost"));
    s.w->btnModify->click();
    QCOMPARE(terminals(), (QStringList{QStringLiteral("4|四号门|"), QStringLiteral("9|nine|")}));
    QVERIFY(s.f.dialogs.shown.isEmpty());

    // A row chosen in the list fills the boxes.
    QTest::mouseClick(s.w->grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                      s.w->grid->visualRect(s.w->grid->model()->index(1, 2)).center());
    QCOMPARE(s.w->edtTerminalID->text(), QStringLiteral("9"));
    QCOMPARE(s.w->edtTerminalName->text(), QStringLiteral("nine"));
    QCOMPARE(s.w->edtRemark->text(), QString());
    s.w->actClearInput->trigger();
    QCOMPARE(s.w->edtTerminalID->text() + s.w->edtTerminalName->text(), QString());
}

void TestTerminalRegister::marksAndDeletes()
{
    Screen s;
    for (int id : {1, 2, 3, 4})
        addTerminal(id, QString::number(id), QString(), id == 4 ? 1 : 0);
    QVERIFY(s.open());
    ListGrid& grid = *s.w->grid;
    QCOMPARE(marks(), (QVariantList{0, 0, 0, 1})); // this screen keeps the marks it finds

    doubleClickRow(grid, 1);
    QCOMPARE(marks(), (QVariantList{0, 1, 0, 1}));
    doubleClickRow(grid, 1);
    QCOMPARE(marks(), (QVariantList{0, 0, 0, 1}));
    QCOMPARE(s.current(), QStringLiteral("2"));

    s.w->actSelectAll->trigger();
    QCOMPARE(marks(), (QVariantList{1, 1, 1, 1}));
    s.w->btnUndoSelect->click();
    QCOMPARE(marks(), (QVariantList{0, 0, 0, 0}));
    s.w->actSelectAll->trigger();
    s.w->actSelectNone->trigger();
    QCOMPARE(marks(), (QVariantList{0, 0, 0, 0}));

    doubleClickRow(grid, 0);
    doubleClickRow(grid, 2);
    s.w->btnDelete->click(); // answered No
    QCOMPARE(terminals().size(), 4);
    s.f.dialogs.answers = {MsgAnswer::Yes};
    s.w->btnDelete->click();
    QCOMPARE(terminals(), (QStringList{QStringLiteral("2|2|"), QStringLiteral("4|4|")}));

    QVERIFY(grid.MakeCurrent(0));
    s.f.dialogs.answers = {MsgAnswer::Yes};
    s.w->actDeleteRow->trigger();
    QCOMPARE(terminals(), QStringList{QStringLiteral("4|4|")});
    QCOMPARE(s.f.dialogs.texts(), (QStringList{QStringLiteral("确认删除选择的记录？(Y/N)"),
                                               QStringLiteral("确认删除选择的记录？(Y/N)"),
                                               QStringLiteral("确认删除记录？(Y/N)")}));
    QCOMPARE(s.count(), QStringLiteral("1"));
}

void TestTerminalRegister::search()
{
    Screen s;
    addTerminal(1, QStringLiteral("东门"), QStringLiteral("北区"));
    addTerminal(2, QStringLiteral("东门"), QStringLiteral("南区"));
    addTerminal(3, QStringLiteral("it's; --"), QString());
    QVERIFY(s.open());

    // By name with the remark still filled: both must match.
    s.w->edtRemark->setText(QStringLiteral("南区"));
    s.search(2, QStringLiteral("东门"));
    QCOMPARE(s.listed(), QStringList{QStringLiteral("2")});
    QCOMPARE(s.count(), QStringLiteral("1"));
    QCOMPARE(s.w->edtTerminalID->text(), QString());
    QCOMPARE(SearchCondition()->lbl1->text(), QStringLiteral("门禁编码:"));
    QCOMPARE(SearchCondition()->lbl2->text(), QStringLiteral("门禁名称"));

    // A name with a quote and a semicolon is found as typed.
    s.w->edtRemark->clear();
    s.search(2, QStringLiteral("it's; --"));
    QCOMPARE(s.listed(), QStringList{QStringLiteral("3")});

    // By number: the name box is emptied.
    s.search(1, QStringLiteral("1"));
    QCOMPARE(s.listed(), QStringList{QStringLiteral("1")});
    QCOMPARE(s.w->edtTerminalName->text(), QString());

    // Cancelled: nothing changes.
    s.search(2, QStringLiteral("东门"), false);
    QCOMPARE(s.listed(), QStringList{QStringLiteral("1")});
    QCOMPARE(s.w->edtTerminalID->text(), QStringLiteral("1"));
    QVERIFY(s.f.dialogs.shown.isEmpty());
}

void TestTerminalRegister::keyboardInTheListKeepsTheTyping()
{
    Screen s;
    addTerminal(1, QStringLiteral("one"), QStringLiteral("r1"));
    addTerminal(2, QStringLiteral("two"));
    addTerminal(3, QStringLiteral("three"), QStringLiteral("r3"));
    QVERIFY(s.open());
    // A new terminal typed, then into the list and down with the arrows: the typing stays, so
    // "增加门禁" adds what was typed.
    s.w->edtTerminalID->clear();
    QTest::keyClicks(s.w->edtTerminalID, QStringLiteral("40"));
    QTest::keyClicks(s.w->edtTerminalName, QStringLiteral("west"));
    QTest::keyClicks(s.w->edtRemark, QStringLiteral("new"));
    s.w->grid->setFocus(Qt::TabFocusReason);
    QTest::keyClick(s.w->grid, Qt::Key_Down);
    QTest::keyClick(s.w->grid, Qt::Key_Down);
    QCOMPARE(s.current(), QStringLiteral("3"));
    QCOMPARE(s.w->edtTerminalID->text() + QLatin1Char('|') + s.w->edtTerminalName->text() + QLatin1Char('|') +
                 s.w->edtRemark->text(),
             QStringLiteral("40|west|new"));
    // Enter on a row takes it into the boxes, as a click does.
    QTest::keyClick(s.w->grid, Qt::Key_Up);
    QTest::keyClick(s.w->grid, Qt::Key_Return);
    QCOMPARE(s.w->edtTerminalID->text() + QLatin1Char('|') + s.w->edtTerminalName->text() + QLatin1Char('|') +
                 s.w->edtRemark->text(),
             QStringLiteral("2|two|"));
    QCOMPARE(terminals().size(), 3);
    QVERIFY(s.f.dialogs.shown.isEmpty());
}

QTEST_MAIN(TestTerminalRegister)
#include "tst_terminalregister.moc"
