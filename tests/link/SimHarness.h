#pragma once

#include "SimCardIssuer.h"
#include "cards/CardRecords.h"
#include "link/CardIssuerLink.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "link/Responses.h"
#include "link/SimulatorBackend.h"
#include "store/SaveLoad.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <memory>

// The program's link (worker, simulated backend, read thread, answer handling) talking to an
// in-process simulated card issuer over a real socket.
class SimHarness {
public:
    QTemporaryDir dir;
    SimCardIssuer sim;
    std::unique_ptr<CardIssuerLink> link;

    QString socketPath() const { return dir.filePath(QStringLiteral("sim.sock")); }

    // Resets the program's state, starts the simulator and the link and waits until the
    // card issuer is attached.
    bool start()
    {
        ResetProgramState();
        DefaultSystemInfo(SystemInfo);
        std::memcpy(SystemInfo.RegionID, "12345678", 8);
        if (!sim.listen(socketPath()))
            return false;
        std::vector<std::unique_ptr<HidBackend>> backends;
        backends.push_back(std::make_unique<SimulatorBackend>(socketPath()));
        link = std::make_unique<CardIssuerLink>(std::move(backends));
        StartCommandWorker();
        return QTest::qWaitFor([&] { return link->attached() && sim.programConnected(); }, 2000);
    }

    ~SimHarness()
    {
        StopCommandWorker();
        link.reset();
    }

    // Issues a command and waits for its answer to be handled.
    bool issueAndWait(uint8_t code, int timeoutMs = 2000)
    {
        QSignalSpy handled(link.get(), &CardIssuerLink::answerHandled);
        IssueCommand(code);
        return handled.wait(timeoutMs);
    }

    // A blank card on the reader whose sector 7 is formatted.
    uint32_t formattedCardOnReader(uint32_t serial = 0x80000001u)
    {
        sim.addCard(serial);
        sim.setSector(serial, 7, SectorState::Formatted);
        sim.present(serial);
        return serial;
    }
};
