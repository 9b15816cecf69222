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
        : socket_(std::move(socket)), backend_(backend)
    {
        if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
            wake_[0] = wake_[1] = -1;
    }
    ~SimulatorConnection() override
    {
        for (int fd : wake_)
            if (fd >= 0)
                ::close(fd);
        if (backend_)
            backend_->connectionClosed(socket_);
    }

    int inputReportLength() const override { return ReportSize; }
    int outputReportLength() const override { return ReportSize; }
    void setNumInputBuffers(int count) override { buffers_ = count; }
    int numInputBuffers() const override { return buffers_; }

    void writeReport(const uint8_t* report, int length) override
    {
        // Exactly 31 bytes travel, whatever the length asked for.
        std::array<uint8_t, ReportSize> bytes{};
        std::memcpy(bytes.data(), report, static_cast<size_t>(std::min(length, ReportSize)));
        size_t sent = 0;
        while (sent < bytes.size() && !socket_->ended.load()) {
            const ssize_t n = ::send(socket_->fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd p{socket_->fd, POLLOUT, 0};
                if (::poll(&p, 1, 1000) <= 0) {
                    // A simulator that stopped reading: give up on it rather than cut a report.
                    ::shutdown(socket_->fd, SHUT_RDWR);
                    return;
                }
            } else {
                return; // a failed write is ignored
            }
        }
    }

    int readReport(uint8_t* buffer, int size, int timeoutMs) override
    {
        if (socket_->ended.load())
            return -ECONNRESET;
        pollfd p[2] = {{socket_->fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = ::poll(p, wake_[0] >= 0 ? 2 : 1, timeoutMs);
        if (ready <= 0 || !(p[0].revents & (POLLIN | POLLHUP | POLLERR)))
            return 0;
        return socket_->take(buffer, size);
    }

    void cancelRead() override
    {
        if (wake_[1] >= 0) {
            const char c = 0;
            [[maybe_unused]] const ssize_t n = ::write(wake_[1], &c, 1);
        }
    }

private:
    std::shared_ptr<SimulatorBackend::Socket> socket_;
    QPointer<SimulatorBackend> backend_;
    int wake_[2] = {-1, -1};
    int buffers_ = 0;
};

SimulatorBackend::SimulatorBackend(const QString& socketPath, QObject* parent)
    : HidBackend(parent), socketPath_(socketPath)
{
    retry_.setInterval(RetryMs);
    connect(&retry_, &QTimer::timeout, this, &SimulatorBackend::tryConnect);
    retry_.start();
    QMetaObject::invokeMethod(this, &SimulatorBackend::tryConnect, Qt::QueuedConnection);
}

SimulatorBackend::~SimulatorBackend() = default;

bool SimulatorBackend::connected() const
{
    return socket_ && !socket_->ended.load();
}

QList<HidDeviceInfo> SimulatorBackend::enumerate()
{
    if (!connected())
        return {};
    return {HidDeviceInfo{socket_->path, CardIssuerVendorId, CardIssuerProductId}};
}

std::unique_ptr<HidConnection> SimulatorBackend::open(const QString& path)
{
    if (!connected() || path != socket_->path || claimed_)
        return nullptr;
    claimed_ = true;
    notifier_.reset();
    return std::make_unique<SimulatorConnection>(socket_, this);
}

void SimulatorBackend::readFailed(const QString& path, int error)
{
    Q_UNUSED(error);
    if (socket_ && socket_->path == path && socket_->ended.load())
        QMetaObject::invokeMethod(this, &SimulatorBackend::dropSocket, Qt::QueuedConnection);
}

void SimulatorBackend::connectionClosed(const std::shared_ptr<Socket>& socket)
{
    if (socket != socket_)
        return; // a connection that has already ended
    claimed_ = false;
    if (socket_->ended.load())
        dropSocket();
    else
        watchWhileUnclaimed();
}

void SimulatorBackend::tryConnect()
{
    if (socket_)
        return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = socketPath_.toLocal8Bit();
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
        if (!warned_)
            qWarning().noquote() << "simulated card issuer: unusable socket path" << socketPath_;
        warned_ = true;
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
    socket->path = QStringLiteral("sim:%1#%2").arg(socketPath_).arg(++connections_);
    socket_ = std::move(socket);
    retry_.stop();
    watchWhileUnclaimed();
    Q_EMIT devicesChanged();
}

void SimulatorBackend::watchWhileUnclaimed()
{
    notifier_ = std::make_unique<QSocketNotifier>(socket_->fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        // Not claimed: reports are read and dropped; the end of the connection is noticed.
        uint8_t discard[ReportSize];
        int n = 0;
        do
            n = socket_->take(discard, ReportSize);
        while (n > 0);
        if (n < 0) {
            notifier_->setEnabled(false);
            QMetaObject::invokeMethod(this, &SimulatorBackend::dropSocket, Qt::QueuedConnection);
        }
    });
}

void SimulatorBackend::dropSocket()
{
    if (!socket_ || claimed_) {
        // Still claimed: the device goes once the controller has released it (connectionClosed).
        if (socket_ && socket_->ended.load())
            Q_EMIT devicesChanged();
        return;
    }
    notifier_.reset();
    socket_.reset();
    retry_.start();
    Q_EMIT devicesChanged();
}
