// iccard-screenshots: drives the real windows against an in-process simulated card issuer and
// saves pictures of them for the README. Run under a display (Xvfb), see scripts/screenshots.sh.
//   iccard-screenshots OUTPUT-FOLDER PROGRAM-FOLDER

#include "SimCardIssuer.h"
#include "SimWindow.h"
#include "link/CardIssuerLink.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "link/SimulatorBackend.h"
#include "link/SimulatorScreen.h"
#include "store/AppPath.h"
#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/OwnerStatements.h"
#include "store/SaveLoad.h"
#include "store/Startup.h"
#include "store/TvexUserInfo.h"
#include "ui/AlterUserInfo.h"
#include "ui/BlackName.h"
#include "ui/BuildInfo.h"
#include "ui/FixDataBase.h"
#include "ui/InitQdr.h"
#include "ui/ListScreen.h"
#include "ui/LoginWindow.h"
#include "ui/MainWindow.h"
#include "ui/OperationLogWindow.h"
#include "ui/Session.h"
#include "ui/SetTerminalParam.h"
#include "ui/ShowBlackCard.h"
#include "ui/TerminalRegister.h"
#include "ui/TerminalSel.h"
#include "ui/UserInfo.h"
#include "ui/Widgets.h"
#include "ui/WriteUserCard.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <functional>

namespace {

// Message boxes are answered at once and noted; the pictures are of the windows.
class QuietDialogs final : public Dialogs {
public:
    MsgAnswer message(MsgIcon, MsgButtons buttons, const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n",
                     qPrintable(QString(text).replace(QLatin1Char('\r'), QLatin1Char(' '))));
        return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
};

QString output;

bool save(QWidget* w, const char* name)
{
    QApplication::processEvents();
    const QString path = QDir(output).filePath(QString::fromUtf8(name));
    const bool ok = w->grab().save(path, "PNG");
    std::fprintf(stderr, "%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

bool waitFor(const std::function<bool()>& done, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void pause(int ms)
{
    waitFor([] { return false; }, ms);
}

// The whole screen, as an office sees it.
bool saveScreen(const char* name)
{
    QApplication::processEvents();
    const QString path = QDir(output).filePath(QString::fromUtf8(name));
    const bool ok = QGuiApplication::primaryScreen()->grabWindow(0).save(path, "PNG");
    std::fprintf(stderr, "%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: iccard-screenshots OUTPUT-FOLDER PROGRAM-FOLDER\n", stderr);
        return 2;
    }
    QTranslator translator;
    if (translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);
    if (QFontDatabase::families().contains(QStringLiteral("WenQuanYi Micro Hei"))) {
        QFont font(QStringLiteral("WenQuanYi Micro Hei"));
        font.setPointSize(10);
        app.setFont(font);
    }
    output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(output);
    const QString programFolder = QString::fromLocal8Bit(argv[2]);

    ResetProgramState();
    QTemporaryDir folder;
    for (const char* name : {"SystemInfo.dat", "null.jpg"})
        QFile::copy(programFolder + QLatin1Char('/') + QLatin1String(name),
                    folder.filePath(QLatin1String(name)));
    SetAppPath(folder.path());
    QuietDialogs dialogs;
    setDialogs(&dialogs);

    SimCardIssuer sim;
    const QString socket = folder.filePath(QStringLiteral("sim.sock"));
    if (!sim.listen(socket))
        return 1;
    for (uint32_t serial : {3000000001u, 3000000002u, 3000000003u, 3000000004u})
        sim.addCard(serial);
    sim.setSector(3000000001u, 7, SectorState::Formatted);
    sim.present(3000000001u);

    int rc = 0;
    {
        std::vector<std::unique_ptr<HidBackend>> backends;
        backends.push_back(std::make_unique<SimulatorBackend>(socket));
        TFormMain main(std::move(backends));
        if (!main.StartUp())
            return 1;
        dm = StartDataModule();
        main.resize(1366, 740);

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
            loginSaved = save(w, "login.png");
            w->ButtonLogon->click();
        });
        login.start();
        main.show();
        if (!waitFor([&] { return loginSaved && OperatorLevel == 2 && main.link->attached(); }))
            rc = 1;

        // A new office's first day, training with the simulated card issuer: the main window with
        // the list of first steps, and the simulator's window beside it, on the whole screen.
        {
            SimWindow simWindow(&sim);
            simWindow.PlaceBesideProgram();
            simWindow.show();
            const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
            PlaceFrameIn(&main, BesideSimulatorStrip(screen));
            pause(1200); // the status bar names the database at the clock's next tick
            simWindow.PlaceBesideProgram();
            PlaceFrameIn(&main, BesideSimulatorStrip(screen));
            rc |= saveScreen("first-day.png") ? 0 : 1;
            main.resize(1366, 740);
        }

        // A device card written and read back.
        {
            TFormSetTerminalParam device(&main);
            device.show();
            device.edtRegion->setText(QStringLiteral("57302914"));
            device.btnWrite->click();
            waitFor([] { return PendingCommand == IdleCommand; });
            device.btnRead->click();
            waitFor([&] { return device.lblSyncTime->text() != QStringLiteral("..."); });
            rc |= save(&device, "device-card.png") ? 0 : 1;
            device.close();
        }
        waitFor([] { return PendingCommand == IdleCommand; });
        pause(300);

        // A format run over three cards, the second one failing to write.
        {
            TFormInit_QDR init(&main);
            init.setMode(false);
            init.show();
            init.btnRun->click();
            sim.present(3000000002u);
            pause(300);
            sim.setFault(SimFault::WriteError, 1);
            sim.present(3000000003u);
            pause(300);
            sim.present(3000000004u);
            pause(500);
            rc |= save(&init, "card-initialisation.png") ? 0 : 1;
            init.close();
        }
        pause(300);

        // Buildings and units typed in, two of them marked for deletion.
        {
            TFormBuildInfo buildings(&main);
            buildings.show();
            const struct {
                const char* building;
                const char* unit;
                const char* nickname;
            } units[] = {{"1", "1", "东区一单元"}, {"1", "2", "东区二单元"}, {"2", "1", ""},
                         {"2", "2", ""},           {"3", "1", "南门商铺"},   {"5", "3", "北苑"}};
            for (const auto& u : units) {
                buildings.edtDongHao->setText(QString::fromUtf8(u.building));
                buildings.edtDanYuan->setText(QString::fromUtf8(u.unit));
                buildings.edtDanYuanName->setText(QString::fromUtf8(u.nickname));
                buildings.btnAdd->click();
            }
            for (int row : {2, 3}) {
                buildings.grid->MakeCurrent(row);
                emit buildings.grid->doubleClicked(buildings.grid->model()->index(row, 1));
            }
            rc |= save(&buildings, "buildings.png") ? 0 : 1;
            buildings.close();
        }

        // Door terminals: numbered automatically, then two named.
        {
            TFormTerminalRegster terminals(&main);
            terminals.show();
            terminals.btnAuto->click();
            const struct {
                const char* id;
                const char* name;
                const char* remark;
            } named[] = {{"0", "小区正门", "岗亭旁"}, {"1", "1栋1单元", ""}, {"2", "1栋2单元", ""}};
            for (const auto& t : named) {
                terminals.edtTerminalID->setText(QString::fromUtf8(t.id));
                terminals.edtTerminalName->setText(QString::fromUtf8(t.name));
                terminals.edtRemark->setText(QString::fromUtf8(t.remark));
                terminals.btnAdd->click();
            }
            rc |= save(&terminals, "terminals.png") ? 0 : 1;
            terminals.close();
        }
        // An owner registered with three terminals and a card written for them.
        {
            sim.setSector(3000000002u, SystemInfo.Sector, SectorState::Formatted);
            sim.present(3000000002u);
            TFormAlter editor(&main);
            editor.SetMode(TFormAlter::Mode::Add);
            editor.show();
            QTreeWidgetItem* unit = editor.tvBuild->Root()->child(0)->child(1);
            editor.tvBuild->setCurrentItem(unit);
            emit editor.tvBuild->nodeChosen(unit);
            editor.edtFangHao->setText(QStringLiteral("0302"));
            editor.edtUserName->setText(QStringLiteral("王小明"));
            editor.edtPhone->setText(QStringLiteral("13912345678"));
            for (int j : {0, 1, 2})
                editor.grid->SetGranted(j, true);
            editor.btnWrite->click();
            waitFor([&] { return editor.lblSerial->text() != QString(); });
            rc |= save(&editor, "owner-editor.png") ? 0 : 1;
            editor.close();
        }
        pause(300);

        // More owners, three of them reported lost.
        const struct {
            const char* name;
            int building;
            int unit;
            const char* room;
            const char* phone;
        } owners[] = {{"李华", 1, 1, "0101", "13800001111"}, {"张伟", 1, 1, "0102", "13800002222"},
                      {"刘洋", 1, 2, "0201", "13800003333"}, {"陈静", 2, 1, "0301", "13800004444"},
                      {"杨帆", 2, 2, "0402", "13800005555"}, {"赵敏", 3, 1, "0101", "13800006666"},
                      {"周杰", 5, 3, "0601", "13800007777"}, {"吴磊", 5, 3, "0602", "13800008888"}};
        int serial = 10001;
        for (const auto& o : owners) {
            TuserInfoRec rec;
            rec.UserName = QString::fromUtf8(o.name);
            rec.CardNo = QStringLiteral("2412%1").arg(serial);
            rec.CardID = QStringLiteral("%1").arg(serial++, 10, 10, QLatin1Char('0'));
            rec.DongHao = o.building;
            rec.DanYuan = o.unit;
            rec.FangHao = QString::fromUtf8(o.room);
            rec.Phone = QString::fromUtf8(o.phone);
            rec.Sex = QStringLiteral("男");
            rec.UserType = QStringLiteral("用户卡");
            rec.chUseExpdate = QStringLiteral("是");
            rec.IsUseExpDate = true;
            rec.ExpDate = QDate(2027, 12, 31);
            InsertUserInfo(*dm, rec);
        }
        for (const char* name : {"张伟", "陈静", "周杰"}) {
            TuserInfoRec rec;
            if (LoadUserInfoByName(*dm, QString::fromUtf8(name), rec) > 0)
                TvexUserInfo::MarkLost(FindUserIdx(*dm, rec));
        }
        {
            TFormUserInfo list(&main);
            list.show();
            rc |= save(&list, "owner-list.png") ? 0 : 1;
            list.close();
        }

        // Two of the lost owners prepared, written to a blacklist card, and the card read back.
        {
            sim.setSector(3000000003u, SystemInfo.Sector, SectorState::Formatted);
            sim.present(3000000003u);
            TFormBlackNameInfo black(&main);
            black.show();
            for (int i = 0; i < 2; ++i) {
                black.grdLost->MakeCurrent(i);
                black.btnPrepare->click();
            }
            rc |= save(&black, "blacklist.png") ? 0 : 1;
            black.btnWriteBlack->click();
            waitFor([] { return PendingCommand == IdleCommand; });
            pause(300);
            TFormShowBlackCard* listing = nullptr;
            QTimer read;
            read.setInterval(20);
            QObject::connect(&read, &QTimer::timeout, [&] {
                listing = qobject_cast<TFormShowBlackCard*>(QApplication::activeModalWidget());
                if (!listing || listing->mmoList->toPlainText().isEmpty())
                    return;
                read.stop();
                pause(200);
                rc |= save(listing, "blacklist-card.png") ? 0 : 1;
                listing->close();
            });
            read.start();
            black.btnRead->click();
            black.close();
        }
        pause(300);

        // Owner cards one after another: a card written for the newest owner.
        {
            sim.setSector(3000000004u, SystemInfo.Sector, SectorState::Formatted);
            sim.present(3000000004u);
            TFormWriteUserCard cards(&main);
            cards.show();
            cards.grdOwners->MakeCurrent(0);
            emit cards.grdOwners->rowChosen(0);
            for (int j : {0, 3, 4})
                cards.grid->SetGranted(j, true);
            cards.chkUseExpiry->setChecked(true);
            cards.btnWrite->click();
            waitFor([&] { return cards.lblResult->text() == QStringLiteral("操作完成"); });
            rc |= save(&cards, "owner-cards.png") ? 0 : 1;
            cards.close();
        }
        // What the steps above left in the operation log, and the administrator's password page.
        {
            TFormOperationLog log(&main);
            log.show();
            waitFor([&] { return log.grid->Model().RecordCount() > 0; });
            rc |= save(&log, "operation-log.png") ? 0 : 1;
            log.close();
        }
        {
            const uint8_t level = OperatorLevel;
            OperatorLevel = 1;
            TfrmFixDataBase maintenance(&main);
            maintenance.show();
            maintenance.pages->setCurrentWidget(maintenance.pagePasswords);
            rc |= save(&maintenance, "passwords.png") ? 0 : 1;
            maintenance.close();
            OperatorLevel = level;
        }
        main.RefreshSettingsPanels();
        main.RefreshFirstSteps(); // owners hold cards now: the first steps are gone
        main.tabs->setCurrentIndex(1);
        rc |= save(&main, "main-window-debug.png") ? 0 : 1;
        main.tabs->setCurrentIndex(0);
        rc |= save(&main, "main-window.png") ? 0 : 1;
        main.close();
    }
    StopCommandWorker();
    delete dm;
    dm = nullptr;
    setDialogs(nullptr);
    return rc;
}
