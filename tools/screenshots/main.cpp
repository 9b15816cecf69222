// iccard-screenshots: drives the real windows against an in-process simulated card issuer and
// saves pictures of them: the README's set, or with --guide the operator's guide's set on a
// scripted community; with --server the guide's picture of the maintenance window shows the program
// on that PostgreSQL database (an empty one), else on its file. Runs under a display (Xvfb, see
// scripts/screenshots.sh) or the offscreen platform, which is given a 1366x768 screen.
//   iccard-screenshots [--guide [--server URL]] OUTPUT-FOLDER PROGRAM-FOLDER
//   iccard-screenshots --list-guide

#include "Sets.h"
#include "Shots.h"
#include "SimCardIssuer.h"
#include "link/CardIssuerLink.h"
#include "link/CommandWorker.h"
#include "link/LinkHooks.h"
#include "link/ProgramState.h"
#include "link/SimulatorBackend.h"
#include "office/BlackList.h"
#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "store/OperationLog.h"
#include "store/Startup.h"
#include "ui/LoginWindow.h"
#include "ui/LookAndFeel.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <memory>

namespace {

const char* const Usage = "usage: iccard-screenshots [--guide [--server URL]] OUTPUT-FOLDER PROGRAM-FOLDER\n"
                          "       iccard-screenshots --list-guide\n";

// The owners a written blacklist card named are marked through the data module, as in the program.
class DataModuleOwnerMarks final : public BlackListOwnerMarks {
public:
    bool markOwner(int idx, bool blacklisted) override { return dm && SetOwnerBlackListed(idx, blacklisted); }
};

// The offscreen platform's screen is 800x600 unless told otherwise: give it the office's 1366x768,
// so that the windows open at the size they have there.
void officeScreen(const QTemporaryDir& scratch)
{
    if (qgetenv("QT_QPA_PLATFORM") != "offscreen")
        return;
    const QString config = scratch.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(R"({"screens": [{"name": "1366x768", "x": 0, "y": 0, "width": 1366, "height": 768,
                  "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
}

// The program folder of the run: one short path from run to run, so that the pictures that show it
// do not change (and the status bar has room for its clock), unless another run holds it; then a
// new temporary one.
class ProgramFolder {
public:
    ProgramFolder() : m_lock(QDir::temp().filePath(QStringLiteral("门禁.lock")))
    {
        if (m_lock.tryLock()) {
            m_fixed = QDir::temp().filePath(QStringLiteral("门禁"));
            QDir(m_fixed).removeRecursively();
            QDir().mkpath(m_fixed);
        } else {
            m_temporary = std::make_unique<QTemporaryDir>();
        }
    }
    ~ProgramFolder()
    {
        if (!m_fixed.isEmpty())
            QDir(m_fixed).removeRecursively();
    }
    QString path() const { return m_temporary ? m_temporary->path() : m_fixed; }

private:
    QLockFile m_lock;
    QString m_fixed;
    std::unique_ptr<QTemporaryDir> m_temporary;
};

// The status bar's welcome text scrolls every 300 ms: it is stopped at its start, so that the
// main window's pictures do not change from run to run.
void stillStatusBar(TFormMain& main)
{
    for (QTimer* timer : main.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (timer->interval() == 300)
            timer->stop();
    }
    QString text = main.lblScroll->text();
    for (qsizetype i = 0; i < text.size() && !text.startsWith(QStringLiteral("欢迎")); ++i)
        text = text.mid(1) + text.left(1);
    main.lblScroll->setText(text);
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args == QStringList{QStringLiteral("--list-guide")}) {
        for (const QString& name : GuidePictures())
            std::printf("%s\n", qPrintable(name));
        return 0;
    }
    const bool guide = !args.isEmpty() && args.first() == QStringLiteral("--guide");
    if (guide)
        args.removeFirst();
    QString server;
    if (guide && args.size() > 1 && args.first() == QStringLiteral("--server")) {
        server = args[1];
        args.remove(0, 2);
    }
    if (args.size() != 2) {
        std::fputs(Usage, stderr);
        return 2;
    }
    QTemporaryDir scratch;
    officeScreen(scratch);
    QApplication app(argc, argv);
    QTranslator translator;
    UseChineseLookAndFeel(translator);
    SetOutputFolder(args[0]);
    const QString shipped = args[1];

    ResetProgramState();
    ProgramFolder folder;
    for (const char* name : {"SystemInfo.dat", "null.jpg"}) {
        if (!QFile::copy(QDir(shipped).filePath(QLatin1String(name)),
                         QDir(folder.path()).filePath(QLatin1String(name)))) {
            std::fprintf(stderr, "%s not found in %s\n", name, qPrintable(shipped));
            return 1;
        }
    }
    SetAppPath(folder.path());
    ShotDialogs dialogs;
    setDialogs(&dialogs);
    // A clock that stands still, so that the pictures do not change from run to run.
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(15, 0)));
    setClock(&clock);

    SimCardIssuer sim;
    const QString socket = QDir(folder.path()).filePath(QStringLiteral("sim.sock"));
    if (!sim.listen(socket))
        return 1;

    int rc = 0;
    {
        std::vector<std::unique_ptr<HidBackend>> backends;
        backends.push_back(std::make_unique<SimulatorBackend>(socket));
        TFormMain main(std::move(backends));
        if (!main.StartUp())
            return 1;
        dm = StartDataModule();
        DataModuleOwnerMarks marks;
        CurrentOwnerMarks = &marks;
        // As a maximised window on 1366x768 with a taskbar, which has no size grip.
        main.resize(1366, 698);
        main.statusBar()->setSizeGripEnabled(false);

        bool loginSaved = false;
        QTimer login;
        login.setInterval(20);
        QObject::connect(&login, &QTimer::timeout, [&] {
            auto* w = qobject_cast<TFormLogin*>(QApplication::activeModalWidget());
            if (!w)
                return;
            login.stop();
            w->cbb1->setCurrentIndex(2);
            w->EditPassword->setText(QStringLiteral("639104"));
            loginSaved = Save(w, QStringLiteral("login.png"));
            w->ButtonLogon->click();
        });
        login.start();
        main.show();
        if (!WaitFor([&] { return loginSaved && OperatorLevel == 2 && main.link->attached(); }))
            rc = 1;

        stillStatusBar(main);
        ShotRun run{main, sim, dialogs, clock, server};
        rc |= guide ? MakeGuideSet(run) : MakeReadmeSet(run);
        main.close();
        CurrentOwnerMarks = nullptr;
    }
    StopCommandWorker();
    StopOperationLog();
    delete dm;
    dm = nullptr;
    setClock(nullptr);
    setDialogs(nullptr);
    return rc;
}
