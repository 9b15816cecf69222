// Card-issuer fault storm: the program's link (worker, simulated backend, read thread, answer
// handling) against the simulated card issuer in the same process, with card commands sent back to
// back while the card issuer is pulled out and plugged in at random gaps and its answers come back
// wrong: corrupt reports, missing answers, late answers, read and write errors, bit 7 set. It checks
// that
// - every answer the link hands on is one the card issuer sent, whole and in order, and an answer
//   is only ever taken (card data raised or the command finished) for the command that is pending;
// - the main thread's event loop never stalls for more than a second;
// - after every plug the link is attached again and a read is answered.
//
// Usage: link_storm [--cycles N] [--seed S]   (default 50 cycles, seed 1)
// Prints its figures at the end (and every 1,000 cycles of a long storm); exits 1 on the first
// broken rule (with what it saw), 0 otherwise. A cycle lasts about half a second: the link looks for
// a plugged card issuer every quarter of a second.

#include "SimHarness.h"
#include "link/CommandFrames.h"
#include "link/Frames.h"
#include "link/LinkHooks.h"
#include "link/ResultTexts.h"
#include "support/TestDialogs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>
#include <array>
#include <cstdio>
#include <deque>

namespace {

// Commands a card window sends, with the record each one needs already filled.
constexpr std::array<uint8_t, 6> StormCommands{CmdWriteDeviceCard, CmdReadDeviceCard, CmdWriteOwnerCard,
                                               CmdReadOwnerCard,   CmdWriteBlackList, CmdReadBlackList};
constexpr int AnswerWaitMs = 400;    // how long a command waits for its answer before the next is sent
constexpr int ReplugAnswerMs = 3000; // how long the link may take to answer again after a plug
constexpr qint64 StallLimitMs = 1000;

struct Figures {
    qint64 commands = 0;
    qint64 answered = 0; // answers handled for the command pending
    qint64 taken = 0;    // of these, answers that finished the command or raised its card data
    qint64 ignored = 0;  // answers handled while another command was pending (late ones)
    qint64 unanswered = 0;
    qint64 readErrors = 0, writeErrors = 0, noAnswers = 0, corrupts = 0, highBits = 0, delays = 0;
    qint64 corruptNoticed = 0; // "接收数据错误！" shown
    qint64 unplugsMidCommand = 0;
    qint64 maxStallMs = 0;
    qint64 maxReplugMs = 0;
};

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "storm: %s\n", qPrintable(what));
    std::fflush(stderr);
    std::_Exit(1);
}

QByteArray frameOfLogLine(const QString& line)
{
    QByteArray bytes;
    for (const QString& hex : line.split(QLatin1Char(',')))
        bytes.append(char(hex.toUInt(nullptr, 16)));
    return bytes;
}

// Stands in for the debug memo (it sees every answer just before the handler does) and the data
// module's owner marks (blacklist answers update owners).
class Observer final : public ResponseLog, public BlackListOwnerMarks {
public:
    // After the program's state was reset.
    void install()
    {
        CurrentResponseLog = this;
        CurrentOwnerMarks = this;
    }
    ~Observer() override
    {
        CurrentResponseLog = nullptr;
        CurrentOwnerMarks = nullptr;
    }
    void appendLine(const QString& line) override
    {
        lastFrame = frameOfLogLine(line);
        pendingBefore = PendingCommand;
        dataBefore = CardDataReady;
    }
    bool markOwner(int, bool) override { return true; }

    QByteArray lastFrame;
    uint8_t pendingBefore = IdleCommand;
    int dataBefore = 0;
};

class Storm : public QObject {
public:
    Storm(int cycles, quint32 seed) : m_cycles(cycles), m_random(seed) {}

    int run()
    {
        if (!m_h.start())
            fail(QStringLiteral("the simulated card issuer was not attached at the start"));
        m_observer.install();
        fillRecords();
        m_serial = m_h.formattedCardOnReader();
        QObject::connect(&m_h.sim, &SimCardIssuer::answerSent, &m_h.sim,
                         [this](const QByteArray& frame) { m_sent.push_back(frame); });
        QObject::connect(m_h.link.get(), &CardIssuerLink::answerHandled, m_h.link.get(),
                         [this](uint8_t command, uint8_t result) { answerHandled(command, result); });
        QTimer watchdog;
        QElapsedTimer sinceTick;
        sinceTick.start();
        QObject::connect(&watchdog, &QTimer::timeout, &watchdog,
                         [&] { m_f.maxStallMs = std::max(m_f.maxStallMs, sinceTick.restart()); });
        watchdog.start(20);

        QElapsedTimer total;
        total.start();
        for (int cycle = 0; cycle < m_cycles; ++cycle) {
            m_cycle = cycle;
            runCycle();
            if (m_f.maxStallMs > StallLimitMs)
                fail(QStringLiteral("cycle %1: the main thread stood still for %2 ms")
                         .arg(cycle)
                         .arg(m_f.maxStallMs));
            m_dialogs.clear();
            if (m_cycles >= 1000 && (cycle + 1) % 1000 == 0)
                print(cycle + 1, total.elapsed());
        }
        watchdog.stop();
        print(m_cycles, total.elapsed());
        return 0;
    }

private:
    void fillRecords()
    {
        UserCardRec = {};
        UserCardRec.Sector = 7;
        std::memcpy(UserCardRec.RegionID, SystemInfo.RegionID, 8);
        TerminalParamRec = {};
        TerminalParamRec.Kind = 1;
        TerminalParamRec.Sector = 7;
        std::memcpy(TerminalParamRec.RegionID, SystemInfo.RegionID, 8);
        std::memcpy(TerminalParamRec.IssueTime, "24030514", 8);
        BlackListRec = {};
        BlackListRec.Kind = 2;
    }

    // Keeps the event loop turning until done() or the time is up.
    template <typename Done> bool waitFor(Done done, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > ms)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    void injectFault()
    {
        switch (m_random.bounded(10)) {
        case 0:
            m_h.sim.setFault(SimFault::ReadError, 1);
            ++m_f.readErrors;
            break;
        case 1:
            m_h.sim.setFault(SimFault::WriteError, 1);
            ++m_f.writeErrors;
            break;
        case 2:
            m_h.sim.setFault(SimFault::NoAnswer, 1);
            ++m_f.noAnswers;
            break;
        case 3:
            m_h.sim.setFault(SimFault::Corrupt, 1);
            ++m_f.corrupts;
            break;
        case 4:
            m_h.sim.setHighBit(!m_h.sim.highBit());
            ++m_f.highBits;
            break;
        case 5:
        case 6:
            // Late enough, now and then, that the next command is already pending when it comes.
            m_h.sim.setAnswerDelay(m_random.bounded(2) ? int(m_random.bounded(AnswerWaitMs + 200)) : 0);
            ++m_f.delays;
            break;
        default:
            break;
        }
    }

    void clearFaults()
    {
        for (SimFault fault :
             {SimFault::ReadError, SimFault::WriteError, SimFault::NoAnswer, SimFault::Corrupt})
            m_h.sim.setFault(fault, 0);
        m_h.sim.setHighBit(false);
        m_h.sim.setAnswerDelay(0);
    }

    // Issues one command and waits for its answer (or gives up and goes on, as a window's timer
    // would let the operator press again).
    bool command(uint8_t code, int waitMs)
    {
        ++m_f.commands;
        m_issued = code;
        m_credited = false;
        IssueCommand(code);
        return waitFor([this] { return m_credited; }, waitMs);
    }

    void runCycle()
    {
        // Commands back to back, some with a fault.
        const int commands = int(m_random.bounded(4));
        for (int k = 0; k < commands; ++k) {
            injectFault();
            const uint8_t code = StormCommands[m_random.bounded(int(StormCommands.size()))];
            if (!command(code, AnswerWaitMs))
                ++m_f.unanswered;
        }
        // Pulled out, at a random moment of a command or between commands.
        if (m_random.bounded(2)) {
            injectFault();
            m_issued = StormCommands[m_random.bounded(int(StormCommands.size()))];
            m_credited = false;
            ++m_f.commands;
            ++m_f.unplugsMidCommand;
            IssueCommand(m_issued);
            waitFor([] { return false; }, int(m_random.bounded(15)));
        }
        m_h.sim.unplug();
        if (!waitFor([this] { return !m_h.link->attached() && !CardIssuerDevice; }, 2000))
            fail(QStringLiteral("cycle %1: the removal was not noticed").arg(m_cycle));
        waitFor([] { return false; }, int(m_random.bounded(30)));
        // Plugged in again: attached, and a read is answered.
        clearFaults();
        QElapsedTimer replug;
        replug.start();
        if (!m_h.sim.plug())
            fail(QStringLiteral("cycle %1: the simulator could not listen again: %2")
                     .arg(m_cycle)
                     .arg(m_h.sim.errorString()));
        if (!waitFor([this] { return m_h.link->attached() && m_h.sim.programConnected(); }, ReplugAnswerMs))
            fail(QStringLiteral("cycle %1: not attached again after the plug").arg(m_cycle));
        // Owner and blacklist writes of the storm replaced the card's record; the read expects a
        // device card.
        const auto device = EncodeTerminalParam(TerminalParamRec);
        m_h.sim.setSector(m_serial, 7, SectorState::Formatted,
                          QByteArray(reinterpret_cast<const char*>(device.data()), int(device.size())));
        if (!command(CmdReadDeviceCard, ReplugAnswerMs) || m_lastResult != 0)
            fail(QStringLiteral("cycle %1: no answer to a read after the plug (result %2)")
                     .arg(m_cycle)
                     .arg(m_lastResult));
        m_f.maxReplugMs = std::max(m_f.maxReplugMs, replug.elapsed());
        for (const auto& shown : m_dialogs.shown) {
            if (shown.text == QStringLiteral("接收数据错误！"))
                ++m_f.corruptNoticed;
        }
    }

    void answerHandled(uint8_t command, uint8_t result)
    {
        const QByteArray frame = m_observer.lastFrame;
        // The answer is one the card issuer sent, whole: the next one, or a later one when earlier
        // answers were lost with a removal or broken on the wire.
        while (!m_sent.empty() && m_sent.front() != frame)
            m_sent.pop_front();
        if (m_sent.empty())
            fail(QStringLiteral("cycle %1: an answer the card issuer never sent: %2")
                     .arg(m_cycle)
                     .arg(QString::fromLatin1(frame.toHex(','))));
        m_sent.pop_front();
        if (command != uint8_t(frame.size() > 2 ? frame[2] : 0))
            fail(QStringLiteral("cycle %1: answer %2 reported as %3")
                     .arg(m_cycle)
                     .arg(int(frame.size() > 2 ? frame[2] : 0))
                     .arg(command));

        const bool taken =
            PendingCommand != m_observer.pendingBefore || CardDataReady != m_observer.dataBefore;
        if (taken && command != m_observer.pendingBefore)
            fail(QStringLiteral("cycle %1: the answer to %2 was taken for %3")
                     .arg(m_cycle)
                     .arg(command)
                     .arg(m_observer.pendingBefore));
        if (command != m_issued) {
            ++m_f.ignored;
            return;
        }
        ++m_f.answered;
        if (taken)
            ++m_f.taken;
        m_lastResult = result & ResultMask;
        m_credited = true;
        CardDataReady = 0;
        // A window that is done with the answer goes back to idle, as the owner card windows do.
        PendingCommand = IdleCommand;
    }

    void print(int cycles, qint64 ms) const
    {
        std::printf(
            "storm: %d unplug cycles in %.1f s\n"
            "  commands %lld, answered %lld (taken for the pending command %lld), late answers "
            "ignored %lld, unanswered %lld\n"
            "  faults: read errors %lld, write errors %lld, missing answers %lld, corrupt reports %lld "
            "(noticed %lld), bit 7 switched %lld, answer delays %lld\n"
            "  unplugs in the middle of a command %lld\n"
            "  longest main-thread stall %lld ms, longest plug to answer %lld ms\n",
            cycles, double(ms) / 1000.0, m_f.commands, m_f.answered, m_f.taken, m_f.ignored, m_f.unanswered,
            m_f.readErrors, m_f.writeErrors, m_f.noAnswers, m_f.corrupts, m_f.corruptNoticed, m_f.highBits,
            m_f.delays, m_f.unplugsMidCommand, m_f.maxStallMs, m_f.maxReplugMs);
        std::fflush(stdout);
    }

    TestDialogs m_dialogs;
    SimHarness m_h;
    Observer m_observer;
    int m_cycles;
    int m_cycle = 0;
    uint32_t m_serial = 0;
    QRandomGenerator m_random;
    std::deque<QByteArray> m_sent;
    uint8_t m_issued = IdleCommand;
    bool m_credited = false;
    int m_lastResult = -1;
    Figures m_f;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    int cycles = 50;
    quint32 seed = 1;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--cycles"))
            cycles = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--seed"))
            seed = args[i + 1].toUInt();
    }
    Storm storm(cycles, seed);
    return storm.run();
}
