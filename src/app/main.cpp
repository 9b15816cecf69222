#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "link/SimulatorBackend.h"
#include "link/SimulatorScreen.h"
#include "office/BlackList.h"
#include "store/AppPath.h"
#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/LogEntries.h"
#include "store/OperationError.h"
#include "store/Startup.h"
#include "store/System.h"
#include "ui/HelpWindow.h"
#include "ui/InputDongHao.h"
#include "ui/LookAndFeel.h"
#include "ui/MainWindow.h"
#include "ui/SearchCondition.h"
#include "ui/WidgetDialogs.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

namespace {

// The owners a written blacklist card named are marked through the data module, which reports a
// failure itself.
class DataModuleOwnerMarks final : public BlackListOwnerMarks {
public:
    bool markOwner(int idx, bool blacklisted) override { return dm && SetOwnerBlackListed(idx, blacklisted); }
};

const char* const HelpText = R"(用法：iccard [--folder 目录] [--database 数据库]

IC卡脱机系统：小区门禁的发卡程序（设备卡、业主卡、黑名单卡）和小区、门禁、业主资料。

选项：
  --folder 目录   程序目录：SystemInfo.dat、数据库 QDR_DB.GRes、照片目录 pic 和
                  备份目录 dbBak 所在的目录；还没有时建立它
  --database 数据库
                  使用的数据库：PostgreSQL 服务器的地址，如
                  postgresql://office@192.168.1.20:5432/iccard，或一个数据库文件；
                  不给时用程序目录中 database.ini 指定的服务器，没有这个文件时用
                  程序目录中的 QDR_DB.GRes。密码不写在这里，写在 ~/.pgpass 中
  -v, --version   显示版本
  -h, --help      显示本说明

程序目录，按这个顺序：
  1. --folder 给出的目录；
  2. 环境变量 ICCARD_FOLDER 给出的目录；
  3. 程序所在的目录，如果其中有 SystemInfo.dat（把程序和资料放在一起的拷贝）；
  4. 当前用户的数据目录 %1。
第一次使用时建立程序目录，并放入 SystemInfo.dat 和 null.jpg；已有的文件不会被替换。
主窗口的状态栏和数据库维护窗口显示正在使用的目录和数据库。

几台电脑（门岗、物业办公室）共用一个小区的资料时，把数据库放在 PostgreSQL 服务器上，
在每台电脑的程序目录中写 database.ini：
  [PostgreSQL]
  host=192.168.1.20
  port=5432
  dbname=iccard
  user=office

环境变量：
  ICCARD_FOLDER      程序目录（同 --folder）
  ICCARD_SIMULATOR   模拟发卡器 iccard-sim 的套接字，代替真实的发卡器；这时主窗口
                     不最大化，屏幕右边留给模拟发卡器的窗口

命令行工具 iccard-data 用同一个程序目录导出、导入业主资料，备份、恢复和检查数据库。)";

void print(const QString& text)
{
    Os::WriteText(stdout, text + QLatin1Char('\n'));
}

void complain(const QString& text)
{
    Os::WriteText(stderr, text + QLatin1Char('\n'));
}

} // namespace

int main(int argc, char* argv[])
{
    // --help and --version are answered before any window exists, so that they work without a
    // desktop (from a terminal or a script).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption folderOption(QStringLiteral("folder"), QString(), QStringLiteral("dir"));
    const QCommandLineOption databaseOption(QStringLiteral("database"), QString(), QStringLiteral("url"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    const QCommandLineOption versionOption(QStringList{QStringLiteral("version"), QStringLiteral("v")});
    parser.addOptions({folderOption, databaseOption, helpOption, versionOption});
    // Qt's own options (-style, -reverse, ...) are single words, not letters of -h and -v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.parse(arguments); // errors are reported below, once Qt has taken its own options
    if (parser.isSet(helpOption)) {
        print(QString::fromUtf8(HelpText).arg(QDir::toNativeSeparators(UserDataFolder())));
        return 0;
    }
    if (parser.isSet(versionOption)) {
        print(QStringLiteral("iccard (IC卡脱机系统) %1").arg(QStringLiteral(ICCARD_VERSION)));
        return 0;
    }

    QApplication app(argc, argv);
    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        complain(
            parser.errorText().isEmpty()
                ? QStringLiteral("不认识的参数：%1").arg(parser.positionalArguments().join(QLatin1Char(' ')))
                : parser.errorText());
        complain(QStringLiteral("iccard --help 列出全部选项。"));
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("iccard"));
    // No display name: Qt would append it to every window title, and each window's title is its
    // own ("系统登录", "设置终端参数", ...). Message boxes carry the program's title themselves.
    QApplication::setApplicationVersion(QStringLiteral(ICCARD_VERSION));
    // The desktop matches the windows with the menu entry (and its icon) by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("iccard"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("iccard")));
    QTranslator translator;
    UseChineseLookAndFeel(translator);

    ResetProgramState();
    WidgetDialogs dialogs;
    setDialogs(&dialogs);
    const QString executableFolder = QCoreApplication::applicationDirPath();
    const FolderChoice folder = ChooseProgramFolder(executableFolder, parser.value(folderOption),
                                                    qEnvironmentVariable(FolderVariable), UserDataFolder());
    const FolderPreparation prepared =
        PrepareProgramFolder(folder.folder, ShippedFilesFolder(executableFolder));
    if (!prepared.ok) {
        ShowError(prepared.reason);
        setDialogs(nullptr);
        return 1;
    }
    if (parser.isSet(databaseOption)) {
        // Read now, so that a file is found from where the program was started.
        try {
            SetDatabaseOverride(ParseDatabaseUrl(parser.value(databaseOption)).Url());
        } catch (const OperationError& e) {
            complain(e.message());
            setDialogs(nullptr);
            return 2;
        }
    }
    SetAppPath(folder.folder);
    QDir::setCurrent(AppPath);

    int rc = 1;
    {
        TFormMain main;
        if (main.StartUp()) {
            dm = StartDataModule();
            RecordProgramStart();
            SearchCondition(); // kept hidden for the whole run
            InputDongHao();    // the same
            InstallHelpKey();  // F1 in every window
            DataModuleOwnerMarks marks;
            CurrentOwnerMarks = &marks;
            const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
            if (qEnvironmentVariableIsSet(SimulatorVariable)) {
                // Training with the simulated card issuer: its window keeps the right edge of the
                // screen, and the main window takes the rest, so that neither hides the other.
                const QRect area = BesideSimulatorStrip(screen);
                PlaceFrameIn(&main, area);
                main.show();
                // A window manager frames the window after it is shown: place it again, frame included.
                QTimer::singleShot(300, &main, [&main, area] { PlaceFrameIn(&main, area); });
            } else {
                main.setGeometry(screen);
                main.showMaximized();
            }
            rc = QApplication::exec();
            CurrentOwnerMarks = nullptr;
            CloseHelp();
            RecordProgramEnd();
        }
        StopCommandWorker();
    }
    StopOperationLog();
    FreeSearchCondition();
    FreeInputDongHao();
    delete dm;
    dm = nullptr;
    setDialogs(nullptr);
    return rc;
}
