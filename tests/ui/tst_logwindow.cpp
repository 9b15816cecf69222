// The operation log window: what each filter lists, the operator's own latest actions, the export
// of what is shown, and who may open it from the main window.

#include "UiFixture.h"
#include "cards/Gbk.h"
#include "store/ListModel.h"
#include "store/OperationLog.h"
#include "support/Files.h"
#include "support/TestSql.h"
#include "ui/ListScreen.h"
#include "ui/MainWindow.h"
#include "ui/NavigationBar.h"
#include "ui/OperationLogWindow.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

namespace {

struct Entry {
    const char* time;
    const char* computer;
    const char* user;
    int level;
    QString action;
    const char* card;
    const char* owner;
};

// The log the filters run on, in the order it was appended (the 10:00 entry came from a desk
// whose clock was behind: the list goes by time).
const Entry Log[] = {
    {"2026-03-01 08:00:00", "WUYE-PC1", "zhang", 1, LogAction::LogIn, "", ""},
    {"2026-03-01 23:59:59", "WUYE-PC1", "zhang", 1, LogAction::WriteOwnerCard, "-380917942", "张三"},
    {"2026-03-02 00:00:00", "MENWEI", "li", 0, LogAction::ReportLost, "-380917942", "张三"},
    {"2026-03-02 11:00:00", "MENWEI", "li", 0, LogAction::WriteOwnerCard, "0000001234", "李四"},
    {"2026-03-02 10:00:00", "WUYE-PC2", "Wang", 2, LogAction::DeleteOwner, "", "王五"},
    {"2026-03-03 09:00:00", "ZHONGKONG", "wang", -1, LogAction::ImportOwners, "", ""},
};

void addLog()
{
    for (const Entry& e : Log) {
        QSqlQuery q(dm->database());
        q.prepare(
            QStringLiteral("insert into OperationLog (LogTime, Computer, SystemUser, OperatorLevel, Action, "
                           "Outcome, CardID, OwnerName, Details) values (?, ?, ?, ?, ?, '成功', ?, ?, ?)"));
        q.addBindValue(QString::fromUtf8(e.time));
        q.addBindValue(QString::fromUtf8(e.computer));
        q.addBindValue(QString::fromUtf8(e.user));
        q.addBindValue(e.level);
        q.addBindValue(e.action);
        q.addBindValue(*e.card ? QVariant(QString::fromUtf8(e.card)) : QVariant());
        q.addBindValue(*e.owner ? QVariant(QString::fromUtf8(e.owner)) : QVariant());
        q.addBindValue(QStringLiteral("栋号=3,单元=1"));
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }
}

struct Screen {
    UiFixture f;
    std::unique_ptr<TFormOperationLog> w;

    Screen()
    {
        f.openData();
        addLog();
    }
    void open()
    {
        w = std::make_unique<TFormOperationLog>();
        w->show();
    }
    // The times of the entries listed, top to bottom.
    QStringList listed() const
    {
        QStringList out;
        for (int row = 0; row < w->grid->RecordCount(); ++row)
            out << w->grid->Model().FieldAt(row, QStringLiteral("LogTime")).toString().mid(5);
        return out;
    }
    QString cell(int row, int column) const { return w->grid->model()->index(row, column).data().toString(); }
};

} // namespace

class TestLogWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void filters_data();
    void filters();
    void showsTheLevelAndTheCardsUnsignedNumber();
    void ownLatestActionsShow();
    void exportsWhatIsShown();
    void onlyAdministratorAndMaintainerOpenIt_data();
    void onlyAdministratorAndMaintainerOpenIt();
};

void TestLogWindow::filters_data()
{
    QTest::addColumn<QString>("from"); // yyyy-MM-dd, empty: no dates
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("card");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("desk");
    QTest::addColumn<QStringList>("listed");
    const QStringList all{"03-03 09:00:00", "03-02 11:00:00", "03-02 10:00:00",
                          "03-02 00:00:00", "03-01 23:59:59", "03-01 08:00:00"};
    QTest::newRow("none, newest first by time") << ""
                                                << ""
                                                << ""
                                                << ""
                                                << ""
                                                << "" << all;
    QTest::newRow("one day, its last second in, the next day's first out")
        << "2026-03-01"
        << "2026-03-01"
        << ""
        << ""
        << ""
        << "" << QStringList{"03-01 23:59:59", "03-01 08:00:00"};
    QTest::newRow("from a day on") << "2026-03-02"
                                   << "2026-12-31"
                                   << ""
                                   << ""
                                   << ""
                                   << "" << all.mid(0, 4);
    QTest::newRow("an action") << ""
                               << "" << LogAction::WriteOwnerCard << ""
                               << ""
                               << "" << QStringList{"03-02 11:00:00", "03-01 23:59:59"};
    QTest::newRow("a card as the card issuer shows it")
        << ""
        << ""
        << ""
        << "3914049354"
        << ""
        << "" << QStringList{"03-02 00:00:00", "03-01 23:59:59"};
    QTest::newRow("a card as stored") << ""
                                      << ""
                                      << ""
                                      << "-380917942"
                                      << ""
                                      << "" << QStringList{"03-02 00:00:00", "03-01 23:59:59"};
    QTest::newRow("a card as stored, without its zeros") << ""
                                                         << ""
                                                         << ""
                                                         << "1234"
                                                         << ""
                                                         << "" << QStringList{"03-02 11:00:00"};
    QTest::newRow("part of an owner's name") << ""
                                             << ""
                                             << ""
                                             << ""
                                             << "三"
                                             << "" << QStringList{"03-02 00:00:00", "03-01 23:59:59"};
    QTest::newRow("an owner's name with a wildcard") << ""
                                                     << ""
                                                     << ""
                                                     << ""
                                                     << "%"
                                                     << "" << QStringList{};
    QTest::newRow("part of a computer's name") << ""
                                               << ""
                                               << ""
                                               << ""
                                               << ""
                                               << "pc2" << QStringList{"03-02 10:00:00"};
    QTest::newRow("part of a user's name, either case")
        << ""
        << ""
        << ""
        << ""
        << ""
        << "WAN" << QStringList{"03-03 09:00:00", "03-02 10:00:00"};
    QTest::newRow("part of a user's name or of a computer's")
        << ""
        << ""
        << ""
        << ""
        << ""
        << "zh" << QStringList{"03-03 09:00:00", "03-01 23:59:59", "03-01 08:00:00"};
    QTest::newRow("a desk there is not") << ""
                                         << ""
                                         << ""
                                         << ""
                                         << ""
                                         << "PC9" << QStringList{};
    QTest::newRow("all at once") << "2026-03-02"
                                 << "2026-03-02" << LogAction::WriteOwnerCard << "0000001234"
                                 << "李"
                                 << "menwei" << QStringList{"03-02 11:00:00"};
}

void TestLogWindow::filters()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, action);
    QFETCH(QString, card);
    QFETCH(QString, owner);
    QFETCH(QString, desk);
    QFETCH(QStringList, listed);
    Screen s;
    s.open();
    QCOMPARE(s.w->lblCount->text(), QStringLiteral("6"));
    if (!from.isEmpty()) {
        s.w->chkDate->setChecked(true);
        s.w->edtFrom->setDate(QDate::fromString(from, Qt::ISODate));
        s.w->edtTo->setDate(QDate::fromString(to, Qt::ISODate));
    }
    if (!action.isEmpty())
        s.w->cboAction->setCurrentText(action);
    s.w->edtCard->setText(card);
    s.w->edtOwner->setText(owner);
    s.w->edtDesk->setText(desk);
    s.w->btnSearch->click();
    QCOMPARE(s.listed(), listed);
    QCOMPARE(s.w->lblCount->text(), QString::number(listed.size()));
    QVERIFY(s.f.dialogs.texts().isEmpty());
}

void TestLogWindow::showsTheLevelAndTheCardsUnsignedNumber()
{
    Screen s;
    s.open();
    // Newest first: the command line's import, the maintainer's deletion, ... the steward's loss.
    QCOMPARE(s.cell(0, 3), QStringLiteral("命令行"));
    QCOMPARE(s.cell(2, 3), QStringLiteral("维护员"));
    QCOMPARE(s.cell(3, 3), QStringLiteral("物业管家"));
    QCOMPARE(s.cell(3, 6), QStringLiteral("-380917942"));
    QVERIFY(s.w->grid->model()
                ->index(3, 6)
                .data(Qt::ToolTipRole)
                .toString()
                .contains(QStringLiteral("3914049354")));
    QCOMPARE(s.cell(3, 7), QStringLiteral("张三"));
    // Every action can be chosen, after "全部".
    QCOMPARE(s.w->cboAction->count(), LogActions().size() + 1);
    QCOMPARE(s.w->cboAction->itemText(0), QStringLiteral("全部"));
}

void TestLogWindow::ownLatestActionsShow()
{
    Screen s;
    s.f.clock.set(QDateTime(QDate(2026, 3, 4), QTime(7, 30)));
    SetLogOperatorLevel(1);
    RecordOperation(
        {LogAction::Backup, LogSucceeded, {}, 0, {}, QStringLiteral("文件=db_260304_073000.bak")});
    s.open(); // the entry is on its way to the database: the window waits for it
    QCOMPARE(s.w->lblCount->text(), QStringLiteral("7"));
    QCOMPARE(s.cell(0, 4), LogAction::Backup);
    QCOMPARE(s.cell(0, 0), QStringLiteral("2026-03-04 07:30:00"));
    QCOMPARE(s.cell(0, 1), LogComputer());
    QCOMPARE(s.cell(0, 3), QStringLiteral("管理员"));
}

void TestLogWindow::exportsWhatIsShown()
{
    Screen s;
    s.open();
    s.w->edtDesk->setText(QStringLiteral("menwei"));
    s.w->btnSearch->click();
    s.w->edtDesk->setText(QStringLiteral("pc1")); // typed, not searched: what is shown is exported
    const QString file = s.f.dir.filePath(QStringLiteral("log"));
    s.f.dialogs.fileNames << file;
    s.w->btnExport->click();
    const QByteArray expected = StringToGbk(QStringLiteral(
        "时间,电脑,系统用户,操作员级别,操作,结果,卡号,业主,详情\r\n"
        "2026-03-02 11:00:00,MENWEI,li,物业管家,写业主卡,成功,0000001234,李四,栋号=3，单元=1\r\n"
        "2026-03-02 00:00:00,MENWEI,li,物业管家,挂失,成功,-380917942,张三,栋号=3，单元=1\r\n"));
    QCOMPARE(ReadFile(file + QStringLiteral(".csv")), expected);
    QCOMPARE(s.f.dialogs.texts(), QStringList{QStringLiteral("已导出 2 条操作日志")});

    // An existing file is replaced only when the operator says so.
    s.f.dialogs.clear();
    s.w->edtDesk->clear();
    s.w->btnSearch->click();
    s.f.dialogs.fileNames << file + QStringLiteral(".csv");
    s.w->btnExport->click();
    QCOMPARE(s.f.dialogs.texts(), QStringList{QStringLiteral("文件已经存在，覆盖文件吗？")});
    QCOMPARE(ReadFile(file + QStringLiteral(".csv")), expected);
    s.f.dialogs.clear();
    s.f.dialogs.fileNames << file + QStringLiteral(".csv");
    s.f.dialogs.answers << MsgAnswer::Yes;
    s.w->btnExport->click();
    QCOMPARE(ReadFile(file + QStringLiteral(".csv")).count("\r\n"), 7);
    QVERIFY(QDir(s.f.folder()).entryList({QStringLiteral("*.part")}).isEmpty());
}

void TestLogWindow::onlyAdministratorAndMaintainerOpenIt_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("menu");
    QTest::addColumn<bool>("opens");
    QTest::newRow("物业管家, navigation") << 0 << false << false;
    QTest::newRow("物业管家, menu") << 0 << true << false;
    QTest::newRow("管理员") << 1 << false << true;
    QTest::newRow("维护员, menu") << 2 << true << true;
}

void TestLogWindow::onlyAdministratorAndMaintainerOpenIt()
{
    QFETCH(int, level);
    QFETCH(bool, menu);
    QFETCH(bool, opens);
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    f.openData();
    OperatorLevel = uint8_t(level);
    bool opened = false;
    WhenModal<TFormOperationLog>([&opened](TFormOperationLog* w) {
        opened = true;
        w->reject();
    });
    if (menu) {
        QAction* item = nullptr;
        for (QAction* title : main.menuBar()->actions())
            if (title->menu())
                for (QAction* a : title->menu()->actions())
                    if (a->text() == QStringLiteral("操作日志"))
                        item = a;
        QVERIFY(item);
        item->trigger();
    } else {
        main.nav->entry(QStringLiteral("操作日志"))->click();
    }
    QCOMPARE(opened, opens);
    QCOMPARE(f.dialogs.texts(),
             opens ? QStringList{} : QStringList{QStringLiteral("只有管理员和维护员可以查看操作日志。")});
}

QTEST_MAIN(TestLogWindow)
#include "tst_logwindow.moc"
