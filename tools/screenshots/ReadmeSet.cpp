// The README's pictures: a new office's first day beside the simulated card issuer, then each task
// window as the README describes it, typed in through the windows themselves.

#include "Sets.h"
#include "Shots.h"
#include "SimCardIssuer.h"
#include "SimWindow.h"
#include "link/ProgramState.h"
#include "link/SimulatorScreen.h"
#include "store/DM.h"
#include "store/OwnerStatements.h"
#include "store/SaveLoad.h"
#include "store/TvexUserInfo.h"
#include "ui/AlterUserInfo.h"
#include "ui/BlackName.h"
#include "ui/BuildInfo.h"
#include "ui/FixDataBase.h"
#include "ui/HelpWindow.h"
#include "ui/InitQdr.h"
#include "ui/ListScreen.h"
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
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

int MakeReadmeSet(ShotRun& run)
{
    int rc = 0;
    for (uint32_t serial : {3000000001u, 3000000002u, 3000000003u, 3000000004u})
        run.sim.addCard(serial);
    run.sim.setSector(3000000001u, 7, SectorState::Formatted);
    run.sim.present(3000000001u);

    // A new office's first day, training with the simulated card issuer: the main window with
    // the list of first steps, and the simulator's window beside it, on the whole screen.
    {
        SimWindow simWindow(&run.sim);
        simWindow.PlaceBesideProgram();
        simWindow.show();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        PlaceFrameIn(&run.main, BesideSimulatorStrip(screen));
        Pause(1200); // the status bar names the database at the clock's next tick
        simWindow.PlaceBesideProgram();
        PlaceFrameIn(&run.main, BesideSimulatorStrip(screen));
        rc |= SaveScreen("first-day.png") ? 0 : 1;
        run.main.resize(1366, 740);
    }

    // A device card written and read back.
    {
        TFormSetTerminalParam device(&run.main);
        device.show();
        device.edtRegion->setText(QStringLiteral("57302914"));
        device.btnWrite->click();
        WaitFor([] { return PendingCommand == IdleCommand; });
        device.btnRead->click();
        WaitFor([&] { return device.lblSyncTime->text() != QStringLiteral("..."); });
        rc |= Save(&device, "device-card.png") ? 0 : 1;
        device.close();
    }
    WaitFor([] { return PendingCommand == IdleCommand; });
    Pause(300);

    // A format run over three cards, the second one failing to write.
    {
        TFormInit_QDR init(&run.main);
        init.setMode(false);
        init.show();
        init.btnRun->click();
        run.sim.present(3000000002u);
        Pause(300);
        run.sim.setFault(SimFault::WriteError, 1);
        run.sim.present(3000000003u);
        Pause(300);
        run.sim.present(3000000004u);
        Pause(500);
        rc |= Save(&init, "card-initialisation.png") ? 0 : 1;
        init.close();
    }
    Pause(300);

    // Buildings and units typed in, two of them marked for deletion.
    {
        TFormBuildInfo buildings(&run.main);
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
        rc |= Save(&buildings, "buildings.png") ? 0 : 1;
        buildings.close();
    }

    // Door terminals: numbered automatically, then two named.
    {
        TFormTerminalRegster terminals(&run.main);
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
        rc |= Save(&terminals, "terminals.png") ? 0 : 1;
        terminals.close();
    }
    // An owner registered with three terminals and a card written for them.
    {
        run.sim.setSector(3000000002u, SystemInfo.Sector, SectorState::Formatted);
        run.sim.present(3000000002u);
        TFormAlter editor(&run.main);
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
        WaitFor([&] { return editor.lblSerial->text() != QString(); });
        rc |= Save(&editor, "owner-editor.png") ? 0 : 1;
        editor.close();
    }
    Pause(300);

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
        TFormUserInfo list(&run.main);
        list.show();
        rc |= Save(&list, "owner-list.png") ? 0 : 1;
        list.close();
    }

    // Two of the lost owners prepared, written to a blacklist card, and the card read back.
    {
        run.sim.setSector(3000000003u, SystemInfo.Sector, SectorState::Formatted);
        run.sim.present(3000000003u);
        TFormBlackNameInfo black(&run.main);
        black.show();
        for (int i = 0; i < 2; ++i) {
            black.grdLost->MakeCurrent(i);
            black.btnPrepare->click();
        }
        rc |= Save(&black, "blacklist.png") ? 0 : 1;
        black.btnWriteBlack->click();
        WaitFor([] { return PendingCommand == IdleCommand; });
        Pause(300);
        rc |= SaveBlacklistListing(black, QStringLiteral("blacklist-card.png")) ? 0 : 1;
        black.close();
    }
    Pause(300);

    // Owner cards one after another: a card written for the newest owner.
    {
        run.sim.setSector(3000000004u, SystemInfo.Sector, SectorState::Formatted);
        run.sim.present(3000000004u);
        TFormWriteUserCard cards(&run.main);
        cards.show();
        cards.grdOwners->MakeCurrent(0);
        emit cards.grdOwners->rowChosen(0);
        for (int j : {0, 3, 4})
            cards.grid->SetGranted(j, true);
        cards.chkUseExpiry->setChecked(true);
        cards.btnWrite->click();
        WaitFor([&] { return cards.lblResult->text() == QStringLiteral("操作完成"); });
        rc |= Save(&cards, "owner-cards.png") ? 0 : 1;
        cards.close();
    }
    // What the steps above left in the operation log, and the administrator's password page.
    {
        TFormOperationLog log(&run.main);
        log.show();
        WaitFor([&] { return log.grid->Model().RecordCount() > 0; });
        rc |= Save(&log, "operation-log.png") ? 0 : 1;
        log.close();
    }
    {
        const uint8_t level = OperatorLevel;
        OperatorLevel = 1;
        TfrmFixDataBase maintenance(&run.main);
        maintenance.show();
        maintenance.pages->setCurrentWidget(maintenance.pagePasswords);
        rc |= Save(&maintenance, "passwords.png") ? 0 : 1;
        maintenance.close();
        OperatorLevel = level;
    }
    // The guide in its own window, at the page on writing an owner card (what F1 in the owner
    // editor without an owner opens).
    if (HelpWindow* help = ShowHelp(QStringLiteral("owner-card.md"))) {
        rc |= Save(help, "help.png") ? 0 : 1;
        CloseHelp();
    } else {
        rc |= 1;
    }
    run.main.RefreshSettingsPanels();
    run.main.RefreshFirstSteps(); // owners hold cards now: the first steps are gone
    run.main.tabs->setCurrentIndex(1);
    rc |= Save(&run.main, "main-window-debug.png") ? 0 : 1;
    run.main.tabs->setCurrentIndex(0);
    rc |= Save(&run.main, "main-window.png") ? 0 : 1;
    return rc;
}
