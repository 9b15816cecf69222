#pragma once

#include "HidDevice.h"

#include <QDir>
#include <QTimer>
#include <memory>

// The simulated card issuer, reached over a local socket (a Unix domain socket, or a named pipe on
// Windows): while a connection is open the card issuer is present (vendor 0x1A86, product 0xE010).
// Every report travels as exactly the 31 bytes a HID write or read carries (report ID first);
// nothing else travels. Not connected, the backend tries to connect every 250 ms. The socket lives
// on a thread of the backend's own, so that a claimed device's read thread waits for reports the
// way it waits on a HID device, whatever the main thread is doing.

class SimulatorBackend final : public HidBackend {
    Q_OBJECT
public:
    // The socket's path; the variable that names it in the program is ICCARD_SIMULATOR.
    explicit SimulatorBackend(const QString& socketPath, QObject* parent = nullptr);
    ~SimulatorBackend() override;

    QList<HidDeviceInfo> enumerate() override;
    std::unique_ptr<HidConnection> open(const QString& path) override;
    void readFailed(const QString& path, int error) override;

    bool connected() const;

    struct Socket;
    class IoThread;
    static constexpr int RetryMs = 250;

private:
    void tryConnect();
    void dropSocket();
    void connectionClosed(const std::shared_ptr<Socket>& socket);
    friend class SimulatorConnection;

    QString m_socketPath;
    std::shared_ptr<IoThread> m_io;
    std::shared_ptr<Socket> m_socket;
    QTimer m_retry;
    int m_connections = 0;
    bool m_claimed = false;
    bool m_warned = false;
};

// The environment variable that makes the program also look for the simulated card issuer.
inline constexpr const char* SimulatorVariable = "ICCARD_SIMULATOR";

// The local socket's name for a path: the path itself where sockets are files, the same text under
// the named pipes' folder on Windows (where a pipe's name may not hold a backslash).
inline QString SimulatorSocketName(const QString& path)
{
    return QDir::fromNativeSeparators(path);
}
