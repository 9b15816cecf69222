#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "store/AppPath.h"
#include "store/DM.h"
#include "ui/InputDongHao.h"
#include "ui/MainWindow.h"
#include "ui/SearchCondition.h"
#include "ui/WidgetDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QScreen>
#include <QTranslator>

namespace {

// Statements the answer handler runs go through the data module, which reports a failure itself.
class DataModuleExecutor final : public SqlExecutor {
public:
    bool executeSql(const QString& statement) override { return dm && dm->ExecuteSQL(statement); }
};

void useChineseLookAndFeel(QApplication& app, QTranslator& translator)
{
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    if (translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);
    const QStringList families = QFontDatabase::families();
    for (const char* family : {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Microsoft YaHei"}) {
        if (families.contains(QString::fromUtf8(family))) {
            QFont font(QString::fromUtf8(family));
            font.setPointSize(10);
            app.setFont(font);
            break;
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("iccard"));
    // No display name: Qt would append it to every window title, and each window's title is its
    // own ("系统登录", "设置终端参数", ...). Message boxes carry the program's title themselves.
    QApplication::setApplicationVersion(QStringLiteral(ICCARD_VERSION));
    QTranslator translator;
    useChineseLookAndFeel(app, translator);

    ResetProgramState();
    SetAppPath(QCoreApplication::applicationDirPath());
    QDir::setCurrent(AppPath);
    WidgetDialogs dialogs;
    setDialogs(&dialogs);

    int rc = 1;
    {
        TFormMain main;
        if (main.StartUp()) {
            dm = new Tdm;
            SearchCondition(); // kept hidden for the whole run
            InputDongHao();    // the same
            DataModuleExecutor executor;
            CurrentSqlExecutor = &executor;
            main.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
            main.showMaximized();
            rc = QApplication::exec();
            CurrentSqlExecutor = nullptr;
        }
        StopCommandWorker();
    }
    FreeSearchCondition();
    FreeInputDongHao();
    delete dm;
    dm = nullptr;
    setDialogs(nullptr);
    return rc;
}
