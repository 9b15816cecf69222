#pragma once

#include "HidDevice.h"

#include <QSocketNotifier>
#include <QTimer>
#include <memory>

// The simulated card issuer, reached over a local stream socket: while a connection is open the
// card issuer is present (vendor 0x1A86, product 0xE010). Every report travels as exactly the 31
// bytes a HID write or read carries (report ID first); nothing else travels. Not connected, the
// backend tries to connect every 250 ms.

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
    static constexpr int RetryMs = 250;

private:
    void tryConnect();
    void dropSocket();
    void watchWhileUnclaimed();
    void connectionClosed(const std::shared_ptr<Socket>& socket);
    friend class SimulatorConnection;

    QString m_socketPath;
    std::shared_ptr<Socket> m_socket;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_retry;
    int m_connections = 0;
    bool m_claimed = false;
    bool m_warned = false;
};

// The environment variable that makes the program also look for the simulated card issuer.
inline constexpr const char* SimulatorVariable = "ICCARD_SIMULATOR";
