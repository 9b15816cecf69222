// The Windows piece of the HID access: hidapi's Windows backend (the system's HID class driver, so
// no driver of the card issuer's own is needed), and arrival and removal noticed by looking at the
// list of HID interfaces twice a second, which an operator cannot tell from a notification.

#include "HidapiBackend.h"
#include "HidapiConnection.h"

#include <QDebug>
#include <QSet>
#include <QTimer>
#include <map>

namespace {

// The card issuer's reports are 31 bytes with the report ID; Windows always hands the ID over.
constexpr HidReportLengths WindowsLengths{31, 31, true};

class HidapiBackend final : public HidBackend {
public:
    static constexpr int PollMs = 500;

    explicit HidapiBackend(QObject* parent) : HidBackend(parent)
    {
        m_started = StartHidapi();
        if (!m_started) {
            qWarning() << "hidapi could not be initialised: no card issuer is looked for";
            return;
        }
        m_present = readPresent();
        m_poll.setInterval(PollMs);
        connect(&m_poll, &QTimer::timeout, this, &HidapiBackend::poll);
        m_poll.start();
    }

    ~HidapiBackend() override
    {
        if (m_started)
            StopHidapi();
    }

    QList<HidDeviceInfo> enumerate() override
    {
        QList<HidDeviceInfo> list;
        if (!m_started)
            return list;
        std::lock_guard lock(hidapiMutex);
        hid_device_info* all = hid_enumerate(0, 0);
        for (const hid_device_info* info = all; info; info = info->next) {
            if (info->path)
                list.append(HidDeviceInfo{pathOf(QString::fromLocal8Bit(info->path)), info->vendor_id,
                                          info->product_id});
        }
        hid_free_enumeration(all);
        return list;
    }

    std::unique_ptr<HidConnection> open(const QString& path) override
    {
        if (!m_started)
            return nullptr;
        return OpenHidapiConnection(HidapiNode(path), WindowsLengths);
    }

private:
    // A device path that goes away and comes back is another device: its path gets a new suffix.
    QString pathOf(const QString& node) const
    {
        const auto it = m_generations.find(node);
        return it == m_generations.end() ? node : node + QLatin1Char('#') + QString::number(it->second);
    }

    QSet<QString> readPresent()
    {
        QSet<QString> present;
        std::lock_guard lock(hidapiMutex);
        hid_device_info* all = hid_enumerate(0, 0);
        for (const hid_device_info* info = all; info; info = info->next) {
            if (info->path)
                present.insert(QString::fromLocal8Bit(info->path));
        }
        hid_free_enumeration(all);
        return present;
    }

    void poll()
    {
        QSet<QString> present = readPresent();
        if (present == m_present)
            return;
        for (const QString& gone : m_present) {
            if (!present.contains(gone))
                ++m_generations[gone];
        }
        m_present = std::move(present);
        Q_EMIT devicesChanged();
    }

    bool m_started = false;
    QTimer m_poll;
    QSet<QString> m_present;
    std::map<QString, int> m_generations;
};

} // namespace

std::unique_ptr<HidBackend> CreateHidapiBackend(QObject* parent)
{
    return std::make_unique<HidapiBackend>(parent);
}
