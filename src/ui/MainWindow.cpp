#include "MainWindow.h"

#include "Actions.h"
#include "AlterUserInfo.h"
#include "BlackName.h"
#include "BuildInfo.h"
#include "FirstSteps.h"
#include "FixDataBase.h"
#include "HelpWindow.h"
#include "InitQdr.h"
#include "LoginWindow.h"
#include "NavigationBar.h"
#include "OperationLogWindow.h"
#include "Session.h"
#include "SetTerminalParam.h"
#include "TerminalRegister.h"
#include "UserInfo.h"
#include "WelcomePicture.h"
#include "Widgets.h"
#include "WriteUserCard.h"
#include "cards/Gbk.h"
#include "link/CardIssuerLink.h"
#include "link/CommandFrames.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "link/Responses.h"
#include "manual/Guide.h"
#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/FirstSteps.h"
#include "store/LogEntries.h"
#include "store/OperationError.h"
#include "store/OperationLog.h"
#include "store/SaveLoad.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

// Keyboard lock states as the kernel's LED class reports them; empty where it does not.
QString lockIndicators()
{
    QStringList on;
    const QDir leds(QStringLiteral("/sys/class/leds"));
    const struct {
        const char* suffix;
        const char* name;
    } locks[] = {{"::capslock", "CAPS"}, {"::numlock", "NUM"}, {"::scrolllock", "SCRL"}};
    for (const auto& lock : locks) {
        const QStringList found =
            leds.entryList({QStringLiteral("*") + QLatin1String(lock.suffix)}, QDir::Dirs);
        if (found.isEmpty())
            continue;
        QFile brightness(leds.filePath(found.first() + QStringLiteral("/brightness")));
        if (brightness.open(QIODevice::ReadOnly) && brightness.readAll().trimmed() != "0")
            on << QLatin1String(lock.name);
    }
    return on.join(QLatin1Char(' '));
}

// An operator logged in or took over: the entries from now on carry the new level, this one
// first.
void recordOperatorChange(const QString& action, int level, const QString& details)
{
    SetLogOperatorLevel(level);
    LogEntry entry;
    entry.action = action;
    entry.outcome = LogSucceeded;
    entry.details = details;
    RecordOperation(entry);
}

} // namespace

// Every window the main window opens, in one table: its navigation entry (group, caption, a
// separator line before it), its menu item (menu, caption, place in the menu, a separator before
// it), what it needs before it opens, and its opener. Adding a window is adding its line.
// - Navigation entries appear in the order of the table; a group begins at its first entry, so the
//   entries of a group stay together.
// - Menus appear in the order of MenuBar; the items of a menu by their place. A menu title whose
//   only line has no item caption is an action of the menu bar itself.
// - A line without opener is a window that is not part of the program yet: listed, but it cannot
//   be used (the entry says "此功能尚未开放").
// - CardIssuer: without an attached card issuer the operator is told "请插入发卡器" and nothing opens.
// - Supervisor: only the administrator and the maintainer open it; 物业管家 is told so and nothing
//   opens.
const char* const TFormMain::MenuBar[] = {"用户出入管理", "设备管理", "系统参数管理", "退出", "帮助"};

// clang-format off
const TFormMain::NavItem TFormMain::NavItems[] = {
    // navigation bar: group, entry         menu bar: menu, item, place, separator    needs       opener
    {{"发卡管理", "发设备卡"},              {"设备管理", "设置门禁参数", 2, true},    Anything,   &TFormMain::OpenDeviceCardWindow},
    {{"发卡管理", "业主卡批量发卡", true},  {"用户出入管理", "用户发卡", 3, true},    Anything,   &TFormMain::OpenOwnerCards},
    {{"发卡管理", "业主卡单独发卡"},        {},                                       Anything,   &TFormMain::OpenOwnerEditor},
    {{"发卡管理", "无业主发卡"},            {},                                       Anything,   &TFormMain::OpenOwnerlessCard},
    {{"发卡管理", "删卡（无卡）", true},    {},                                       Anything,   &TFormMain::OpenBlackList},
    {{"发卡管理", "删卡（有卡）"},          {},                                       Anything,   &TFormMain::OpenRestoreBlankWindow},
    {{"系统参数管理", "数据库维护"},        {},                                       Anything,   &TFormMain::OpenMaintenance},
    {{"系统参数管理", "操作日志"},          {"系统参数管理", "操作日志", 2, true},    Supervisor, &TFormMain::OpenOperationLog},
    {{"系统参数管理", "切换操作员"},        {},                                       Anything,   &TFormMain::SwitchOperator},
    {{"资料管理", "门禁资料录入"},          {"设备管理", "门禁资料登记", 1},          Anything,   &TFormMain::OpenTerminalRegister},
    {{"资料管理", "小区资料录入"},          {"用户出入管理", "小区资料管理", 1},      Anything,   &TFormMain::OpenBuildInfo},
    {{"资料管理", "业主资料录入"},          {"用户出入管理", "业主资料管理", 2},      Anything,   &TFormMain::OpenUserInfo},
    {{},                                    {"系统参数管理", "IC卡初始化", 1},        CardIssuer, &TFormMain::OpenFormatWindow},
    {{},                                    {"退出"},                                 Anything,   &TFormMain::Quit},
    {{},                                    {"帮助", "使用说明", 1},                  Anything,   &TFormMain::OpenManual},
    {{},                                    {"帮助", "关于", 2, true},                Anything,   &TFormMain::ShowAbout},
};
// clang-format on

// The order of a new office's first day: cards are formatted and the community identifier is set
// before owner cards are written (an owner card written with an empty identifier is refused at the
// door), and owners need their buildings and the door terminals first. Each step opens the window
// of the navigation entry or menu item with the same opener, under the same conditions.
const TFormMain::FirstStep TFormMain::FirstSteps[] = {
    {"格式化IC卡", &TFormMain::OpenFormatWindow}, {"小区标识号与设备卡", &TFormMain::OpenDeviceCardWindow},
    {"小区资料", &TFormMain::OpenBuildInfo},      {"门禁资料", &TFormMain::OpenTerminalRegister},
    {"业主资料", &TFormMain::OpenUserInfo},       {"发卡", &TFormMain::OpenOwnerCards},
};

// Every answer of the card issuer goes into the debug memo, whether or not its tab is shown.
class TFormMain::MemoLog final : public ResponseLog {
public:
    explicit MemoLog(QPlainTextEdit* memo) : m_memo(memo) {}
    void appendLine(const QString& line) override { m_memo->appendPlainText(line); }

private:
    QPlainTextEdit* m_memo;
};

TFormMain::TFormMain(QWidget* parent) : TFormMain(DefaultHidBackends(), parent) {}

TFormMain::TFormMain(std::vector<std::unique_ptr<HidBackend>> backends, QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("IC卡脱机系统"));

    buildNavigation();
    buildMenus();

    tabs = new QTabWidget(this);
    tabWelcome = new QWidget(tabs);
    welcome = new WelcomePicture(tabWelcome);
    QStringList stepCaptions;
    for (const FirstStep& step : FirstSteps)
        stepCaptions << QString::fromUtf8(step.caption);
    firstSteps = new FirstStepsPanel(stepCaptions, tabWelcome);
    firstSteps->hide(); // until the database has been looked at
    for (int i = 0; i < firstSteps->StepCount(); ++i)
        OnClick(firstSteps->Step(i), this, [this, i] { OpenFirstStep(i); });
    auto* welcomeLayout = new QHBoxLayout(tabWelcome);
    welcomeLayout->setContentsMargins(0, 0, 0, 0);
    welcomeLayout->setSpacing(0);
    welcomeLayout->addWidget(firstSteps);
    welcomeLayout->addWidget(welcome, 1);
    tabs->addTab(tabWelcome, QStringLiteral("IC卡门禁管理系统"));
    tabDebug = new QWidget(tabs);
    mmo1 = new QPlainTextEdit(tabDebug);
    mmo1->setReadOnly(true);
    mmo1->setAccessibleName(QStringLiteral("系统调试"));
    mmo1->setFont(QFont(QStringLiteral("monospace")));
    auto* debugLayout = new QVBoxLayout(tabDebug);
    debugLayout->setContentsMargins(10, 10, 10, 10);
    debugLayout->addWidget(mmo1);
    tabs->addTab(tabDebug, QStringLiteral("系统调试"));
    tabs->setTabVisible(1, false);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(6, 6, 6, 0);
    right->addWidget(tabs, 1);
    right->addWidget(buildStatusStrip());

    auto* central = new QWidget(this);
    auto* h = new QHBoxLayout(central);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(0);
    h->addWidget(nav);
    h->addLayout(right, 1);
    setCentralWidget(central);

    // The status bar fits a main window beside the simulated card issuer on a screen 1366 wide
    // (926 wide): the scrolling text may show a part of itself, and the database in use, shown
    // whole wherever there is room (a folder under C:\Users\…\AppData\Local or Temp too: the
    // scrolling text then keeps 60 pixels), gives way for a very long folder name (its tip names it
    // whole).
    lblScroll = new QLabel(this);
    lblScroll->setMinimumWidth(60);
    lblClock = new QLabel(this);
    // As wide as its longest text from the start: the time changes every second, and a label that
    // grows only once the date does is cut at the window's edge meanwhile.
    lblClock->setMinimumWidth(
        lblClock->fontMetrics().horizontalAdvance(QStringLiteral("2026年12月30日星期三 23:59:59 ")));
    lblLocks = new QLabel(this);
    // Which database this desk works on: its own file, or the server the desks share.
    lblDatabase = MakeValueLabel(QString(), this);
    lblDatabase->setMinimumWidth(100);
    statusBar()->addWidget(lblScroll, 1);
    statusBar()->addPermanentWidget(CaptionFor(lblDatabase, QStringLiteral("数据库："), this));
    statusBar()->addPermanentWidget(lblDatabase);
    statusBar()->addPermanentWidget(lblLocks);
    statusBar()->addPermanentWidget(lblClock);
    m_clockTimer = new QTimer(this);
    OnSignal(m_clockTimer, &QTimer::timeout, this, &TFormMain::tickClock);
    m_clockTimer->start(1000);
    m_scrollTimer = new QTimer(this);
    OnSignal(m_scrollTimer, &QTimer::timeout, this, &TFormMain::tickScroll);
    m_scrollTimer->start(300);
    tickClock();

    m_log = std::make_unique<MemoLog>(mmo1);
    CurrentResponseLog = m_log.get();
    link = new CardIssuerLink(std::move(backends), this);
    OnSignal(link, &CardIssuerLink::attachedChanged, this, &TFormMain::ShowDeviceAttached);
}

TFormMain::~TFormMain()
{
    if (CurrentResponseLog == m_log.get())
        CurrentResponseLog = nullptr;
}

void TFormMain::buildNavigation()
{
    nav = new NavigationBar(this);
    const char* group = nullptr;
    for (const NavItem& item : NavItems) {
        if (!item.entry.caption)
            continue;
        if (!group || std::strcmp(group, item.entry.group) != 0) {
            group = item.entry.group;
            nav->addGroup(QString::fromUtf8(group));
        } else if (item.entry.separatorBefore) {
            nav->addSeparator();
        }
        QPushButton* entry = nav->addEntry(QString::fromUtf8(item.entry.caption));
        if (item.open) {
            OnClick(entry, this, [this, &item] { Open(item); });
        } else {
            entry->setEnabled(false);
            entry->setToolTip(QStringLiteral("此功能尚未开放"));
        }
    }
    nav->finish();
}

void TFormMain::buildMenus()
{
    for (const char* title : MenuBar) {
        std::vector<const NavItem*> items;
        for (const NavItem& item : NavItems)
            if (item.menuItem.menu && std::strcmp(item.menuItem.menu, title) == 0)
                items.push_back(&item);
        std::stable_sort(items.begin(), items.end(), [](const NavItem* a, const NavItem* b) {
            return a->menuItem.position < b->menuItem.position;
        });
        const auto connectTo = [this](QAction* action, const NavItem& item) {
            if (item.open)
                OnSignal(action, &QAction::triggered, this, [this, &item] { Open(item); });
            else
                action->setEnabled(false);
        };
        // A title with one item of no caption is an action of the menu bar itself.
        if (items.size() == 1 && !items.front()->menuItem.caption) {
            connectTo(menuBar()->addAction(QString::fromUtf8(title)), *items.front());
            continue;
        }
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(title));
        for (const NavItem* item : items) {
            if (item->menuItem.separatorBefore && !menu->actions().isEmpty())
                menu->addSeparator();
            connectTo(menu->addAction(QString::fromUtf8(item->menuItem.caption)), *item);
        }
    }
}

void TFormMain::Open(const NavItem& item)
{
    if (item.needs == NavNeeds::CardIssuer && !RequireCardIssuer())
        return;
    if (item.needs == NavNeeds::Supervisor && !RequireSupervisor())
        return;
    (this->*item.open)();
    // The window may have added what a first step looks for.
    RefreshFirstSteps();
}

void TFormMain::OpenFirstStep(int step)
{
    for (const NavItem& item : NavItems)
        if (item.open == FirstSteps[step].open) {
            Open(item);
            return;
        }
}

void TFormMain::RefreshFirstSteps()
{
    FirstStepsProgress steps;
    try {
        if (!dm) {
            firstSteps->hide();
            return;
        }
        steps = ReadFirstSteps(*dm);
    } catch (const OperationError&) {
        // The data module has said why the database cannot be used; the list waits for it.
        firstSteps->hide();
        return;
    }
    const bool done[] = {m_cardsFormatted, steps.regionSet, steps.buildings,
                         steps.terminals,  steps.owners,    steps.cardWritten};
    static_assert(std::size(done) == std::size(FirstSteps));
    for (int i = 0; i < firstSteps->StepCount(); ++i)
        firstSteps->SetDone(i, done[i]);
    firstSteps->setVisible(!steps.cardWritten);
}

QWidget* TFormMain::buildStatusStrip()
{
    auto* strip = new QFrame(this);
    strip->setFrameShape(QFrame::StyledPanel);
    auto* h = new QHBoxLayout(strip);
    h->setContentsMargins(8, 4, 8, 4);

    btnOut = MakeButton(QStringLiteral("  拔 出"), strip);
    btnIn = MakeButton(QStringLiteral("  插 入"), strip);
    btnOut->setStyleSheet(QStringLiteral("color: #a02020;"));
    btnIn->setStyleSheet(QStringLiteral("color: #1d7a31;"));
    btnIn->hide();
    OnClick(btnIn, this, &TFormMain::btnInClick);
    OnClick(btnOut, this, &TFormMain::btnOutClick);
    auto* deviceCaption = new QLabel(QStringLiteral("设备状态： "), strip);
    deviceCaption->setBuddy(btnOut);

    pnlSector = MakePanel(QString(), strip);
    pnlRegion = MakePanel(QString(), strip);
    pnlRegion->setMinimumWidth(110);
    lblLevel = MakePanel(QStringLiteral("游客"), strip);

    h->addWidget(deviceCaption);
    h->addWidget(btnOut);
    h->addWidget(btnIn);
    h->addSpacing(24);
    h->addWidget(CaptionFor(pnlSector, QStringLiteral("使用扇区："), strip));
    h->addWidget(pnlSector);
    h->addSpacing(24);
    h->addWidget(CaptionFor(pnlRegion, QStringLiteral("小区编号："), strip));
    h->addWidget(pnlRegion);
    h->addSpacing(24);
    h->addWidget(CaptionFor(lblLevel, QStringLiteral("登陆人员："), strip));
    h->addWidget(lblLevel);
    h->addStretch();
    return strip;
}

bool TFormMain::StartUp()
{
    const SettingsLoad loaded = LoadSettings();
    if (loaded == SettingsLoad::Missing) {
        ShowError(QStringLiteral("没有找到 SystemInfo.Dat 文件"));
        return false;
    }
    if (loaded == SettingsLoad::Failed)
        ShowWarning(QStringLiteral("打开项目文件失败"));
    SystemInfo.PlainTitles = QFile::exists(AppPath + QStringLiteral("LH.LIT")) ? 0 : 1;
    StartCommandWorker();
    CorrectSector(SystemInfo);

    const QString pic = AppPath + QStringLiteral("pic");
    if (!QDir(pic).exists()) {
        QDir().mkpath(pic);
        QFile::remove(pic + QStringLiteral("/null.jpg"));
        QFile::copy(AppPath + QStringLiteral("null.jpg"), pic + QStringLiteral("/null.jpg"));
    }
    RefreshSettingsPanels();
    return true;
}

void TFormMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        OnceLater(this, &TFormMain::FormShow);
    }
}

void TFormMain::FormShow()
{
    TFormLogin login(this);
    login.PlainTitle = 1;
    login.exec();
    if (!login.LoggedIn) {
        Q_EMIT firstLoginDone(false);
        close();
        return;
    }
    OperatorLevel = login.Level;
    recordOperatorChange(LogAction::LogIn, OperatorLevel,
                         QStringLiteral("操作员=") + LevelName(OperatorLevel));
    ApplyLevel();
    PendingCommand = CmdStop;
    RefreshSettingsPanels();
    setWindowTitle(QStringLiteral("脱机IC卡发卡器"));
    tabs->setTabText(0, QStringLiteral("智能IC卡门禁管理系统"));
    welcome->setTitle(QStringLiteral("智能IC卡门禁管理系统"));
    m_scrollText = QStringLiteral("欢迎使用智能IC卡门禁系统") + QString(12, QChar(0x3000));
    lblScroll->setText(m_scrollText);
    RefreshFirstSteps();
    Q_EMIT firstLoginDone(true);
}

void TFormMain::ApplyLevel()
{
    tabs->setTabVisible(1, OperatorLevel == 2);
    const QString name = LevelName(OperatorLevel);
    if (!name.isEmpty())
        lblLevel->setText(name);
}

void TFormMain::RefreshSettingsPanels()
{
    pnlSector->setText(QString::number(SystemInfo.Sector));
    pnlRegion->setText(GbkToString(SystemInfo.RegionID, 8));
}

void TFormMain::ShowDeviceAttached(bool attached)
{
    btnIn->setVisible(attached);
    btnOut->setVisible(!attached);
}

void TFormMain::btnInClick()
{
    ShowMessage(CardIssuerLink::btnInMessage());
}

void TFormMain::btnOutClick()
{
    ShowMessage(CardIssuerLink::btnOutMessage());
}

void TFormMain::OpenDeviceCardWindow()
{
    {
        TFormSetTerminalParam window(this);
        window.exec();
    }
    RefreshSettingsPanels();
}

void TFormMain::OpenRestoreBlankWindow()
{
    OpenInitWindow(true);
}

void TFormMain::OpenFormatWindow()
{
    OpenInitWindow(false);
}

void TFormMain::OpenManual()
{
    ShowHelp(QLatin1String(GuideIndexPage));
}

void TFormMain::ShowAbout()
{
    ShowInformation(
        QStringLiteral("IC卡脱机系统（门禁卡管理系统）\n版本 %1\n\n"
                       "小区门禁的发卡程序：设备卡、业主卡、黑名单卡，和小区、门禁、业主资料。\n\n"
                       "使用说明在“帮助”菜单中；在任何窗口中按 F1 键，打开这个窗口的说明。")
            .arg(QStringLiteral(ICCARD_VERSION)));
}

void TFormMain::Quit()
{
    close();
}

void TFormMain::OpenInitWindow(bool reset)
{
    TFormInit_QDR window(this);
    window.setMode(reset);
    window.exec();
    if (window.cardsFormatted > 0)
        m_cardsFormatted = true;
}

void TFormMain::OpenMaintenance()
{
    TfrmFixDataBase window(this);
    window.exec();
}

void TFormMain::OpenOperationLog()
{
    TFormOperationLog window(this);
    window.exec();
}

void TFormMain::OpenOwnerEditor()
{
    TFormAlter window(this);
    window.SetMode(TFormAlter::Mode::Add);
    window.exec();
}

void TFormMain::OpenOwnerlessCard()
{
    TFormAlter window(this);
    window.SetMode(TFormAlter::Mode::Ownerless);
    window.exec();
}

void TFormMain::OpenOwnerCards()
{
    TFormWriteUserCard window(this);
    window.exec();
}

void TFormMain::OpenBlackList()
{
    TFormBlackNameInfo window(this);
    window.exec();
}

void TFormMain::OpenBuildInfo()
{
    TFormBuildInfo window(this);
    window.exec();
}

void TFormMain::OpenTerminalRegister()
{
    TFormTerminalRegster window(this);
    window.exec();
}

void TFormMain::OpenUserInfo()
{
    TFormUserInfo window(this);
    window.exec();
}

void TFormMain::SwitchOperator()
{
    TFormLogin login(this);
    login.PlainTitle = SystemInfo.PlainTitles;
    login.LogAs = LogAction::SwitchOperator;
    login.exec();
    if (login.LoggedIn) {
        const QString from = LevelName(OperatorLevel);
        OperatorLevel = login.Level;
        recordOperatorChange(LogAction::SwitchOperator, OperatorLevel,
                             QStringLiteral("从 %1 到 %2").arg(from, LevelName(OperatorLevel)));
    }
    ApplyLevel();
}

void TFormMain::tickClock()
{
    const QDateTime now = Now();
    lblClock->setText(QLocale(QLocale::Chinese, QLocale::China).toString(now.date(), QLocale::LongFormat) +
                      QLatin1Char(' ') + now.time().toString(QStringLiteral("hh:mm:ss")));
    lblLocks->setText(lockIndicators());
    const QString database = dm ? DatabaseInUse(*dm) : QString();
    if (lblDatabase->text() != database) {
        lblDatabase->setText(database);
        lblDatabase->setToolTip(database);
    }
}

void TFormMain::tickScroll()
{
    if (m_scrollText.isEmpty())
        return;
    m_scrollText = m_scrollText.mid(1) + m_scrollText.left(1);
    lblScroll->setText(m_scrollText);
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    RecordSettingsSaved(SaveSettings());
    QMainWindow::closeEvent(event);
}
