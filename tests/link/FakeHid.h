#pragma once

#include "link/HidDevice.h"

#include <QByteArray>
#include <QList>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// A HID backend of devices that live in the test: reports to be read are queued by the test (or
// made up without end by a "streaming" device), written reports are recorded.
class FakeHidBackend final : public HidBackend {
public:
    struct Device {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<std::vector<uint8_t>> input;
        bool streaming = false;    // every read returns the next numbered report at once
        uint32_t nextSequence = 0; // guarded by mutex
        bool cancelled = false;
        QList<QByteArray> written; // main thread
        int opens = 0;             // main thread
    };

    struct Entry {
        HidDeviceInfo info;
        std::shared_ptr<Device> device;
    };

    QList<Entry> present;
    bool failOpen = false;

    std::shared_ptr<Device> plug(const QString& path, uint16_t vendorId, uint16_t productId,
                                 bool notify = true)
    {
        auto device = std::make_shared<Device>();
        present.append({{path, vendorId, productId}, device});
        if (notify)
            Q_EMIT devicesChanged();
        return device;
    }
    void unplug(const QString& path)
    {
        for (qsizetype i = 0; i < present.size(); ++i)
            if (present[i].info.path == path)
                present.removeAt(i--);
        Q_EMIT devicesChanged();
    }

    QList<HidDeviceInfo> enumerate() override
    {
        QList<HidDeviceInfo> out;
        for (const Entry& e : present)
            out.append(e.info);
        return out;
    }

    std::unique_ptr<HidConnection> open(const QString& path) override;

    // A report as the card issuer sends it: report ID 0, 29, 0xBB, count 1, index 1, the frame, 0xCC.
    static std::vector<uint8_t> SequenceReport(uint32_t n)
    {
        std::vector<uint8_t> r(ReportSize, 0);
        r[1] = 29;
        r[2] = PacketHead;
        r[3] = 1;
        r[4] = 1;
        const uint8_t frame[] = {FrameHead,       9,          8,        0, uint8_t(n >> 24), uint8_t(n >> 16),
                                 uint8_t(n >> 8), uint8_t(n), FrameTail};
        std::copy(std::begin(frame), std::end(frame), r.begin() + 5);
        r[30] = PacketTail;
        return r;
    }
};

class FakeHidConnection final : public HidConnection {
public:
    explicit FakeHidConnection(std::shared_ptr<FakeHidBackend::Device> device) : m_device(std::move(device))
    {
        std::lock_guard lock(m_device->mutex);
        m_device->cancelled = false;
    }
    int inputReportLength() const override { return ReportSize; }
    int outputReportLength() const override { return ReportSize; }
    void setNumInputBuffers(int count) override { m_buffers = count; }
    int numInputBuffers() const override { return m_buffers; }
    void writeReport(const uint8_t* report, int length) override
    {
        m_device->written.append(QByteArray(reinterpret_cast<const char*>(report), length));
    }
    int readReport(uint8_t* buffer, int size, int timeoutMs) override
    {
        std::unique_lock lock(m_device->mutex);
        std::vector<uint8_t> report;
        if (m_device->streaming) {
            report = FakeHidBackend::SequenceReport(m_device->nextSequence++);
        } else {
            m_device->ready.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return !m_device->input.empty() || m_device->cancelled; });
            if (m_device->input.empty())
                return 0;
            report = std::move(m_device->input.front());
            m_device->input.pop_front();
        }
        const int n = std::min<int>(size, int(report.size()));
        std::copy(report.begin(), report.begin() + n, buffer);
        return n;
    }
    void cancelRead() override
    {
        std::lock_guard lock(m_device->mutex);
        m_device->cancelled = true;
        m_device->ready.notify_all();
    }

private:
    std::shared_ptr<FakeHidBackend::Device> m_device;
    int m_buffers = 0;
};

inline std::unique_ptr<HidConnection> FakeHidBackend::open(const QString& path)
{
    if (failOpen)
        return nullptr;
    for (const Entry& e : present)
        if (e.info.path == path) {
            ++e.device->opens;
            return std::make_unique<FakeHidConnection>(e.device);
        }
    return nullptr;
}

// Queues input reports on a fake device (any thread).
inline void FeedReports(FakeHidBackend::Device& device, const std::vector<std::vector<uint8_t>>& reports)
{
    std::lock_guard lock(device.mutex);
    for (const auto& r : reports)
        device.input.push_back(r);
    device.ready.notify_all();
}
