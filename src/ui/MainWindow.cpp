#include "MainWindow.h"

#include "Actions.h"
#include "FixDataBase.h"
#include "InitQdr.h"
#include "LoginWindow.h"
#include "NavigationBar.h"
#include "Session.h"
#include "SetTerminalParam.h"
#include "WelcomePicture.h"
#include "Widgets.h"
#include "cards/Gbk.h"
#include "link/CardIssuerLink.h"
#include "link/CommandFrames.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "link/Responses.h"
#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/Dialogs.h"
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

} // namespace

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

    nav = new NavigationBar(this);
    nav->addGroup(QStringLiteral("发卡管理"));
    nav->addEntry(QStringLiteral("发设备卡"));
    nav->addSeparator();
    nav->addEntry(QStringLiteral("业主卡批量发卡"));
    nav->addEntry(QStringLiteral("业主卡单独发卡"));
    nav->addEntry(QStringLiteral("无业主发卡"));
    nav->addSeparator();
    nav->addEntry(QStringLiteral("删卡（无卡）"));
    nav->addEntry(QStringLiteral("删卡（有卡）"));
    nav->addGroup(QStringLiteral("系统参数管理"));
    nav->addEntry(QStringLiteral("数据库维护"));
    nav->addEntry(QStringLiteral("切换操作员"));
    nav->addGroup(QStringLiteral("资料管理"));
    nav->addEntry(QStringLiteral("门禁资料录入"));
    nav->addEntry(QStringLiteral("小区资料录入"));
    nav->addEntry(QStringLiteral("业主资料录入"));
    nav->finish();

    // Windows that are not part of the program yet are listed but cannot be opened.
    for (const char* later : {"业主卡批量发卡", "业主卡单独发卡", "无业主发卡", "删卡（无卡）",
                              "门禁资料录入", "小区资料录入", "业主资料录入"}) {
        QPushButton* entry = nav->entry(QString::fromUtf8(later));
        entry->setEnabled(false);
        entry->setToolTip(QStringLiteral("此功能尚未开放"));
    }
    OnClick(nav->entry(QStringLiteral("发设备卡")), this, &TFormMain::OpenDeviceCardWindow);
    OnClick(nav->entry(QStringLiteral("删卡（有卡）")), this, [this] { OpenInitWindow(true); });
    OnClick(nav->entry(QStringLiteral("数据库维护")), this, &TFormMain::OpenMaintenance);
    OnClick(nav->entry(QStringLiteral("切换操作员")), this, &TFormMain::SwitchOperator);

    buildMenus();

    tabs = new QTabWidget(this);
    tabWelcome = new WelcomePicture(tabs);
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

    lblScroll = new QLabel(this);
    lblScroll->setMinimumWidth(320);
    lblClock = new QLabel(this);
    lblLocks = new QLabel(this);
    statusBar()->addWidget(lblScroll, 1);
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

void TFormMain::buildMenus()
{
    QMenu* users = menuBar()->addMenu(QStringLiteral("用户出入管理"));
    users->addAction(QStringLiteral("小区资料管理"))->setEnabled(false);
    users->addAction(QStringLiteral("业主资料管理"))->setEnabled(false);
    users->addSeparator();
    users->addAction(QStringLiteral("用户发卡"))->setEnabled(false);

    QMenu* devices = menuBar()->addMenu(QStringLiteral("设备管理"));
    devices->addAction(QStringLiteral("门禁资料登记"))->setEnabled(false);
    devices->addSeparator();
    OnSignal(devices->addAction(QStringLiteral("设置门禁参数")), &QAction::triggered, this,
             &TFormMain::OpenDeviceCardWindow);

    QMenu* system = menuBar()->addMenu(QStringLiteral("系统参数管理"));
    OnSignal(system->addAction(QStringLiteral("IC卡初始化")), &QAction::triggered, this, [this] {
        if (!CardIssuerAttached()) {
            ShowMessage(QStringLiteral("请插入发卡器"));
            return;
        }
        OpenInitWindow(false);
    });

    OnSignal(menuBar()->addAction(QStringLiteral("退出")), &QAction::triggered, this, &QWidget::close);
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
    ApplyLevel();
    PendingCommand = CmdStop;
    RefreshSettingsPanels();
    setWindowTitle(QStringLiteral("脱机IC卡发卡器"));
    tabs->setTabText(0, QStringLiteral("智能IC卡门禁管理系统"));
    static_cast<WelcomePicture*>(tabWelcome)->setTitle(QStringLiteral("智能IC卡门禁管理系统"));
    m_scrollText = QStringLiteral("欢迎使用智能IC卡门禁系统") + QString(12, QChar(0x3000));
    lblScroll->setText(m_scrollText);
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

void TFormMain::OpenInitWindow(bool reset)
{
    TFormInit_QDR window(this);
    window.setMode(reset);
    window.exec();
}

void TFormMain::OpenMaintenance()
{
    TfrmFixDataBase window(this);
    window.exec();
}

void TFormMain::SwitchOperator()
{
    TFormLogin login(this);
    login.PlainTitle = SystemInfo.PlainTitles;
    login.exec();
    if (login.LoggedIn)
        OperatorLevel = login.Level;
    ApplyLevel();
}

void TFormMain::tickClock()
{
    const QDateTime now = Now();
    lblClock->setText(QLocale(QLocale::Chinese, QLocale::China).toString(now.date(), QLocale::LongFormat) +
                      QLatin1Char(' ') + now.time().toString(QStringLiteral("hh:mm:ss")));
    lblLocks->setText(lockIndicators());
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
    SaveSettings();
    QMainWindow::closeEvent(event);
}
