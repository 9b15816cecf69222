#include "UiFixture.h"
#include "link/CommandFrames.h"
#include "link/LinkHooks.h"
#include "link/Responses.h"
#include "office/BlackList.h"
#include "store/ListModel.h"
#include "store/OwnerStatements.h"
#include "store/TvexTerminalInfo.h"
#include "store/TvexUserInfo.h"
#include "support/AnswerFrames.h"
#include "support/Mouse.h"
#include "support/OwnerRecords.h"
#include "support/TestSql.h"
#include "ui/AlterUserInfo.h"
#include "ui/BuildInfo.h"
#include "ui/ListScreen.h"
#include "ui/UserInfo.h"
#include "ui/UserInfoSearch.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace {

// Adds an owner (through the import's insert); returns its idx.
int addOwner(const QString& name, const QString& cardNo, int building, int unit,
             const QString& room = QStringLiteral("0101"))
{
    if (!InsertUserInfo(*dm, OwnerRecord(name, cardNo, building, unit, room), InsertEntry::Import))
        return -1;
    return column(QStringLiteral("select max(idx) from UserInfo")).value(0).toInt();
}

int idxOf(const QString& name)
{
    QSqlQuery q(dm->database());
    ExecBound(q, QStringLiteral("select idx from UserInfo where UserName = :n"),
              {{QStringLiteral("n"), name}});
    return q.next() ? q.value(0).toInt() : -1;
}

QVariantList marks()
{
    return column(QStringLiteral("select selFlag from UserInfo order by idx"));
}

// The answer handler's owner updates, run as the program runs them.
class DataModuleOwnerMarks final : public BlackListOwnerMarks {
public:
    bool markOwner(int idx, bool blacklisted) override { return SetOwnerBlackListed(idx, blacklisted); }
};

// The window shown and active, over a fresh data module.
struct Screen {
    UiFixture f;
    std::unique_ptr<TFormUserInfo> w;

    Screen() { f.openData(); }
    bool open()
    {
        w = std::make_unique<TFormUserInfo>();
        w->show();
        w->activateWindow();
        return QTest::qWaitForWindowActive(w.get());
    }
    // Buildings 1 (units 2 and 3 "东区") and 2 (unit 3), and five owners, listed in building, unit
    // and room order: 张三, 李四, 王五, O'Brien, 赵六.
    void community()
    {
        TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("2"), QString());
        TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("东区"));
        TvexTerminalInfo::AddBuildUnit(QStringLiteral("2"), QStringLiteral("3"), QString());
        addOwner(QStringLiteral("张三"), QStringLiteral("C1"), 1, 2, QStringLiteral("0101"));
        addOwner(QStringLiteral("王五"), QStringLiteral("C3"), 1, 3, QStringLiteral("0302"));
        addOwner(QStringLiteral("李四"), QStringLiteral("C2"), 1, 3, QStringLiteral("0301"));
        addOwner(QStringLiteral("O'Brien; --"), QStringLiteral("C4"), 2, 3, QStringLiteral("0101"));
        addOwner(QStringLiteral("赵六"), QStringLiteral("C5"), 2, 3, QStringLiteral("0102"));
    }
    QString count() const { return w->lblCount->text(); }
    QStringList listed() const
    {
        QStringList out;
        for (int row = 0; row < w->grid->RecordCount(); ++row)
            out << w->grid->Model().FieldAt(row, QStringLiteral("UserName")).toString();
        return out;
    }
    QString current() const
    {
        const int row = w->grid->CurrentRow();
        return row < 0 ? QString() : w->grid->Model().FieldAt(row, QStringLiteral("UserName")).toString();
    }
    // The grid's text in a column of the current row.
    QString shown(int column) const
    {
        return w->grid->model()->index(w->grid->CurrentRow(), column).data().toString();
    }
    bool choose(const QString& name) { return w->grid->MakeCurrent(w->grid->Model().LocateIdx(idxOf(name))); }
    // The node of a unit ("3 - [东区]") under its building, or the node of that text anywhere.
    QTreeWidgetItem* node(const QString& text, const QString& building = QString()) const
    {
        for (QTreeWidgetItem* n : w->tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive))
            if (building.isNull() || (n->parent() && n->parent()->text(0) == building))
                return n;
        return nullptr;
    }
    void click(QTreeWidgetItem* n)
    {
        QVERIFY(n);
        w->tree->scrollToItem(n);
        QTest::mouseClick(w->tree->viewport(), Qt::LeftButton, Qt::NoModifier,
                          w->tree->visualItemRect(n).center());
    }
    // "查询" answered in the search dialog: the five values (building, unit, room, name, card
    // number), a null text leaving its box unticked.
    void search(const QStringList& values)
    {
        WhenModal<TFormSearchUserInfo>([values](TFormSearchUserInfo* d) {
            const std::pair<QCheckBox*, QLineEdit*> boxes[] = {{d->chkDongHao, d->edtDongHao},
                                                               {d->chkDanYuan, d->edtDanYuan},
                                                               {d->chkFangHao, d->edtFangHao},
                                                               {d->chkUserName, d->edtUserName},
                                                               {d->chkCardNo, d->edtCardNo}};
            for (int i = 0; i < 5; ++i) {
                boxes[i].first->setChecked(!values.value(i).isNull());
                boxes[i].second->setText(values.value(i));
            }
            d->btnSearch->click();
        });
        w->btnSearch->click();
    }
};

QStringList menuTexts(const QMenu* menu)
{
    QStringList out;
    for (const QAction* a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("--") : a->text() + (a->isEnabled() ? "" : " (off)"));
    return out;
}

const QString NoBuildings = QStringLiteral("请输入小区资料");

} // namespace

class TestUserInfo : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opensWithEveryOwnerUnmarked();
    void treeChoosesAUnit();
    void treeFailure_data();
    void treeFailure();
    void marksReachEveryOwner();
    void deleteOne();
    void lostAndFound();
    void editor_data();
    void editor();
    void emptyListActionsDoNothing();
    void search_data();
    void search();
    void searchDialogBoxes();
    void buildingDataRefillsTheTree();
    void blacklistCardReloadsTheOpenList();
};

void TestUserInfo::opensWithEveryOwnerUnmarked()
{
    Screen s;
    s.community();
    QVERIFY(SetUserCardID(*dm, idxOf(QStringLiteral("张三")), QStringLiteral("-380917942")));
    TvexUserInfo::SelectAll();
    BlackListSource = 1;
    QVERIFY(s.open());
    QCOMPARE(marks(), QVariantList(5, 0));
    QCOMPARE(BlackListSource, 0);
    QVERIFY(CurrentOwnerList);
    QCOMPARE(s.count(), QStringLiteral("5"));
    QCOMPARE(s.listed(), (QStringList{"张三", "李四", "王五", "O'Brien; --", "赵六"}));
    QCOMPARE(s.current(), QStringLiteral("张三"));
    QVERIFY(s.w->Filter().conditions.isEmpty());

    // Two-level titles: the group over its columns, both read out; dates shown as dates, marks as
    // check boxes.
    const QAbstractItemModel& model = *s.w->grid->model();
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("用户IC卡\n卡编号"));
    QCOMPARE(model.headerData(10, Qt::Horizontal).toString(), QStringLiteral("有效期\n有效期"));
    QCOMPARE(model.headerData(12, Qt::Horizontal).toString(), QStringLiteral("备  注"));
    QVERIFY(s.w->grid->horizontalHeader()->height() >= 2 * s.w->grid->fontMetrics().height());
    QCOMPARE(model.index(0, 10).data().toString(), QStringLiteral("2025/06/30"));
    QCOMPARE(model.index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    // The card serial as stored, and beside it the number the card issuer shows.
    QCOMPARE(model.index(0, 3).data().toString(), QStringLiteral("-380917942"));
    QCOMPARE(model.index(0, 3).data(Qt::ToolTipRole).toString(),
             QStringLiteral("卡号（无符号）：3914049354"));
    QVERIFY(!model.index(1, 3).data(Qt::ToolTipRole).isValid()); // no card

    QCOMPARE(menuTexts(s.w->grid->PopupMenu()),
             (QStringList{"显示详细内容", "修改此记录", "删除此记录", "--", "挂失此记录", "解挂此记录", "--",
                          "全部选择", "放弃选择", "--", "写黑名单卡", "写白名单卡"}));
    QCOMPARE(menuTexts(s.w->tree->PopupMenu()), QStringList{"小区资料录入"});
    QVERIFY(s.f.dialogs.shown.isEmpty());

    s.w->btnReturn->click();
    QVERIFY(!s.w->isVisible());
    QVERIFY(!CurrentOwnerList);
}

void TestUserInfo::treeChoosesAUnit()
{
    Screen s;
    s.community();
    QVERIFY(s.open());
    doubleClickRow(*s.w->grid, 0); // 张三 marked

    // The unit's number is the text before the dash; the building is its parent's.
    s.click(s.node(QStringLiteral("3 - [东区]"), QStringLiteral("1")));
    QCOMPARE(s.listed(), (QStringList{"李四", "王五"}));
    QCOMPARE(s.count(), QStringLiteral("2"));
    QCOMPARE(marks(), (QVariantList{1, 0, 0, 0, 0})); // a tree choice leaves the marks

    // A building only opens and closes; moving onto a unit with the keys lists it.
    s.click(s.node(QStringLiteral("2")));
    QCOMPARE(s.listed(), (QStringList{"李四", "王五"}));
    s.w->tree->setFocus();
    QTest::keyClick(s.w->tree, Qt::Key_Down);
    QCOMPARE(s.listed(), (QStringList{"O'Brien; --", "赵六"}));
    QVERIFY(s.f.dialogs.shown.isEmpty());
}

void TestUserInfo::treeFailure_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("node");
    QTest::newRow("the root, no building entered") << "empty"
                                                   << "小区栋号/单元";
    QTest::newRow("a unit without a number") << "no unit number"
                                             << " - [x]";
    QTest::newRow("the list cannot be read") << "no table"
                                             << "2 - []";
}

void TestUserInfo::treeFailure()
{
    QFETCH(QString, how);
    QFETCH(QString, node);
    Screen s;
    if (how == QStringLiteral("no unit number"))
        QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into BuildInfo (DongHao, DanYuan, DanYuanName) "
                                              "values (1, null, 'x')")));
    else if (how == QStringLiteral("no table"))
        TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("2"), QString());
    addOwner(QStringLiteral("张三"), QStringLiteral("C1"), 1, 2);
    QVERIFY(s.open());
    if (how == QStringLiteral("no table"))
        QVERIFY(dm->ExecuteSQL(QStringLiteral("drop table UserInfo")));
    s.click(s.node(node));
    QCOMPARE(s.f.dialogs.texts(), QStringList{NoBuildings});
    QCOMPARE(s.count(), how == QStringLiteral("no table") ? QStringLiteral("0") : QStringLiteral("1"));
}

void TestUserInfo::marksReachEveryOwner()
{
    Screen s;
    s.community();
    QVERIFY(s.open());
    s.click(s.node(QStringLiteral("2 - []")));
    QCOMPARE(s.listed(), QStringList{"张三"});

    // A double click marks the owner and a second one clears the mark.
    doubleClickRow(*s.w->grid, 0);
    QCOMPARE(marks(), (QVariantList{1, 0, 0, 0, 0}));
    QCOMPARE(s.w->grid->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    doubleClickRow(*s.w->grid, 0);
    QCOMPARE(marks(), QVariantList(5, 0));

    // "全部选择" and "放弃选择" take every owner of the table, listed or not.
    s.w->actSelectAll->trigger();
    QCOMPARE(marks(), QVariantList(5, 1));
    s.w->actSelectNone->trigger();
    QCOMPARE(marks(), QVariantList(5, 0));
    s.w->actSelectAll->trigger();

    s.w->btnDeleteSelected->click(); // answered No
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 5);
    s.f.dialogs.answers = {MsgAnswer::Yes};
    s.w->btnDeleteSelected->click();
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 0);
    QCOMPARE(s.count(), QStringLiteral("0"));
    QCOMPARE(s.f.dialogs.texts(), QStringList(2, QStringLiteral("批量删除选择的记录?(Y/N)")));
}

void TestUserInfo::deleteOne()
{
    Screen s;
    s.community();
    QVERIFY(s.open());
    QVERIFY(s.choose(QStringLiteral("O'Brien; --")));
    addOwner(QStringLiteral("孙七"), QStringLiteral("C6"), 0, 1); // listed first after a reload

    // No deletes nothing, yet the list is read again from the top.
    s.w->actDeleteRow->trigger();
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 6);
    QCOMPARE(s.count(), QStringLiteral("6"));
    QCOMPARE(s.current(), QStringLiteral("孙七"));

    QVERIFY(s.choose(QStringLiteral("王五")));
    s.f.dialogs.answers = {MsgAnswer::Yes};
    s.w->actDeleteRow->trigger();
    QCOMPARE(s.listed(), (QStringList{"孙七", "张三", "李四", "O'Brien; --", "赵六"}));
    QCOMPARE(s.f.dialogs.texts(), QStringList(2, QStringLiteral("删除此记录吗?(Y/N)")));
}

void TestUserInfo::lostAndFound()
{
    Screen s;
    s.community();
    QVERIFY(s.open());
    QVERIFY(s.choose(QStringLiteral("王五")));
    addOwner(QStringLiteral("孙七"), QStringLiteral("C6"), 0, 1); // moves 王五 one row down

    s.w->actLost->trigger();
    QCOMPARE(column(QStringLiteral("select chLoss from UserInfo where UserName = '王五'")),
             QVariantList{QStringLiteral("挂失")});
    QCOMPARE(s.current(), QStringLiteral("王五"));
    QCOMPARE(s.shown(2), QStringLiteral("挂失"));

    s.w->actFound->trigger();
    QCOMPARE(column(QStringLiteral("select chLoss from UserInfo where UserName = '王五'")),
             QVariantList{QString()});
    QCOMPARE(s.current(), QStringLiteral("王五"));
    QCOMPARE(s.shown(2), QString());
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo where chLoss <> ''")), QVariantList{0});
}

void TestUserInfo::editor_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("forTheOwner"); // opened with the current owner's idx
    QTest::addColumn<QString>("after");    // the current owner afterwards, "" for row 0 of a reload
    QTest::newRow("增加") << "add" << int(TFormAlter::Mode::Add) << false << "";
    QTest::newRow("修改") << "modify" << int(TFormAlter::Mode::Modify) << true << "王五";
    QTest::newRow("修改此记录") << "modify item" << int(TFormAlter::Mode::Modify) << true << "王五";
    QTest::newRow("显示详细内容") << "details" << int(TFormAlter::Mode::Details) << true << "王五";
}

void TestUserInfo::editor()
{
    QFETCH(QString, how);
    QFETCH(int, mode);
    QFETCH(bool, forTheOwner);
    QFETCH(QString, after);
    Screen s;
    s.community();
    QVERIFY(s.open());
    QVERIFY(s.choose(QStringLiteral("王五")));
    const int wang = idxOf(QStringLiteral("王五"));

    // The editor moves 王五 to the end of the list, and an owner is added before all others.
    int openedMode = -1;
    int openedIdx = -1;
    WhenModal<TFormAlter>([&](TFormAlter* editor) {
        openedMode = int(editor->WindowMode());
        openedIdx = editor->CurrentIdx();
        dm->ExecuteSQL(QStringLiteral("update UserInfo set DongHao = 9 where idx = :idx"),
                       {{QStringLiteral("idx"), wang}});
        addOwner(QStringLiteral("孙七"), QStringLiteral("C6"), 0, 1);
        editor->reject();
    });
    if (how == QStringLiteral("add"))
        s.w->btnAdd->click();
    else if (how == QStringLiteral("modify"))
        s.w->btnModify->click();
    else if (how == QStringLiteral("modify item"))
        s.w->actModify->trigger();
    else
        s.w->actDetails->trigger();
    QCOMPARE(openedMode, mode);
    QCOMPARE(openedIdx, forTheOwner ? wang : 0);
    if (how == QStringLiteral("details")) { // the list is not read again
        QCOMPARE(s.count(), QStringLiteral("5"));
        QCOMPARE(s.w->grid->CurrentRow(), 2);
    } else {
        QCOMPARE(s.count(), QStringLiteral("6"));
        QCOMPARE(s.current(), after.isEmpty() ? QStringLiteral("孙七") : after);
    }
}

void TestUserInfo::emptyListActionsDoNothing()
{
    Screen s;
    s.community();
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("空"));
    QVERIFY(s.open());
    s.click(s.node(QStringLiteral("1 - [空]")));
    QCOMPARE(s.count(), QStringLiteral("0"));

    bool editorOpened = false;
    WhenModal<TFormAlter>([&editorOpened](TFormAlter* editor) {
        editorOpened = true;
        editor->reject();
    });
    s.f.dialogs.answers = {MsgAnswer::Yes, MsgAnswer::Yes};
    s.w->btnModify->click();
    for (QAction* a : {s.w->actModify, s.w->actDetails, s.w->actDeleteRow, s.w->actLost, s.w->actFound})
        a->trigger();
    s.w->btnDeleteSelected->click();
    QVERIFY(s.f.dialogs.shown.isEmpty());
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 5);
    QCOMPARE(column(QStringLiteral("select count(*) from UserInfo where chLoss <> ''")), QVariantList{0});
    QVERIFY(!editorOpened);
    // The watcher is still waiting: an editor opened here is the first it sees.
    TFormAlter probe;
    probe.exec();
    QVERIFY(editorOpened);
}

void TestUserInfo::search_data()
{
    const QString no;                        // not ticked
    QTest::addColumn<QStringList>("values"); // building, unit, room, name, card number
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("error");
    QTest::newRow("nothing ticked: every owner")
        << QStringList{no, no, no, no, no} << QStringList{"张三", "李四", "王五", "O'Brien; --", "赵六"}
        << "";
    QTest::newRow("building") << QStringList{"2", no, no, no, no} << QStringList{"O'Brien; --", "赵六"} << "";
    QTest::newRow("building and unit, blanks around the numbers")
        << QStringList{" 1 ", "3 ", no, no, no} << QStringList{"李四", "王五"} << "";
    QTest::newRow("room") << QStringList{no, no, "0101", no, no} << QStringList{"张三", "O'Brien; --"} << "";
    QTest::newRow("room as typed, blanks kept")
        << QStringList{no, no, " 0101", no, no} << QStringList{} << "";
    QTest::newRow("name with a quote and a semicolon")
        << QStringList{no, no, no, "O'Brien; --", no} << QStringList{"O'Brien; --"} << "";
    QTest::newRow("card number") << QStringList{no, no, no, no, "C3"} << QStringList{"王五"} << "";
    // A card serial typed as the card number finds the owner who holds the card, typed as the card
    // issuer shows it or as stored.
    QTest::newRow("card serial, unsigned")
        << QStringList{no, no, no, no, "3914049354"} << QStringList{"李四"} << "";
    QTest::newRow("card serial, as stored")
        << QStringList{no, no, no, no, "-380917942"} << QStringList{"李四"} << "";
    QTest::newRow("all five") << QStringList{"1", "3", "0302", "王五", "C3"} << QStringList{"王五"} << "";
    QTest::newRow("all five, one not met")
        << QStringList{"1", "3", "0302", "李四", "C3"} << QStringList{} << "";
    QTest::newRow("building not a number") << QStringList{"1 or 1=1", no, no, no, no} << QStringList{}
                                           << "'1 or 1=1' is not a valid integer value";
    QTest::newRow("unit ticked and empty, name fine")
        << QStringList{no, "", no, "张三", no} << QStringList{} << "'' is not a valid integer value";
}

void TestUserInfo::search()
{
    QFETCH(QStringList, values);
    QFETCH(QStringList, listed);
    QFETCH(QString, error);
    Screen s;
    s.community();
    QVERIFY(SetUserCardID(*dm, idxOf(QStringLiteral("李四")), QStringLiteral("-380917942")));
    QVERIFY(s.open());
    s.click(s.node(QStringLiteral("2 - []")));
    TvexUserInfo::SelectAll();
    QStringList statements;
    s.w->grid->Model().SetStatementHook([&](const QString& sql, const SqlParams&) { statements << sql; });

    s.search(values);
    QCOMPARE(s.listed(), listed);
    QCOMPARE(s.count(), QString::number(listed.size()));
    QCOMPARE(s.f.dialogs.texts(), error.isEmpty() ? QStringList{} : QStringList{error});
    QCOMPARE(marks(), QVariantList(5, 0)); // cleared before the search is applied
    for (const QString& sql : statements)  // typed values are bound, never part of a statement
        for (const QString& typed : values)
            if (typed.trimmed().size() > 1)
                QVERIFY2(!sql.contains(typed.trimmed()), qPrintable(sql));
}

void TestUserInfo::searchDialogBoxes()
{
    Screen s;
    s.community();
    QVERIFY(s.open());
    s.click(s.node(QStringLiteral("2 - []")));
    doubleClickRow(*s.w->grid, 0);

    // Typing into a box ticks its check box; a click on a caption ticks or clears it. A search
    // that is not confirmed changes nothing.
    QStringList seen;
    WhenModal<TFormSearchUserInfo>([&seen](TFormSearchUserInfo* d) {
        QTest::keyClicks(d->edtUserName, QStringLiteral("Li"));
        QTest::mouseClick(d->lblDanYuan, Qt::LeftButton);
        seen << QStringLiteral("%1%2")
                    .arg(int(d->chkUserName->isChecked()))
                    .arg(int(d->chkDanYuan->isChecked()));
        QTest::mouseClick(d->lblDanYuan, Qt::LeftButton);
        seen << QStringLiteral("%1%2")
                    .arg(int(d->chkUserName->isChecked()))
                    .arg(int(d->chkDanYuan->isChecked()));
        seen << d->chkCardNo->accessibleName() << d->edtCardNo->accessibleName();
        QTest::keyClick(d->edtUserName, Qt::Key_Escape);
    });
    s.w->btnSearch->click();
    QCOMPARE(seen, (QStringList{"11", "10", "卡编号", "卡编号："}));
    QCOMPARE(s.listed(), QStringList{"张三"});
    QCOMPARE(marks(), (QVariantList{1, 0, 0, 0, 0}));

    // Confirmed, the next showing starts unconfirmed with no condition.
    TFormSearchUserInfo search;
    WhenModal<TFormSearchUserInfo>([](TFormSearchUserInfo* d) {
        d->chkDongHao->setChecked(true);
        d->edtDongHao->setText(QStringLiteral("1"));
        d->btnSearch->click();
    });
    search.exec();
    QVERIFY(search.Confirmed);
    QCOMPARE(search.Condition().conditions, QStringLiteral(" and DongHao = :DongHao"));
    WhenModal<TFormSearchUserInfo>([](TFormSearchUserInfo* d) { d->btnCancel->click(); });
    search.exec();
    QVERIFY(!search.Confirmed);
    QVERIFY(search.Condition().conditions.isEmpty());
}

void TestUserInfo::buildingDataRefillsTheTree()
{
    Screen s;
    s.community();
    QVERIFY(s.open());
    WhenModal<TFormBuildInfo>([](TFormBuildInfo* buildings) {
        TvexTerminalInfo::AddBuildUnit(QStringLiteral("7"), QStringLiteral("1"), QStringLiteral("新"));
        addOwner(QStringLiteral("孙七"), QStringLiteral("C6"), 7, 1);
        buildings->reject();
    });
    s.w->actBuildInfo->trigger();
    QVERIFY(s.node(QStringLiteral("1 - [新]"), QStringLiteral("7")));
    QCOMPARE(s.count(), QStringLiteral("5")); // the owners are not read again
}

void TestUserInfo::blacklistCardReloadsTheOpenList()
{
    Screen s;
    s.community();
    DataModuleOwnerMarks marks;
    CurrentOwnerMarks = &marks;
    QVERIFY(s.open());
    s.click(s.node(QStringLiteral("2 - []")));
    QCOMPARE(s.listed(), QStringList{"张三"});

    // A single-owner blacklist card written: every owner listed again, on that owner.
    const int zhao = idxOf(QStringLiteral("赵六"));
    BlackListTargets[0] = {1, zhao};
    BlackListTargetCount = 1;
    PendingCommand = CmdWriteBlackList;
    HandleResponse(AnswerRecord(CmdWriteBlackList, 0));
    QCOMPARE(s.count(), QStringLiteral("5"));
    QVERIFY(s.w->Filter().conditions.isEmpty());
    QCOMPARE(s.current(), QStringLiteral("赵六"));
    QCOMPARE(s.shown(2), QStringLiteral("黑名单"));

    // Closed, or destroyed while open, the window is no longer reached.
    s.w->btnReturn->click();
    QVERIFY(!CurrentOwnerList);
    s.w->show();
    QVERIFY(CurrentOwnerList);
    s.w.reset();
    QVERIFY(!CurrentOwnerList);
    CurrentOwnerMarks = nullptr;
}

QTEST_MAIN(TestUserInfo)
#include "tst_userinfo.moc"
