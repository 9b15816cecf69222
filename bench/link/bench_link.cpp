// Owner card writes through the simulated card issuer over the socket: the time from signalling
// CommandEvent to CardDataReady, beside the round trip of a bare 31-byte echo over the same kind of
// socket, measured in the same run. The simulator and the echo server run in threads of their own,
// as another process would; the program's side is the real link (worker, frames, read thread,
// answer handling).
//
//   bench_link [writes]      (default 10000)

#include "SimCardIssuer.h"
#include "cards/CardRecords.h"
#include "link/CardIssuerLink.h"
#include "link/CommandFrames.h"
#include "link/CommandWorker.h"
#include "link/Responses.h"
#include "link/SimulatorBackend.h"
#include "store/SaveLoad.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

struct Figures {
    double median;
    double p99;
    double mean;
};

Figures Summarise(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) { return us[std::min(us.size() - 1, size_t(q * double(us.size())))]; };
    double sum = 0;
    for (double v : us)
        sum += v;
    return {at(0.5), at(0.99), sum / double(us.size())};
}

// Echoes every byte it receives.
class EchoServer final : public QObject {
public:
    QLocalServer server{this};
    bool listen(const QString& path)
    {
        QLocalServer::removeServer(path);
        connect(&server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* s = server.nextPendingConnection()) {
                connect(s, &QLocalSocket::readyRead, s, [s] {
                    s->write(s->readAll());
                    s->flush();
                });
            }
        });
        return server.listen(path);
    }
};

// A raw client like the program's simulated backend: blocking send, poll, receive.
std::vector<double> EchoRoundTrips(const QString& path, int rounds)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray p = path.toLocal8Bit();
    std::memcpy(address.sun_path, p.constData(), size_t(p.size()));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("echo connect");
        return {};
    }
    std::vector<double> times;
    uint8_t report[31] = {0, 29, 0xBB, 1, 1};
    uint8_t back[31];
    QElapsedTimer clock;
    for (int i = -100; i < rounds; ++i) {
        clock.start();
        if (::send(fd, report, sizeof report, MSG_NOSIGNAL) != ssize_t(sizeof report))
            break;
        size_t have = 0;
        while (have < sizeof back) {
            pollfd pf{fd, POLLIN, 0};
            ::poll(&pf, 1, 1000);
            const ssize_t n = ::recv(fd, back + have, sizeof back - have, 0);
            if (n <= 0)
                break;
            have += size_t(n);
        }
        if (i >= 0)
            times.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    ::close(fd);
    return times;
}

template <class T, class F> auto RunIn(T* object, F f)
{
    decltype(f()) result{};
    QMetaObject::invokeMethod(
        object, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int writes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    QTemporaryDir dir;
    const QString simPath = dir.filePath(QStringLiteral("sim.sock"));
    const QString echoPath = dir.filePath(QStringLiteral("echo.sock"));

    QThread simThread;
    QThread echoThread;
    simThread.start();
    echoThread.start();
    auto* sim = new SimCardIssuer;
    sim->moveToThread(&simThread);
    auto* echo = new EchoServer;
    echo->moveToThread(&echoThread);
    constexpr uint32_t serial = 0x12345678;
    const bool simReady = RunIn(sim, [&] {
        sim->addCard(serial);
        sim->setSector(serial, 7, SectorState::Formatted);
        sim->present(serial);
        return sim->listen(simPath);
    });
    const bool echoReady = RunIn(echo, [&] { return echo->listen(echoPath); });
    if (!simReady || !echoReady) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }

    // The bare socket first, then the program's path.
    const Figures echoFigures = Summarise(EchoRoundTrips(echoPath, writes));

    DefaultSystemInfo(SystemInfo);
    std::memcpy(SystemInfo.RegionID, "12345678", 8);
    std::vector<std::unique_ptr<HidBackend>> backends;
    backends.push_back(std::make_unique<SimulatorBackend>(simPath));
    CardIssuerLink link(std::move(backends));
    StartCommandWorker();
    {
        QEventLoop wait;
        QObject::connect(&link, &CardIssuerLink::attachedChanged, &wait, &QEventLoop::quit);
        QTimer::singleShot(2000, &wait, &QEventLoop::quit);
        if (!link.attached())
            wait.exec();
    }
    if (!link.attached()) {
        std::fprintf(stderr, "the simulated card issuer was not attached\n");
        return 1;
    }

    UserCardRec = {};
    UserCardRec.Sector = 7;
    std::memcpy(UserCardRec.RegionID, "12345678", 8);
    std::vector<double> times;
    times.reserve(size_t(writes));
    QElapsedTimer clock;
    QEventLoop loop;
    QObject::connect(&link, &CardIssuerLink::answerHandled, &loop, [&] {
        if (CardDataReady) {
            times.push_back(double(clock.nsecsElapsed()) / 1000.0);
            loop.quit();
        }
    });
    int failed = 0;
    for (int i = -100; i < writes; ++i) {
        CardDataReady = 0;
        PendingCommand = CmdWriteOwnerCard;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        timeout.start(2000);
        clock.start();
        SignalCommandEvent();
        loop.exec();
        if (!CardDataReady || CardResult != 0 || uint32_t(UserCardRec.CardSerial) != serial)
            ++failed;
        if (i < 0 && !times.empty())
            times.pop_back(); // warm-up
    }
    StopCommandWorker();

    const Figures linkFigures = Summarise(times);
    std::printf("owner card writes: %zu (failed %d)\n", times.size(), failed);
    std::printf("%-44s %10s %10s %10s\n", "", "median us", "p99 us", "mean us");
    std::printf("%-44s %10.1f %10.1f %10.1f\n", "bare 31-byte echo round trip", echoFigures.median,
                echoFigures.p99, echoFigures.mean);
    std::printf("%-44s %10.1f %10.1f %10.1f\n", "CommandEvent -> CardDataReady (owner write)",
                linkFigures.median, linkFigures.p99, linkFigures.mean);
    std::printf("ratio of medians: %.2f\n", linkFigures.median / echoFigures.median);

    RunIn(sim, [&] {
        delete sim;
        return true;
    });
    RunIn(echo, [&] {
        delete echo;
        return true;
    });
    simThread.quit();
    echoThread.quit();
    simThread.wait();
    echoThread.wait();
    return failed == 0 ? 0 : 1;
}
