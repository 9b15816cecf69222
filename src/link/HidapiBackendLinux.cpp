// The Linux piece of the HID access: hidapi's hidraw backend and a libudev monitor.

#include "HidapiBackend.h"
#include "HidapiConnection.h"

#include <QDebug>
#include <QFile>
#include <QSocketNotifier>
#include <libudev.h>
#include <map>

namespace {

class HidapiBackend final : public HidBackend {
public:
    explicit HidapiBackend(QObject* parent) : HidBackend(parent)
    {
        m_started = StartHidapi();
        if (!m_started)
            qWarning() << "hidapi could not be initialised";
        m_udev = udev_new();
        if (!m_udev)
            return;
        m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
        if (!m_monitor || udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(m_monitor) < 0) {
            qWarning() << "no device notifications: the udev monitor could not be started";
            return;
        }
        m_notifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &HidapiBackend::monitorEvents);
    }

    ~HidapiBackend() override
    {
        m_notifier.reset();
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        if (m_udev)
            udev_unref(m_udev);
        if (m_started)
            StopHidapi();
    }

    QList<HidDeviceInfo> enumerate() override
    {
        QList<HidDeviceInfo> list;
        std::lock_guard lock(hidapiMutex);
        hid_device_info* all = hid_enumerate(0, 0);
        for (const hid_device_info* info = all; info; info = info->next) {
            if (!info->path)
                continue;
            const QString node = QString::fromLocal8Bit(info->path);
            list.append(HidDeviceInfo{pathOf(node), info->vendor_id, info->product_id});
        }
        hid_free_enumeration(all);
        return list;
    }

    std::unique_ptr<HidConnection> open(const QString& path) override
    {
        const QByteArray node = HidapiNode(path);
        return OpenHidapiConnection(node, reportLengths(node));
    }

private:
    // A node that was removed and comes back is another device: its path gets a new suffix.
    QString pathOf(const QString& node) const
    {
        const auto it = m_generations.find(node);
        return it == m_generations.end() ? node : node + QLatin1Char('#') + QString::number(it->second);
    }

    HidReportLengths reportLengths(const QByteArray& node) const
    {
        if (!m_udev)
            return FallbackLengths;
        const QByteArray sysname = node.mid(node.lastIndexOf('/') + 1);
        udev_device* hidraw = udev_device_new_from_subsystem_sysname(m_udev, "hidraw", sysname.constData());
        if (!hidraw)
            return FallbackLengths;
        HidReportLengths lengths = FallbackLengths;
        if (udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr)) {
            QFile file(QString::fromLocal8Bit(udev_device_get_syspath(hid)) +
                       QStringLiteral("/report_descriptor"));
            if (file.open(QIODevice::ReadOnly)) {
                const HidReportLengths parsed = ParseReportDescriptor(file.readAll());
                if (parsed.input > 0 && parsed.output > 0)
                    lengths = parsed;
            }
        }
        udev_device_unref(hidraw);
        return lengths;
    }

    void monitorEvents()
    {
        while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
            const char* action = udev_device_get_action(device);
            const char* node = udev_device_get_devnode(device);
            if (action && node && qstrcmp(action, "remove") == 0)
                ++m_generations[QString::fromLocal8Bit(node)];
            udev_device_unref(device);
        }
        Q_EMIT devicesChanged();
    }

    bool m_started = false;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::map<QString, int> m_generations;
};

} // namespace

std::unique_ptr<HidBackend> CreateHidapiBackend(QObject* parent)
{
    return std::make_unique<HidapiBackend>(parent);
}
