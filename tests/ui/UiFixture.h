#pragma once

// The windows' tests: a program folder with the simulated card issuer, and the program attached to it.

#include "SimCardIssuer.h"
#include "cards/CardRecords.h"
#include "link/CardIssuerLink.h"
#include "link/CommandFrames.h"
#include "link/CommandWorker.h"
#include "link/Frames.h"
#include "link/ProgramState.h"
#include "link/Responses.h"
#include "link/SimulatorBackend.h"
#include "store/SaveLoad.h"
#include "store/TvexDeviceInfo.h"
#include "support/ProgramFolderFixture.h"
#include "ui/HelpWindow.h"
#include "ui/Session.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

// A program folder of its own for one test (settings file and placeholder photo copied in fresh)
// with the program's state reset, dialogs answered through the seam, a clock that stands still,
// an in-process simulated card issuer on a socket in the folder, and F1 opening the guide of the
// sources. The data module is made when the test says (openData()), as the program makes it after
// the login.
class UiFixture : public ProgramFolderFixture {
public:
    SimCardIssuer sim;

    explicit UiFixture(bool withSettings = true)
        : ProgramFolderFixture(QDateTime(QDate(2024, 3, 5), QTime(14, 0, 7)))
    {
        ResetProgramState();
        if (withSettings)
            QFile::copy(QStringLiteral(ICCARD_SOURCE_DIR "/data/SystemInfo.dat"),
                        dir.filePath("SystemInfo.dat"));
        QFile::copy(QStringLiteral(ICCARD_SOURCE_DIR "/data/null.jpg"), dir.filePath("null.jpg"));
        // F1 as in the program, on the guide of the sources.
        SetHelpFolder(QStringLiteral(ICCARD_SOURCE_DIR "/docs/manual/zh_CN"));
        InstallHelpKey();
        setUp();
    }

    ~UiFixture()
    {
        CloseHelp();
        RemoveHelpKey();
        SetHelpFolder(QString());
        StopCommandWorker();
        tearDown();
    }

    QString socketPath() const { return dir.filePath(QStringLiteral("sim.sock")); }

    bool listen() { return sim.listen(socketPath()); }

    std::vector<std::unique_ptr<HidBackend>> backends() const
    {
        std::vector<std::unique_ptr<HidBackend>> list;
        list.push_back(std::make_unique<SimulatorBackend>(socketPath()));
        return list;
    }

    // A card on the reader whose sector is formatted for the system.
    uint32_t formattedCardOnReader(uint32_t serial, int sector = 7)
    {
        sim.addCard(serial);
        sim.setSector(serial, sector, SectorState::Formatted);
        sim.present(serial);
        return serial;
    }
};

// The fixture with the program's link attached to the simulated card issuer, the settings file
// loaded and the command worker running.
struct AttachedProgram {
    UiFixture f;
    std::unique_ptr<CardIssuerLink> link;
    bool start()
    {
        if (!f.listen())
            return false;
        LoadSettings();
        link = std::make_unique<CardIssuerLink>(f.backends());
        StartCommandWorker();
        return QTest::qWaitFor([&] { return link->attached(); }, 3000);
    }
    // Started, with the community's identifier set and door terminals 1 to 3 ("门1"…), as the card
    // windows' tests begin.
    bool startWithTerminals()
    {
        if (!start())
            return false;
        f.openData();
        std::memcpy(SystemInfo.RegionID, "57302914", 8);
        for (int id : {1, 2, 3})
            AddTerminal({0, QString::number(id), QStringLiteral("门%1").arg(id), QString()});
        return true;
    }
};

// Answers the next modal window of type W as soon as it is shown.
template <typename W> void WhenModal(std::function<void(W*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start();
}
