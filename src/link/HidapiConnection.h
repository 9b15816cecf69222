#pragma once

// What the hidapi backends of every system share: the lock around hidapi's shared state, its
// initialisation, and the two handles of a claimed device.

#include "HidDevice.h"
#include "HidReportDescriptor.h"

#include <cerrno>
#include <hidapi/hidapi.h>
#include <mutex>

// hid_init, hid_exit, enumeration, opening and closing share state inside hidapi and must not run
// at the same time. Reads (read thread, on the read handle) and writes (main thread, on the write
// handle) use separate handles, so they never share a device structure.
inline std::mutex hidapiMutex;
inline int hidapiUsers = 0;

inline constexpr HidReportLengths FallbackLengths{31, 31, false};

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
    // The count is only remembered: hidraw keeps a fixed queue per open handle, and the card issuer
    // is read as fast as it answers.
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
        // that every report starts with its ID as the program expects (Windows always keeps it).
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

// Starts hidapi for one more backend; false when the system's HID access cannot be used.
inline bool StartHidapi()
{
    std::lock_guard lock(hidapiMutex);
    if (hidapiUsers++ == 0 && hid_init() != 0) {
        hid_exit();
        hidapiUsers = 0;
        return false;
    }
    return true;
}

// Ends a backend's use of hidapi (only after a StartHidapi that succeeded).
inline void StopHidapi()
{
    std::lock_guard lock(hidapiMutex);
    if (--hidapiUsers == 0)
        hid_exit();
}

// The device path a backend's list gives (a node, with "#N" once it came back) without the suffix.
inline QByteArray HidapiNode(const QString& path)
{
    return path.section(QLatin1Char('#'), 0, 0).toLocal8Bit();
}

// Opens both handles of the device at node; null when either cannot be opened.
inline std::unique_ptr<HidConnection> OpenHidapiConnection(const QByteArray& node, HidReportLengths lengths)
{
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
