// The Linux piece of the HID access: hidapi's hidraw backend and a libudev monitor.

#include "HidReportDescriptor.h"
#include "HidapiBackend.h"

#include <QDebug>
#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <map>
#include <mutex>

namespace {

// hid_init, hid_exit, enumeration, opening and closing share state inside hidapi and must not run
// at the same time. Reads (read thread, on the read handle) and writes (main thread, on the write
// handle) use separate handles, so they never share a device structure.
std::mutex hidapiMutex;
int hidapiUsers = 0;

constexpr HidReportLengths FallbackLengths{31, 31, false};

class HidapiConnection final : public HidConnection {
public:
    HidapiConnection(hid_device* writeHandle, hid_device* readHandle, HidReportLengths lengths)
        : m_write(writeHandle), m_read(readHandle), m_lengths(lengths)
    {
    }
    ~HidapiConnection() override
    {
        std::lock_guard lock(hidapiMutex);
        hid_close(m_read);
        hid_close(m_write);
    }

    int inputReportLength() const override { return m_lengths.input; }
    int outputReportLength() const override { return m_lengths.output; }
    // hidraw keeps a fixed queue per open handle; the count is only remembered.
    void setNumInputBuffers(int count) override { m_buffers = count; }
    int numInputBuffers() const override { return m_buffers; }

    void writeReport(const uint8_t* report, int length) override
    {
        if (length > 0)
            hid_write(m_write, report, static_cast<size_t>(length));
    }

    int readReport(uint8_t* buffer, int size, int timeoutMs) override
    {
        // hidraw leaves out the report ID of a device that numbers no reports; put the 0 back, so
        // that every report starts with its ID as the program expects.
        const int skip = m_lengths.numbered ? 0 : 1;
        if (size <= skip)
            return 0;
        const int n = hid_read_timeout(m_read, buffer + skip, static_cast<size_t>(size - skip), timeoutMs);
        if (n < 0)
            return -EIO;
        if (n == 0)
            return 0;
        if (skip)
            buffer[0] = 0;
        return n + skip;
    }

private:
    hid_device* m_write;
    hid_device* m_read;
    HidReportLengths m_lengths;
    int m_buffers = 0;
};

class HidapiBackend final : public HidBackend {
public:
    explicit HidapiBackend(QObject* parent) : HidBackend(parent)
    {
        {
            std::lock_guard lock(hidapiMutex);
            if (hidapiUsers++ == 0 && hid_init() != 0)
                qWarning() << "hidapi could not be initialised";
        }
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
        std::lock_guard lock(hidapiMutex);
        if (--hidapiUsers == 0)
            hid_exit();
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
        const QByteArray node = path.section(QLatin1Char('#'), 0, 0).toLocal8Bit();
        const HidReportLengths lengths = reportLengths(node);
        std::lock_guard lock(hidapiMutex);
        hid_device* writeHandle = hid_open_path(node.constData());
        hid_device* readHandle = writeHandle ? hid_open_path(node.constData()) : nullptr;
        if (!readHandle) {
            if (writeHandle)
                hid_close(writeHandle);
            return nullptr;
        }
        return std::make_unique<HidapiConnection>(writeHandle, readHandle, lengths);
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
