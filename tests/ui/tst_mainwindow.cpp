#include "UiFixture.h"
#include "link/CardIssuerLink.h"
#include "link/SimulatorScreen.h"
#include "support/TestSql.h"
#include "ui/AlterUserInfo.h"
#include "ui/FirstSteps.h"
#include "ui/FixDataBase.h"
#include "ui/InitQdr.h"
#include "ui/LoginWindow.h"
#include "ui/MainWindow.h"
#include "ui/NavigationBar.h"
#include "ui/SetTerminalParam.h"
#include "ui/TerminalRegister.h"
#include "ui/WidgetDialogs.h"
#include "ui/Widgets.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>

namespace {

void logIn(int level, const QString& password = {})
{
    WhenModal<TFormLogin>([level, password](TFormLogin* login) {
        login->cbb1->setCurrentIndex(level);
        login->EditPassword->setText(password);
        login->ButtonLogon->click();
    });
}

// Shows the main window with the login answered at that level; true once the first login is done.
bool showAfterLogin(TFormMain& main, int level, const QString& password = {})
{
    QSignalSpy done(&main, &TFormMain::firstLoginDone);
    logIn(level, password);
    main.show();
    return done.wait(3000);
}

void nav(TFormMain& main, const char* caption)
{
    main.nav->entry(QString::fromUtf8(caption))->click();
}

// The navigation bar from top to bottom: "[group]", "entry" (with " (off)" when it cannot be used)
// and "--" for a separator.
QStringList navigationLayout(const TFormMain& main)
{
    QStringList out;
    QLayout* layout = main.nav->layout();
    for (int i = 0; i < layout->count(); ++i) {
        QWidget* w = layout->itemAt(i)->widget();
        if (auto* button = qobject_cast<QPushButton*>(w))
            out << button->text() + (button->isEnabled() ? QString() : QStringLiteral(" (off)"));
        else if (auto* line = qobject_cast<QFrame*>(w); line && line->frameShape() == QFrame::HLine)
            out << QStringLiteral("--");
        else if (auto* label = qobject_cast<QLabel*>(w))
            out << QLatin1Char('[') + label->text() + QLatin1Char(']');
    }
    return out;
}

// The menu bar: "[menu]" followed by its items (" (off)" as above, "--" for a separator); an action
// of the bar itself shows as "<action>".
QStringList menuLayout(TFormMain& main)
{
    QStringList out;
    for (QAction* top : main.menuBar()->actions()) {
        if (!top->menu()) {
            out << QLatin1Char('<') + top->text() + QLatin1Char('>');
            continue;
        }
        out << QLatin1Char('[') + top->text() + QLatin1Char(']');
        for (QAction* item : top->menu()->actions())
            out << (item->isSeparator()
                        ? QStringLiteral("--")
                        : item->text() + (item->isEnabled() ? QString() : QStringLiteral(" (off)")));
    }
    return out;
}

// The first-steps list as it reads: each step's caption with its state, "" when it is hidden.
QStringList firstSteps(const TFormMain& main)
{
    QStringList out;
    if (main.firstSteps->isHidden())
        return out;
    for (int i = 0; i < main.firstSteps->StepCount(); ++i)
        out << main.firstSteps->Step(i)->accessibleName();
    return out;
}

void sql(const QString& statement)
{
    QVERIFY2(dm->ExecuteSQL(statement), qPrintable(statement));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startWithoutSettingsFile();
    void startWithBadSettingsFile();
    void cancelledFirstLoginEnds();
    void levels_data();
    void levels();
    void statusFollowsTheCardIssuer();
    void switchOperator();
    void logInsAndSwitchesAreRecorded();
    void settingsSavedAtClose();
    void formatMenuNeedsTheCardIssuer();
    void navigationAndMenus();
    void entriesOpenTheirWindows_data();
    void entriesOpenTheirWindows();
    void enterOpensTheFocusedEntry();
    void messageBoxesCarryTheProgramTitle();
    void firstStepsFollowTheDatabase();
    void firstStepsWithoutADatabase();
    void firstStepsOpenTheirWindows_data();
    void firstStepsOpenTheirWindows();
    void firstStepFormatCountsFormattedCardsOnly();
    void firstStepsByKeyboard();
    void fitsBesideTheSimulator();
};

void TestMainWindow::startWithoutSettingsFile()
{
    UiFixture f(false);
    TFormMain main(f.backends());
    QVERIFY(!main.StartUp());
    QCOMPARE(f.dialogs.texts(), QStringList{"没有找到 SystemInfo.Dat 文件"});
    QCOMPARE(f.dialogs.shown.first().icon, MsgIcon::Error);
    QCOMPARE(f.dialogs.shown.first().buttons, MsgButtons::Abort);
}

void TestMainWindow::startWithBadSettingsFile()
{
    UiFixture f(false);
    QFile bad(f.dir.filePath("SystemInfo.dat"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(600, 'x'));
    bad.close();
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    QCOMPARE(f.dialogs.texts(), QStringList{"打开项目文件失败"});
    QCOMPARE(f.dialogs.shown.first().icon, MsgIcon::Warning);
    QCOMPARE(main.pnlSector->text(), QStringLiteral("0"));
    // The photo folder is made with its placeholder.
    QVERIFY(QFile::exists(f.dir.filePath("pic/null.jpg")));
}

void TestMainWindow::cancelledFirstLoginEnds()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    QSignalSpy done(&main, &TFormMain::firstLoginDone);
    WhenModal<TFormLogin>([](TFormLogin* login) {
        QCOMPARE(login->lblTitle->text(), QStringLiteral("IC卡智能门禁管理系统"));
        login->ButtonCancel->click();
    });
    main.show();
    QVERIFY(done.wait(3000));
    QCOMPARE(done.first().first().toBool(), false);
    QVERIFY(!main.isVisible());
}

void TestMainWindow::levels_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("debugTab");
    QTest::addColumn<QString>("name");
    QTest::newRow("steward") << 0 << "" << false << "物业管家";
    QTest::newRow("administrator") << 1 << "470925" << false << "管理员";
    QTest::newRow("maintainer") << 2 << "639104" << true << "维护员";
}

void TestMainWindow::levels()
{
    QFETCH(int, level);
    QFETCH(QString, password);
    QFETCH(bool, debugTab);
    QFETCH(QString, name);
    UiFixture f;
    QVERIFY(f.listen());
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    QCOMPARE(main.lblLevel->text(), QStringLiteral("游客"));
    QSignalSpy done(&main, &TFormMain::firstLoginDone);
    logIn(level, password);
    main.show();
    QVERIFY(done.wait(3000));
    QCOMPARE(done.first().first().toBool(), true);
    QCOMPARE(int(OperatorLevel), level);
    QCOMPARE(main.tabs->isTabVisible(1), debugTab);
    QCOMPARE(main.lblLevel->text(), name);
    QCOMPARE(main.windowTitle(), QStringLiteral("脱机IC卡发卡器"));
    QCOMPARE(main.pnlSector->text(), QStringLiteral("7"));
    QCOMPARE(int(PendingCommand), 9);

    // Answers are logged whatever the level.
    QTRY_VERIFY(main.link->attached());
    f.formattedCardOnReader(1234567);
    std::memcpy(SystemInfo.RegionID, "12345678", 8);
    IssueCommand(CmdReadOwnerCard);
    QTRY_COMPARE(main.mmo1->toPlainText(), QStringLiteral("AA,05,04,05,EE"));
}

void TestMainWindow::statusFollowsTheCardIssuer()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    logIn(0);
    f.openData(); // as the program makes it, after the first login
    main.show();
    // The status bar says which database this desk works on.
    QTRY_COMPARE(main.lblDatabase->text(),
                 QStringLiteral("本机文件 ") +
                     QDir::toNativeSeparators(AppPath + QStringLiteral("QDR_DB.GRes")));
    QVERIFY(main.btnOut->isVisible());
    QVERIFY(!main.btnIn->isVisible());
    QVERIFY(f.listen());
    QTRY_VERIFY(main.btnIn->isVisible());
    QVERIFY(!main.btnOut->isVisible());
    f.sim.unplug();
    QTRY_VERIFY(main.btnOut->isVisible());
    QVERIFY(!main.btnIn->isVisible());
    QVERIFY(!CardIssuerAttached());
    QVERIFY(f.sim.plug());
    QTRY_VERIFY(main.btnIn->isVisible());

    main.btnIn->click();
    QCOMPARE(f.dialogs.texts().last(), QStringLiteral("插入设备\rVID:1A86\rPID:E010"));
}

void TestMainWindow::switchOperator()
{
    UiFixture f;
    QFile(f.dir.filePath("LH.LIT")).open(QIODevice::WriteOnly);
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    QVERIFY(showAfterLogin(main, 2, QStringLiteral("639104")));
    QCOMPARE(main.windowTitle(), QStringLiteral("脱机IC卡发卡器")); // plain whatever the marker

    // Cancelling a switch keeps the level; the brand title shows because LH.LIT is there.
    QString title;
    WhenModal<TFormLogin>([&title](TFormLogin* login) {
        title = login->lblTitle->text();
        login->ButtonCancel->click();
    });
    nav(main, "切换操作员");
    QCOMPARE(title, QStringLiteral("岚禾IC卡智能门禁管理系统"));
    QCOMPARE(int(OperatorLevel), 2);
    QVERIFY(main.tabs->isTabVisible(1));

    logIn(1, QStringLiteral("470925"));
    nav(main, "切换操作员");
    QCOMPARE(int(OperatorLevel), 1);
    QVERIFY(!main.tabs->isTabVisible(1));
    QCOMPARE(main.lblLevel->text(), QStringLiteral("管理员"));
}

// The log-in and every switch are recorded at the level they lead to; a refused password at a switch
// is recorded at the level the program stays at, naming the level tried.
void TestMainWindow::logInsAndSwitchesAreRecorded()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    f.openData();
    QVERIFY(showAfterLogin(main, 1, QStringLiteral("470925")));
    WhenModal<TFormLogin>([](TFormLogin* login) {
        login->cbb1->setCurrentIndex(2);
        login->EditPassword->setText(QStringLiteral("wrong"));
        login->ButtonLogon->click(); // refused: the window stays
        login->EditPassword->setText(QStringLiteral("639104"));
        login->ButtonLogon->click();
    });
    nav(main, "切换操作员");
    QCOMPARE(int(OperatorLevel), 2);
    WhenModal<TFormLogin>([](TFormLogin* login) { login->ButtonCancel->click(); });
    nav(main, "切换操作员"); // cancelled: nothing to record

    QVERIFY(FlushOperationLog());
    const QVariantList entries = column(QStringLiteral(
        "select OperatorLevel || '|' || Action || '|' || Outcome || '|' || Details from OperationLog "
        "where Action in ('登录', '切换操作员') order by idx"));
    QCOMPARE(entries, (QVariantList{QStringLiteral("1|登录|成功|操作员=管理员"),
                                    QStringLiteral("1|切换操作员|维护员密码错误，请重新输入|操作员=维护员"),
                                    QStringLiteral("2|切换操作员|成功|从 管理员 到 维护员")}));
}

void TestMainWindow::settingsSavedAtClose()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    SystemInfo.Sector = 12;
    main.close();
    TSystemInfo stored{};
    QVERIFY(LoadDataFile(SettingsPath(), SettingsFileKind, &stored, sizeof stored));
    QCOMPARE(stored.Sector, uint8_t(12));
}

void TestMainWindow::formatMenuNeedsTheCardIssuer()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    QAction* format = nullptr;
    for (QAction* menu : main.menuBar()->actions())
        if (menu->menu())
            for (QAction* item : menu->menu()->actions())
                if (item->text() == QStringLiteral("IC卡初始化"))
                    format = item;
    QVERIFY(format);
    format->trigger(); // no card issuer: refused before the window opens
    QCOMPARE(f.dialogs.texts(), QStringList{"请插入发卡器"});
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(main.nav->entry(QStringLiteral("发设备卡"))->isEnabled());
}

void TestMainWindow::navigationAndMenus()
{
    UiFixture f;
    TFormMain main(f.backends());
    QCOMPARE(navigationLayout(main),
             (QStringList{"[发卡管理]", "发设备卡", "--", "业主卡批量发卡", "业主卡单独发卡", "无业主发卡",
                          "--", "删卡（无卡）", "删卡（有卡）", "[系统参数管理]", "数据库维护", "操作日志",
                          "切换操作员", "[资料管理]", "门禁资料录入", "小区资料录入", "业主资料录入"}));
    QCOMPARE(menuLayout(main),
             (QStringList{"[用户出入管理]", "小区资料管理", "业主资料管理", "--", "用户发卡", "[设备管理]",
                          "门禁资料登记", "--", "设置门禁参数", "[系统参数管理]", "IC卡初始化", "--",
                          "操作日志", "<退出>", "[帮助]", "使用说明", "--", "关于"}));
    QVERIFY(main.nav->entry(QStringLiteral("发设备卡"))->toolTip().isEmpty());
}

void TestMainWindow::entriesOpenTheirWindows_data()
{
    QTest::addColumn<QString>("place"); // "nav" or "menu"
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("window"); // class name, and the heading of the card run window
    QTest::newRow("发设备卡") << "nav"
                              << "发设备卡"
                              << "TFormSetTerminalParam";
    QTest::newRow("设置门禁参数") << "menu"
                                  << "设置门禁参数"
                                  << "TFormSetTerminalParam";
    QTest::newRow("删卡（有卡）") << "nav"
                                  << "删卡（有卡）"
                                  << "TFormInit_QDR IC卡恢复白卡";
    QTest::newRow("IC卡初始化") << "menu"
                                << "IC卡初始化"
                                << "TFormInit_QDR 格式化IC卡";
    QTest::newRow("数据库维护") << "nav"
                                << "数据库维护"
                                << "TfrmFixDataBase";
    QTest::newRow("切换操作员") << "nav"
                                << "切换操作员"
                                << "TFormLogin";
    QTest::newRow("业主卡批量发卡") << "nav"
                                    << "业主卡批量发卡"
                                    << "TFormWriteUserCard";
    QTest::newRow("用户发卡") << "menu"
                              << "用户发卡"
                              << "TFormWriteUserCard";
    QTest::newRow("删卡（无卡）") << "nav"
                                  << "删卡（无卡）"
                                  << "TFormBlackNameInfo";
    QTest::newRow("业主卡单独发卡") << "nav"
                                    << "业主卡单独发卡"
                                    << "TFormAlter 增加业主信息";
    QTest::newRow("无业主发卡") << "nav"
                                << "无业主发卡"
                                << "TFormAlter 无业主发卡";
    QTest::newRow("门禁资料录入") << "nav"
                                  << "门禁资料录入"
                                  << "TFormTerminalRegster";
    QTest::newRow("门禁资料登记") << "menu"
                                  << "门禁资料登记"
                                  << "TFormTerminalRegster";
    QTest::newRow("小区资料录入") << "nav"
                                  << "小区资料录入"
                                  << "TFormBuildInfo";
    QTest::newRow("小区资料管理") << "menu"
                                  << "小区资料管理"
                                  << "TFormBuildInfo";
    QTest::newRow("业主资料录入") << "nav"
                                  << "业主资料录入"
                                  << "TFormUserInfo";
    QTest::newRow("业主资料管理") << "menu"
                                  << "业主资料管理"
                                  << "TFormUserInfo";
}

void TestMainWindow::entriesOpenTheirWindows()
{
    QFETCH(QString, place);
    QFETCH(QString, caption);
    QFETCH(QString, window);
    UiFixture f;
    QVERIFY(f.listen());
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    f.openData();
    QTRY_VERIFY(main.link->attached());
    QString opened;
    WhenModal<QDialog>([&opened](QDialog* w) {
        opened = QString::fromLatin1(w->metaObject()->className());
        if (auto* init = qobject_cast<TFormInit_QDR*>(w))
            opened += QLatin1Char(' ') + init->lblHeading->text();
        if (qobject_cast<TFormAlter*>(w))
            opened += QLatin1Char(' ') + w->windowTitle();
        w->reject();
    });
    if (place == QStringLiteral("nav")) {
        main.nav->entry(caption)->click();
    } else {
        QAction* item = nullptr;
        for (QAction* menu : main.menuBar()->actions())
            if (menu->menu())
                for (QAction* a : menu->menu()->actions())
                    if (a->text() == caption)
                        item = a;
        QVERIFY(item);
        item->trigger();
    }
    QCOMPARE(opened, window);
    QVERIFY(f.dialogs.texts().isEmpty());
}

void TestMainWindow::enterOpensTheFocusedEntry()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    bool opened = false;
    WhenModal<TfrmFixDataBase>([&opened](TfrmFixDataBase* w) {
        opened = true;
        w->reject();
    });
    QPushButton* entry = main.nav->entry(QStringLiteral("数据库维护"));
    entry->setFocus();
    QTest::keyClick(entry, Qt::Key_Return);
    QVERIFY(opened);
}

void TestMainWindow::messageBoxesCarryTheProgramTitle()
{
    WidgetDialogs boxes;
    QString title;
    QString text;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    QCOMPARE(
        boxes.message(MsgIcon::None, MsgButtons::Ok, QStringLiteral("管理卡操作完成\r\r请到门禁机刷卡授权")),
        MsgAnswer::Ok);
    QCOMPARE(title, QStringLiteral("IC卡脱机系统"));
    QCOMPARE(text, QStringLiteral("管理卡操作完成\n\n请到门禁机刷卡授权"));
}

void TestMainWindow::firstStepsFollowTheDatabase()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    f.openData();
    QVERIFY(showAfterLogin(main, 0));
    // A new office: nothing done yet, shown after the login.
    QCOMPARE(firstSteps(main),
             (QStringList{"格式化IC卡：未完成", "小区标识号与设备卡：未完成", "小区资料：未完成",
                          "门禁资料：未完成", "业主资料：未完成", "发卡：未完成"}));
    QVERIFY(main.firstSteps->isVisible());

    // The identifier saved in the device card window, opened from its step.
    WhenModal<TFormSetTerminalParam>([](TFormSetTerminalParam* w) {
        w->edtRegion->setText(QStringLiteral("12345678"));
        w->btnSave->click();
    });
    main.firstSteps->Step(1)->click();
    QCOMPARE(main.firstSteps->Step(1)->accessibleName(), QStringLiteral("小区标识号与设备卡：已完成"));
    QCOMPARE(main.pnlRegion->text(), QStringLiteral("12345678"));

    // Rows added while a window opened from the navigation bar is open count once it closes.
    WhenModal<QDialog>([](QDialog* w) {
        sql(QStringLiteral("insert into BuildInfo (DongHao, DanYuan) values (1, 1)"));
        sql(QStringLiteral("insert into TerminalInfo (TerminalID, TerminalName) values (0, '东门')"));
        sql(QStringLiteral("insert into UserInfo (UserName, DongHao, DanYuan, FangHao, CardID) "
                           "values ('张三', 1, 1, '101', '')"));
        w->reject();
    });
    nav(main, "小区资料录入");
    QCOMPARE(firstSteps(main),
             (QStringList{"格式化IC卡：未完成", "小区标识号与设备卡：已完成", "小区资料：已完成",
                          "门禁资料：已完成", "业主资料：已完成", "发卡：未完成"}));

    // An owner with an empty or Null serial holds no card; the first card written ends the list.
    sql(QStringLiteral("insert into UserInfo (UserName, CardID) values ('李四', null)"));
    main.RefreshFirstSteps();
    QVERIFY(main.firstSteps->isVisible());
    sql(QStringLiteral("update UserInfo set CardID = '0012345678' where UserName = '李四'"));
    main.RefreshFirstSteps();
    QVERIFY(main.firstSteps->isHidden());
    QVERIFY(f.dialogs.texts().isEmpty());
}

void TestMainWindow::firstStepsWithoutADatabase()
{
    UiFixture f;
    QFile notADatabase(f.dir.filePath("QDR_DB.GRes"));
    QVERIFY(notADatabase.open(QIODevice::WriteOnly));
    notADatabase.write("not a database");
    notADatabase.close();
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    f.openData();
    main.RefreshFirstSteps();
    QVERIFY(main.firstSteps->isHidden());
    main.RefreshFirstSteps();
    // The data module said why once; the list adds no message of its own.
    QCOMPARE(f.dialogs.texts().size(), 1);
}

void TestMainWindow::firstStepsOpenTheirWindows_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("window"); // as in entriesOpenTheirWindows
    QTest::newRow("格式化IC卡") << 0 << "TFormInit_QDR 格式化IC卡";
    QTest::newRow("小区标识号与设备卡") << 1 << "TFormSetTerminalParam";
    QTest::newRow("小区资料") << 2 << "TFormBuildInfo";
    QTest::newRow("门禁资料") << 3 << "TFormTerminalRegster";
    QTest::newRow("业主资料") << 4 << "TFormUserInfo";
    QTest::newRow("发卡") << 5 << "TFormWriteUserCard";
}

void TestMainWindow::firstStepsOpenTheirWindows()
{
    QFETCH(int, step);
    QFETCH(QString, window);
    UiFixture f;
    QVERIFY(f.listen());
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    f.openData();
    main.RefreshFirstSteps();
    QTRY_VERIFY(main.link->attached());
    QString opened;
    WhenModal<QDialog>([&opened](QDialog* w) {
        opened = QString::fromLatin1(w->metaObject()->className());
        if (auto* init = qobject_cast<TFormInit_QDR*>(w))
            opened += QLatin1Char(' ') + init->lblHeading->text();
        w->reject();
    });
    main.firstSteps->Step(step)->click();
    QCOMPARE(opened, window);
    QVERIFY(f.dialogs.texts().isEmpty());
}

void TestMainWindow::firstStepFormatCountsFormattedCardsOnly()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    f.openData();
    OperatorLevel = 0;
    main.RefreshFirstSteps();

    // Without a card issuer the step is refused as its menu item is.
    main.firstSteps->Step(0)->click();
    QCOMPARE(f.dialogs.texts(), QStringList{"请插入发卡器"});
    QVERIFY(!main.firstSteps->Done(0));

    QVERIFY(f.listen());
    QTRY_VERIFY(main.link->attached());
    QVERIFY(f.sim.addCard(101));
    QVERIFY(f.sim.addCard(102));
    QVERIFY(f.sim.addCard(103));
    // A run that returns a card to blank formats none.
    const auto runOneCard = [&f](uint32_t serial) {
        return [&f, serial](TFormInit_QDR* w) {
            w->btnRun->click();
            f.sim.present(serial);
            QVERIFY(QTest::qWaitFor([w] { return w->successCount + w->failureCount > 0; }, 3000));
            w->reject();
        };
    };
    WhenModal<TFormInit_QDR>(runOneCard(101));
    nav(main, "删卡（有卡）");
    QVERIFY(!main.firstSteps->Done(0));

    // A format run whose only card fails formats none either.
    f.sim.setFault(SimFault::WriteError, 1);
    WhenModal<TFormInit_QDR>(runOneCard(102));
    main.firstSteps->Step(0)->click();
    QVERIFY(!main.firstSteps->Done(0));

    WhenModal<TFormInit_QDR>(runOneCard(103));
    main.firstSteps->Step(0)->click();
    QCOMPARE(f.sim.sectorState(103, 7), SectorState::Formatted);
    QCOMPARE(main.firstSteps->Step(0)->accessibleName(), QStringLiteral("格式化IC卡：已完成"));
    QCOMPARE(main.firstSteps->Step(0)->text(), QStringLiteral("格式化IC卡：已完成"));
}

void TestMainWindow::firstStepsByKeyboard()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    f.openData();
    QVERIFY(showAfterLogin(main, 0));
    main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&main));
    // Tab goes from one step to the next, Enter opens the focused one.
    QPushButton* terminals = main.firstSteps->Step(3);
    main.firstSteps->Step(2)->setFocus();
    QTest::keyClick(main.firstSteps->Step(2), Qt::Key_Tab);
    QCOMPARE(main.focusWidget(), terminals);
    bool opened = false;
    WhenModal<QDialog>([&opened](QDialog* w) {
        opened = qobject_cast<TFormTerminalRegster*>(w) != nullptr;
        w->reject();
    });
    QTest::keyClick(terminals, Qt::Key_Return);
    QVERIFY(opened);
}

void TestMainWindow::fitsBesideTheSimulator()
{
    // Training with the simulated card issuer on a 1366x768 screen: the main window gets the screen
    // less the simulator's strip, and must show everything there in the program's font: the first
    // steps, and the status bar with the database in use.
    UiFixture f;
    // A program folder as deep as an installed program's (/home/office/.local/share/iccard), or deeper.
    const QString folder = f.dir.filePath(QStringLiteral(".local/share/iccard"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::copy(f.dir.filePath("SystemInfo.dat"), folder + QStringLiteral("/SystemInfo.dat")));
    SetAppPath(folder);
    const QFont testFont = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 10));
    {
        TFormMain main(f.backends());
        QVERIFY(main.StartUp());
        f.openData();
        OperatorLevel = 2;
        main.ApplyLevel();
        const QRect area = BesideSimulatorStrip(QRect(0, 0, 1366, 768));
        QSignalSpy done(&main, &TFormMain::firstLoginDone);
        logIn(2, QStringLiteral("639104"));
        PlaceFrameIn(&main, area);
        main.show(); // shown, not maximised: with the status bar's size grip
        QVERIFY(done.wait(3000));
        PlaceFrameIn(&main, area); // as the program does once the window is framed
        QVERIFY(main.firstSteps->isVisible());
        QTRY_VERIFY(!main.lblDatabase->text().isEmpty());
        for (const QSize needed : {main.minimumSizeHint(), main.statusBar()->minimumSizeHint()})
            QVERIFY2(needed.width() <= area.width() && needed.height() <= area.height(),
                     qPrintable(QStringLiteral("%1x%2").arg(needed.width()).arg(needed.height())));
        QCOMPARE(main.frameGeometry(), area);
        // The database in use is shown whole.
        QTRY_VERIFY2(main.lblDatabase->width() >= main.lblDatabase->sizeHint().width(),
                     qPrintable(QStringLiteral("%1 < %2")
                                    .arg(main.lblDatabase->width())
                                    .arg(main.lblDatabase->sizeHint().width())));
    }
    QApplication::setFont(testFont);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
