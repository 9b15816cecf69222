// The operator's guide's pictures: the first day, then the scripted community of Community.h, and
// every window in the state the guide's step describes, a message box over its window where the
// step is about the message.

#include "Community.h"
#include "Sets.h"
#include "Shots.h"
#include "SimCardIssuer.h"
#include "SimWindow.h"
#include "link/CardIssuerLink.h"
#include "link/ProgramState.h"
#include "office/Passwords.h"
#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "store/Database.h"
#include "store/DbMaintenance.h"
#include "store/OperationError.h"
#include "store/OwnerExchange.h"
#include "store/OwnerStatements.h"
#include "store/Startup.h"
#include "ui/AlterUserInfo.h"
#include "ui/BlackName.h"
#include "ui/BuildInfo.h"
#include "ui/FixDataBase.h"
#include "ui/InitQdr.h"
#include "ui/InputDongHao.h"
#include "ui/ListScreen.h"
#include "ui/MainWindow.h"
#include "ui/OperationLogWindow.h"
#include "ui/SetTerminalParam.h"
#include "ui/ShowBlackCard.h"
#include "ui/TerminalRegister.h"
#include "ui/TerminalSel.h"
#include "ui/UserInfo.h"
#include "ui/UserInfoSearch.h"
#include "ui/Widgets.h"
#include "ui/WriteUserCard.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidgetItem>
#include <cstdio>

namespace {

const char* const Pictures[] = {
    "login.png",           "first-day.png",          "main-window.png",    "simulator.png",
    "buildings.png",       "building-add.png",       "terminals.png",      "owner-editor.png",
    "terminal-select.png", "owner-card-written.png", "owner-cards.png",    "device-card.png",
    "owner-list.png",      "owner-lost.png",         "owner-search.png",   "blacklist.png",
    "blacklist-card.png",  "whitelist.png",          "card-format.png",    "restore-blank.png",
    "exchange.png",        "export-range.png",       "import-refused.png", "backup.png",
    "restore-refused.png", "empty-database.png",     "server.png",         "operation-log.png",
    "passwords.png",       "insert-card-issuer.png",
};

// Cards the steps below put on the reader, each new and formatted for the system.
uint32_t nextCard = 1650020201u;

uint32_t formattedCard(SimCardIssuer& sim)
{
    const uint32_t serial = nextCard++;
    sim.addCard(serial);
    sim.setSector(serial, SystemInfo.Sector, SectorState::Formatted);
    sim.present(serial);
    return serial;
}

bool idle()
{
    return WaitFor([] { return PendingCommand == IdleCommand; });
}

// The row of the list showing the owner of that name, -1 when none does.
int rowOf(ListGrid* grid, const char* name)
{
    for (int row = 0; row < grid->Model().RecordCount(); ++row) {
        if (grid->Model().FieldAt(row, QStringLiteral("UserName")).toString() == QString::fromUtf8(name))
            return row;
    }
    return -1;
}

class GuideSet {
public:
    explicit GuideSet(ShotRun& run) : m_run(run), m_main(run.main) {}

    int make()
    {
        firstDay();
        if (!MakeCommunity(m_run.clock)) {
            std::fputs("the scripted community could not be made\n", stderr);
            return 1;
        }
        // Each step a few minutes after the one before, as the operation log shows them.
        using Step = void (GuideSet::*)();
        for (Step step :
             {&GuideSet::mainWindow, &GuideSet::buildings, &GuideSet::terminals, &GuideSet::ownerEditor,
              &GuideSet::ownerCards, &GuideSet::deviceCard, &GuideSet::ownerList, &GuideSet::blackList,
              &GuideSet::whiteList, &GuideSet::cardRuns, &GuideSet::exchange, &GuideSet::maintenance,
              &GuideSet::operationLog, &GuideSet::insertCardIssuer, &GuideSet::simulator,
              &GuideSet::server}) {
            m_run.clock.advanceSeconds(150);
            (this->*step)();
        }
        return m_rc | (m_run.dialogs.CapturesOk() ? 0 : 1);
    }

private:
    void save(QWidget* w, const char* name) { m_rc |= Save(w, QString::fromUtf8(name)) ? 0 : 1; }

    // The main window of a new office, with its first steps, and the simulated card issuer's
    // window that a training office has beside it.
    void firstDay()
    {
        m_main.RefreshSettingsPanels();
        m_main.RefreshFirstSteps();
        m_main.tabs->setCurrentIndex(0);
        Pause(1200); // the status bar names the database at the clock's next tick
        save(&m_main, "first-day.png");
    }

    void mainWindow()
    {
        m_main.RefreshSettingsPanels();
        m_main.RefreshFirstSteps(); // owners hold cards now: the first steps are gone
        save(&m_main, "main-window.png");
    }

    // The simulated card issuer's window, with the cards the steps wrote, the last on the reader.
    void simulator()
    {
        SimWindow simWindow(&m_run.sim);
        simWindow.resize(simWindow.sizeHint().width(), 640);
        simWindow.show();
        simWindow.table()->selectRow(0);
        Pause(200);
        save(&simWindow, "simulator.png");
    }

    void buildings()
    {
        TFormBuildInfo window(&m_main);
        window.show();
        save(&window, "buildings.png");
        window.edtDongHao->setText(QStringLiteral("3"));
        window.edtDanYuan->setText(QStringLiteral("3"));
        window.edtDanYuanName->setText(QStringLiteral("北单元"));
        save(window.grpInput, "building-add.png");
        window.close();
    }

    void terminals()
    {
        TFormTerminalRegster window(&m_main);
        window.show();
        save(&window, "terminals.png");
        window.close();
    }

    // A new owner typed in with a photo, the door terminals chosen, and the card written.
    void ownerEditor()
    {
        QTemporaryDir scratch;
        const QString photo = scratch.filePath(QStringLiteral("林峰.jpg"));
        QFile file(photo);
        if (file.open(QIODevice::WriteOnly))
            file.write(OwnerPhoto(QStringLiteral("林峰")));
        file.close();

        TFormAlter editor(&m_main);
        editor.SetMode(TFormAlter::Mode::Add);
        editor.show();
        QTreeWidgetItem* unit = editor.tvBuild->Root()->child(0)->child(1);
        editor.tvBuild->setCurrentItem(unit);
        emit editor.tvBuild->nodeChosen(unit);
        editor.edtFangHao->setText(QStringLiteral("1201"));
        editor.edtUserName->setText(QStringLiteral("林峰"));
        editor.edtPhone->setText(QStringLiteral("13812345613"));
        editor.mmoRemark->setPlainText(QStringLiteral("车位 B-112"));
        m_run.dialogs.AnswerFile(photo);
        editor.btnPhoto->click();
        for (int j : {0, 2, 7})
            editor.grid->SetGranted(j, true);
        editor.chkUseExpiry->setChecked(true);
        save(&editor, "owner-editor.png");
        save(editor.grpTerminals, "terminal-select.png");
        formattedCard(m_run.sim);
        editor.btnWrite->click();
        WaitFor([&] { return !editor.lblSerial->text().isEmpty(); });
        Pause(300);
        save(&editor, "owner-card-written.png");
        editor.close();
        idle();
    }

    // Owner cards one after another: two owners without a card get theirs.
    void ownerCards()
    {
        TFormWriteUserCard cards(&m_main);
        cards.show();
        for (const char* name : {"黄勇", "周杰"}) {
            const int row = rowOf(cards.grdOwners, name);
            if (row < 0) {
                m_rc = 1;
                continue;
            }
            cards.grdOwners->MakeCurrent(row);
            emit cards.grdOwners->rowChosen(row);
            cards.chkUseExpiry->setChecked(true);
            formattedCard(m_run.sim);
            cards.lblResult->clear();
            cards.btnWrite->click();
            WaitFor([&] { return cards.lblResult->text() == QStringLiteral("操作完成"); });
            idle();
            Pause(200);
        }
        save(&cards, "owner-cards.png");
        cards.close();
    }

    void deviceCard()
    {
        formattedCard(m_run.sim);
        TFormSetTerminalParam device(&m_main);
        device.show();
        device.edtRegion->setText(QString::fromUtf8(CommunityRegion));
        device.btnWrite->click();
        idle();
        device.btnRead->click();
        WaitFor([&] { return device.lblSyncTime->text() != QStringLiteral("..."); });
        save(&device, "device-card.png");
        device.close();
        idle();
        Pause(300);
    }

    void ownerList()
    {
        {
            TFormUserInfo list(&m_main);
            list.show();
            save(&list, "owner-list.png");
            const int lost = rowOf(list.grid, "刘洋");
            if (lost >= 0)
                list.grid->MakeCurrent(lost);
            save(&list, "owner-lost.png");
            list.close();
        }
        TFormSearchUserInfo search(&m_main);
        search.show();
        search.chkDongHao->setChecked(true);
        search.edtDongHao->setText(QStringLiteral("2"));
        search.chkUserName->setChecked(true);
        search.edtUserName->setText(QStringLiteral("杨磊"));
        save(&search, "owner-search.png");
        search.close();
    }

    // The two lost cards prepared and put on a blacklist card, and that card read back.
    void blackList()
    {
        TFormBlackNameInfo black(&m_main);
        black.show();
        black.btnPrepareAll->click();
        save(&black, "blacklist.png");
        formattedCard(m_run.sim);
        black.btnWriteBlack->click();
        idle();
        Pause(300);

        m_rc |= SaveBlacklistListing(black, QStringLiteral("blacklist-card.png")) ? 0 : 1;
        idle();
        Pause(300);

        black.close();
    }

    // One of the cards found again: the owner list's menu on its owner, to write the whitelist card.
    void whiteList()
    {
        TFormUserInfo list(&m_main);
        list.show();
        const int found = rowOf(list.grid, "刘洋");
        if (found < 0) {
            m_rc = 1;
            return;
        }
        list.grid->MakeCurrent(found);
        Pause(100);
        const QRect row = list.grid->visualRect(list.grid->model()->index(found, 6));
        QMenu* menu = list.grid->PopupMenu();
        menu->popup(list.grid->viewport()->mapToGlobal(row.center()));
        menu->setActiveAction(list.actWriteWhite);
        Pause(200);
        m_rc |= SaveWithPopup(&list, menu, QStringLiteral("whitelist.png")) ? 0 : 1;
        menu->hide();
        list.close();
    }

    // A format run over three new cards, and a run that returns two cards to blank.
    void cardRuns()
    {
        for (const bool reset : {false, true}) {
            TFormInit_QDR init(&m_main);
            init.setMode(reset);
            init.show();
            init.btnRun->click();
            for (int i = 0; i < (reset ? 2 : 3); ++i) {
                const uint32_t serial = nextCard++;
                m_run.sim.addCard(serial);
                if (reset)
                    m_run.sim.setSector(serial, SystemInfo.Sector, SectorState::Formatted);
                m_run.sim.present(serial);
                Pause(400);
            }
            save(&init, reset ? "restore-blank.png" : "card-format.png");
            init.close();
            idle();
            Pause(300);
        }
    }

    // The owner cards window where owners are exported and imported, the export's building and
    // unit, and an import stopped at a line with a date that is none.
    void exchange()
    {
        const QString exported = QDir(AppPath).filePath(QStringLiteral("业主资料.csv"));
        if (!ExportOwners(exported, ExportFilter{}).ok()) {
            m_rc = 1;
            return;
        }
        QFile file(exported);
        QList<QByteArray> lines;
        if (file.open(QIODevice::ReadOnly))
            lines = file.readAll().split('\n');
        file.close();
        if (lines.size() > 6) {
            QList<QByteArray> fields = lines[5].split(',');
            if (fields.size() > 7)
                fields[7] = "2027/13/01";
            lines[5] = fields.join(',');
        }
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(lines.join('\n'));
        file.close();

        TFormWriteUserCard cards(&m_main);
        cards.show();
        save(&cards, "exchange.png");
        TFormInputDongHao* range = InputDongHao();
        range->show();
        range->edtDongHao->setText(QStringLiteral("1"));
        range->edtDanYuan->setText(QStringLiteral("2"));
        save(range, "export-range.png");
        range->close();
        m_run.dialogs.AnswerFile(exported);
        m_run.dialogs.AnswerYes();
        m_run.dialogs.CaptureMessage(QStringLiteral("import-refused.png"), &cards, QStringLiteral("第 6 行"));
        cards.btnImport->click();
        cards.close();
    }

    void maintenance()
    {
        TfrmFixDataBase window(&m_main);
        window.show();
        window.pages->setCurrentWidget(window.pageBackup);
        save(&window, "backup.png");

        // A file that is no backup of this program offered to the restore.
        QDir().mkpath(BackupFolder());
        const QString offered = QDir(BackupFolder()).filePath(QStringLiteral("db_261209_173000.bak"));
        QFile file(offered);
        if (file.open(QIODevice::WriteOnly))
            file.write("这不是备份文件\n");
        file.close();
        m_run.dialogs.AnswerYes();
        m_run.dialogs.AnswerFile(offered);
        m_run.dialogs.CaptureMessage(QStringLiteral("restore-refused.png"), &window,
                                     QStringLiteral("恢复失败"));
        window.btnRecover->click();

        window.pages->setCurrentWidget(window.pageInit);
        window.edtConfirm->setText(window.pnlConfirm->text());
        save(&window, "empty-database.png");

        window.close();

        const uint8_t level = OperatorLevel;
        OperatorLevel = AdministratorLevel;
        TfrmFixDataBase passwords(&m_main);
        passwords.show();
        passwords.pages->setCurrentWidget(passwords.pagePasswords);
        save(&passwords, "passwords.png");
        passwords.close();
        OperatorLevel = level;
    }

    void operationLog()
    {
        TFormOperationLog log(&m_main);
        log.show();
        WaitFor([&] { return log.grid->Model().RecordCount() > 0; });
        save(&log, "operation-log.png");
        log.close();
    }

    // The card issuer unplugged, and a device card asked for.
    void insertCardIssuer()
    {
        m_run.sim.unplug();
        WaitFor([&] { return !m_main.link->attached(); });
        Pause(300);
        TFormSetTerminalParam device(&m_main);
        device.show();
        m_run.dialogs.CaptureMessage(QStringLiteral("insert-card-issuer.png"), &device,
                                     QStringLiteral("请插入发卡器"));
        device.btnWrite->click();
        device.close();
        m_run.sim.plug();
        WaitFor([&] { return m_main.link->attached(); });
    }

    // The maintenance window where the operator sees the database in use: on the server given,
    // opened as the program opens a server named in database.ini or by --database.
    void server()
    {
        if (!m_run.server.isEmpty()) {
            try {
                const DatabaseTarget target = ParseDatabaseUrl(m_run.server);
                delete dm;
                dm = StartDataModule(target);
            } catch (const OperationError& e) {
                std::fprintf(stderr, "%s\n", qPrintable(e.message()));
                m_rc = 1;
                return;
            }
            m_main.RefreshSettingsPanels();
        }
        TfrmFixDataBase window(&m_main);
        window.show();
        window.pages->setCurrentWidget(window.pageBackup);
        save(&window, "server.png");
        window.close();
    }

    ShotRun& m_run;
    TFormMain& m_main;
    int m_rc = 0;
};

} // namespace

QStringList GuidePictures()
{
    QStringList names;
    for (const char* name : Pictures)
        names << QString::fromUtf8(name);
    return names;
}

int MakeGuideSet(ShotRun& run)
{
    return GuideSet(run).make();
}
