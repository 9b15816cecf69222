#include "SimulatorBackend.h"

#include "CardIssuerIds.h"

#include <QDebug>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The client end is plain POSIX: the read thread blocks in poll() on the socket like a HID read
// blocks on the device, while the main thread writes.

struct SimulatorBackend::Socket {
    int fd = -1;
    QString path; // device path of this connection
    std::atomic<bool> ended{false};
    // A report being received; used by one reader at a time (the main thread while the device is
    // not claimed, its read thread while it is).
    std::array<uint8_t, ReportSize> partial{};
    int have = 0;

    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Reads what is there without waiting. A whole report: its length. Nothing complete: 0.
    // The connection ended: -ECONNRESET.
    int take(uint8_t* buffer, int size)
    {
        while (have < ReportSize) {
            const ssize_t n =
                ::recv(fd, partial.data() + have, static_cast<size_t>(ReportSize - have), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                ended.store(true);
                return -ECONNRESET;
            }
            if (n < 0)
                return 0;
            have += static_cast<int>(n);
        }
        have = 0;
        const int n = std::min(size, ReportSize);
        std::memcpy(buffer, partial.data(), static_cast<size_t>(n));
        return n;
    }
};

class SimulatorConnection final : public HidConnection {
public:
    SimulatorConnection(std::shared_ptr<SimulatorBackend::Socket> socket, SimulatorBackend* backend)
        : m_socket(std::move(socket)), m_backend(backend)
    {
        if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            m_wake[0] = m_wake[1] = -1;
    }
    ~SimulatorConnection() override
    {
        for (int fd : m_wake)
            if (fd >= 0)
                ::close(fd);
        if (m_backend)
            m_backend->connectionClosed(m_socket);
    }

    int inputReportLength() const override { return ReportSize; }
    int outputReportLength() const override { return ReportSize; }
    void setNumInputBuffers(int count) override { m_buffers = count; }
    int numInputBuffers() const override { return m_buffers; }

    void writeReport(const uint8_t* report, int length) override
    {
        // Exactly 31 bytes travel, whatever the length asked for.
        std::array<uint8_t, ReportSize> bytes{};
        std::memcpy(bytes.data(), report, static_cast<size_t>(std::min(length, ReportSize)));
        size_t sent = 0;
        while (sent < bytes.size() && !m_socket->ended.load()) {
            const ssize_t n = ::send(m_socket->fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd p{m_socket->fd, POLLOUT, 0};
                if (::poll(&p, 1, 1000) <= 0) {
                    // A simulator that stopped reading: give up on it rather than cut a report.
                    ::shutdown(m_socket->fd, SHUT_RDWR);
                    return;
                }
            } else {
                return; // a failed write is ignored
            }
        }
    }

    int readReport(uint8_t* buffer, int size, int timeoutMs) override
    {
        if (m_socket->ended.load())
            return -ECONNRESET;
        pollfd p[2] = {{m_socket->fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(p, m_wake[0] >= 0 ? 2 : 1, timeoutMs);
        if (ready <= 0 || !(p[0].revents & (POLLIN | POLLHUP | POLLERR)))
            return 0;
        return m_socket->take(buffer, size);
    }

    void cancelRead() override
    {
        if (m_wake[1] >= 0) {
            const char c = 0;
            [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &c, 1);
        }
    }

private:
    std::shared_ptr<SimulatorBackend::Socket> m_socket;
    QPointer<SimulatorBackend> m_backend;
    int m_wake[2] = {-1, -1};
    int m_buffers = 0;
};

SimulatorBackend::SimulatorBackend(const QString& socketPath, QObject* parent)
    : HidBackend(parent), m_socketPath(socketPath)
{
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, &SimulatorBackend::tryConnect);
    m_retry.start();
    QMetaObject::invokeMethod(this, &SimulatorBackend::tryConnect, Qt::QueuedConnection);
}

SimulatorBackend::~SimulatorBackend() = default;

bool SimulatorBackend::connected() const
{
    return m_socket && !m_socket->ended.load();
}

QList<HidDeviceInfo> SimulatorBackend::enumerate()
{
    if (!connected())
        return {};
    return {HidDeviceInfo{m_socket->path, CardIssuerVendorId, CardIssuerProductId}};
}

std::unique_ptr<HidConnection> SimulatorBackend::open(const QString& path)
{
    if (!connected() || path != m_socket->path || m_claimed)
        return nullptr;
    m_claimed = true;
    m_notifier.reset();
    return std::make_unique<SimulatorConnection>(m_socket, this);
}

void SimulatorBackend::readFailed(const QString& path, int error)
{
    Q_UNUSED(error);
    if (m_socket && m_socket->path == path && m_socket->ended.load())
        QMetaObject::invokeMethod(this, &SimulatorBackend::dropSocket, Qt::QueuedConnection);
}

void SimulatorBackend::connectionClosed(const std::shared_ptr<Socket>& socket)
{
    if (socket != m_socket)
        return; // a connection that has already ended
    m_claimed = false;
    if (m_socket->ended.load())
        dropSocket();
    else
        watchWhileUnclaimed();
}

void SimulatorBackend::tryConnect()
{
    if (m_socket)
        return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = m_socketPath.toLocal8Bit();
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
        if (!m_warned)
            qWarning().noquote() << "simulated card issuer: unusable socket path" << m_socketPath;
        m_warned = true;
        return;
    }
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    auto socket = std::make_shared<Socket>();
    socket->fd = fd;
    socket->path = QStringLiteral("sim:%1#%2").arg(m_socketPath).arg(++m_connections);
    m_socket = std::move(socket);
    m_retry.stop();
    watchWhileUnclaimed();
    Q_EMIT devicesChanged();
}

void SimulatorBackend::watchWhileUnclaimed()
{
    m_notifier = std::make_unique<QSocketNotifier>(m_socket->fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        // Not claimed: reports are read and dropped; the end of the connection is noticed.
        uint8_t discard[ReportSize];
        int n = 0;
        do
            n = m_socket->take(discard, ReportSize);
        while (n > 0);
        if (n < 0) {
            m_notifier->setEnabled(false);
            QMetaObject::invokeMethod(this, &SimulatorBackend::dropSocket, Qt::QueuedConnection);
        }
    });
}

void SimulatorBackend::dropSocket()
{
    if (!m_socket || m_claimed) {
        // Still claimed: the device goes once the controller has released it (connectionClosed).
        if (m_socket && m_socket->ended.load())
            Q_EMIT devicesChanged();
        return;
    }
    m_notifier.reset();
    m_socket.reset();
    m_retry.start();
    Q_EMIT devicesChanged();
}
