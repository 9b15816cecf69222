#include "SimulatorBackend.h"

#include "CardIssuerIds.h"

#include <QDebug>
#include <QLocalSocket>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

// The thread the sockets live on, with its event loop; shared by the backend and its connections,
// so that it runs as long as a socket does.
class SimulatorBackend::IoThread {
public:
    IoThread()
    {
        m_context.moveToThread(&m_thread);
        m_thread.setObjectName(QStringLiteral("simulator socket"));
        m_thread.start();
    }
    ~IoThread()
    {
        m_thread.quit();
        m_thread.wait();
    }
    IoThread(const IoThread&) = delete;
    IoThread& operator=(const IoThread&) = delete;

    // Runs the function on the thread and waits for it (never called from the thread itself).
    template <typename F> void Run(F&& function)
    {
        QMetaObject::invokeMethod(&m_context, std::forward<F>(function), Qt::BlockingQueuedConnection);
    }
    // Runs the function on the thread, in order, without waiting.
    template <typename F> void Post(F&& function)
    {
        QMetaObject::invokeMethod(&m_context, std::forward<F>(function), Qt::QueuedConnection);
    }

private:
    QThread m_thread;
    QObject m_context;
};

struct SimulatorBackend::Socket {
    std::shared_ptr<IoThread> io;
    QLocalSocket* socket = nullptr; // on the I/O thread
    QString path;                   // device path of this connection
    std::atomic<bool> ended{false};
    std::atomic<bool> claimed{false};

    QMutex mutex;
    QWaitCondition arrived;
    QByteArray received;              // bytes come and not yet taken, under the mutex
    bool woken = false;               // a read asked to return, under the mutex
    QPointer<SimulatorBackend> owner; // told when the connection ends unclaimed, under the mutex

    ~Socket()
    {
        if (socket) {
            QLocalSocket* s = socket;
            io->Run([s] {
                s->abort();
                delete s;
            });
        }
    }

    // I/O thread: what came. Unclaimed, whole reports are read and dropped.
    void onReadyRead()
    {
        const QByteArray bytes = socket->readAll();
        QMutexLocker lock(&mutex);
        received += bytes;
        if (!claimed.load())
            received.remove(0, received.size() - received.size() % ReportSize);
        arrived.wakeAll();
    }

    // I/O thread: the simulator went away.
    void onEnded()
    {
        if (ended.exchange(true))
            return;
        QMutexLocker lock(&mutex);
        arrived.wakeAll();
        if (owner && !claimed.load())
            QMetaObject::invokeMethod(owner.data(), &SimulatorBackend::dropSocket, Qt::QueuedConnection);
    }

    // Waits at most timeoutMs for a whole report and takes it: its length; nothing complete: 0; the
    // connection ended: -ECONNRESET.
    int take(uint8_t* buffer, int size, int timeoutMs)
    {
        QMutexLocker lock(&mutex);
        if (received.size() < ReportSize && !ended.load() && !woken)
            arrived.wait(&mutex, QDeadlineTimer(timeoutMs));
        woken = false;
        if (received.size() < ReportSize)
            return ended.load() ? -ECONNRESET : 0;
        const int n = std::min(size, ReportSize);
        std::memcpy(buffer, received.constData(), static_cast<size_t>(n));
        received.remove(0, ReportSize);
        return n;
    }

    void wake()
    {
        QMutexLocker lock(&mutex);
        woken = true;
        arrived.wakeAll();
    }
};

class SimulatorConnection final : public HidConnection {
public:
    SimulatorConnection(std::shared_ptr<SimulatorBackend::Socket> socket, SimulatorBackend* backend)
        : m_socket(std::move(socket)), m_backend(backend)
    {
        QMutexLocker lock(&m_socket->mutex);
        m_socket->received.clear(); // what came before the claim was dropped
        m_socket->claimed.store(true);
    }
    ~SimulatorConnection() override
    {
        m_socket->claimed.store(false);
        if (m_backend)
            m_backend->connectionClosed(m_socket);
    }

    int inputReportLength() const override { return ReportSize; }
    int outputReportLength() const override { return ReportSize; }
    void setNumInputBuffers(int count) override { m_buffers = count; }
    int numInputBuffers() const override { return m_buffers; }

    void writeReport(const uint8_t* report, int length) override
    {
        // Exactly 31 bytes travel, whatever the length asked for; a failed write is ignored.
        QByteArray bytes(ReportSize, '\0');
        std::memcpy(bytes.data(), report, static_cast<size_t>(std::min(length, ReportSize)));
        if (m_socket->ended.load())
            return;
        QLocalSocket* socket = m_socket->socket;
        m_socket->io->Post([socket, bytes] {
            socket->write(bytes);
            socket->flush();
        });
    }

    int readReport(uint8_t* buffer, int size, int timeoutMs) override
    {
        return m_socket->take(buffer, size, timeoutMs);
    }

    void cancelRead() override { m_socket->wake(); }

private:
    std::shared_ptr<SimulatorBackend::Socket> m_socket;
    QPointer<SimulatorBackend> m_backend;
    int m_buffers = 0;
};

SimulatorBackend::SimulatorBackend(const QString& socketPath, QObject* parent)
    : HidBackend(parent), m_socketPath(socketPath), m_io(std::make_shared<IoThread>())
{
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, &SimulatorBackend::tryConnect);
    m_retry.start();
    QMetaObject::invokeMethod(this, &SimulatorBackend::tryConnect, Qt::QueuedConnection);
}

SimulatorBackend::~SimulatorBackend()
{
    if (m_socket) {
        QMutexLocker lock(&m_socket->mutex);
        m_socket->owner = nullptr;
    }
}

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
}

void SimulatorBackend::tryConnect()
{
    if (m_socket)
        return;
    if (m_socketPath.isEmpty()) {
        if (!m_warned)
            qWarning().noquote() << "simulated card issuer: no socket named";
        m_warned = true;
        return;
    }
    auto socket = std::make_shared<Socket>();
    socket->io = m_io;
    socket->owner = this;
    Socket* s = socket.get();
    const QString name = SimulatorSocketName(m_socketPath);
    // A socket nobody listens on is refused at once, on both kinds of local socket.
    m_io->Run([s, name] {
        auto* local = new QLocalSocket;
        local->connectToServer(name);
        if (!local->waitForConnected(1000)) {
            delete local;
            return;
        }
        QObject::connect(local, &QLocalSocket::readyRead, local, [s] { s->onReadyRead(); });
        QObject::connect(local, &QLocalSocket::disconnected, local, [s] { s->onEnded(); });
        QObject::connect(local, &QLocalSocket::errorOccurred, local, [s] { s->onEnded(); });
        s->socket = local;
        if (local->bytesAvailable() > 0)
            s->onReadyRead();
        if (local->state() != QLocalSocket::ConnectedState)
            s->onEnded();
    });
    if (!socket->socket)
        return;
    socket->path = QStringLiteral("sim:%1#%2").arg(m_socketPath).arg(++m_connections);
    m_socket = std::move(socket);
    m_retry.stop();
    Q_EMIT devicesChanged();
}

void SimulatorBackend::dropSocket()
{
    if (!m_socket || m_claimed) {
        // Still claimed: the device goes once the controller has released it (connectionClosed).
        if (m_socket && m_socket->ended.load())
            Q_EMIT devicesChanged();
        return;
    }
    {
        QMutexLocker lock(&m_socket->mutex);
        m_socket->owner = nullptr;
    }
    m_socket.reset();
    m_retry.start();
    Q_EMIT devicesChanged();
}
