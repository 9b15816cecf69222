#pragma once

#include "Frames.h"
#include "MainThreadHandoff.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

// A general HID controller: the list of HID interfaces present, claiming and releasing them, one
// read thread per claimed device, and the notification that the set of devices changed. Where the
// devices come from is a backend's business (hidapi on the machine, or the simulated card issuer).

struct HidDeviceInfo {
    QString path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

// The two open handles of a claimed device. writeReport runs on the main thread, readReport on the
// device's read thread, possibly at the same time; everything else on the main thread.
class HidConnection {
public:
    virtual ~HidConnection() = default;
    // Report lengths as the device declares them, report ID included.
    virtual int inputReportLength() const = 0;
    virtual int outputReportLength() const = 0;
    // The driver's input buffer count, on both handles (where the system has one).
    virtual void setNumInputBuffers(int count) = 0;
    virtual int numInputBuffers() const = 0;
    // One output report; a failure is ignored by the program.
    virtual void writeReport(const uint8_t* report, int length) = 0;
    // Read thread: waits at most timeoutMs for one input report and stores it, report ID first.
    // Returns its length, 0 when none came, or a negative error code.
    virtual int readReport(uint8_t* buffer, int size, int timeoutMs) = 0;
    // Any thread: makes a readReport in progress return soon (where the system allows it).
    virtual void cancelRead() {}
};

class HidBackend : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The devices present now. Paths are unique across backends and never reused for another device.
    virtual QList<HidDeviceInfo> enumerate() = 0;
    // Opens both handles; null when the device cannot be opened.
    virtual std::unique_ptr<HidConnection> open(const QString& path) = 0;
    // Told on the main thread that a read of a device of this backend failed.
    virtual void readFailed(const QString& path, int error)
    {
        Q_UNUSED(path);
        Q_UNUSED(error);
    }

Q_SIGNALS:
    // The set of devices may have changed.
    void devicesChanged();
};

// The read thread of a claimed device: reads input reports in steps of at most 100 ms, hands each
// to the main thread and waits until it has been handled; a failed read hands its error code over.
class TJvHidDeviceReadThread {
public:
    struct Item {
        std::vector<uint8_t> report; // report ID first; empty for an error
        int error = 0;
    };
    // Starts at once. handler runs on the main thread.
    TJvHidDeviceReadThread(HidConnection* connection, int inputLength, Handoff<Item>::Handler handler);
    ~TJvHidDeviceReadThread();
    TJvHidDeviceReadThread(const TJvHidDeviceReadThread&) = delete;
    TJvHidDeviceReadThread& operator=(const TJvHidDeviceReadThread&) = delete;

    // Main thread: asks the thread to end and waits for it. A report it was handing over is still
    // handled, later, in its turn; the wait never depends on the main thread.
    void Stop();

private:
    void Execute();

    HidConnection* m_connection;
    int m_inputLength;
    Handoff<Item> m_handoff;
    std::atomic<bool> m_terminated{false};
    std::thread m_thread;
};

class TJvHidDeviceController;

// One HID interface in the controller's list. A claimed device is where output reports go.
class TJvHidDevice final : public QObject, public ReportSink {
    Q_OBJECT
public:
    const QString& DevicePath() const { return m_info.path; }
    uint16_t VendorID() const { return m_info.vendorId; }
    uint16_t ProductID() const { return m_info.productId; }
    bool PluggedIn() const { return m_pluggedIn; }
    bool IsCheckedOut() const { return m_checkedOut; }
    // Zero when not claimed.
    int InputReportLength() const;
    int OutputReportLength() const;
    void SetNumInputBuffers(int count);
    int NumInputBuffers() const;

    // ReportSink: writes one output report (main thread); nothing when the handles are closed.
    int outputReportLength() const override { return OutputReportLength(); }
    void writeReport(const uint8_t* report, int length) override;

private:
    friend class TJvHidDeviceController;
    TJvHidDevice(HidBackend* backend, HidDeviceInfo info, QObject* parent);
    ~TJvHidDevice() override;
    void closeHandles();

    HidBackend* m_backend;
    HidDeviceInfo m_info;
    bool m_pluggedIn = true;
    bool m_checkedOut = false;
    std::unique_ptr<HidConnection> m_connection;
    std::unique_ptr<TJvHidDeviceReadThread> m_readThread;
};

class TJvHidDeviceController final : public QObject {
    Q_OBJECT
public:
    // Takes the backends. Posts itself a device-change notification, so the first enumeration
    // runs once the event loop has started (and deviceChange follows it).
    explicit TJvHidDeviceController(std::vector<std::unique_ptr<HidBackend>> backends,
                                    QObject* parent = nullptr);
    ~TJvHidDeviceController() override;

    // Claims the first unclaimed, plugged-in device with these IDs that can be opened, in list
    // order, and starts its read thread. Null when there is none.
    TJvHidDevice* CheckOutByID(uint16_t vendorId, uint16_t productId);
    // Stops the read thread, closes the handles and unclaims; an unplugged device is destroyed.
    // device becomes null.
    void CheckIn(TJvHidDevice*& device);

    QList<TJvHidDevice*> Devices() const;

    // Enumerates again and compares with the list by path: removals first (marked unplugged,
    // handles closed, deviceRemoval), then arrivals; deviceChange when anything changed.
    void DeviceChange();

Q_SIGNALS:
    void deviceChange();
    void deviceRemoval(TJvHidDevice* device);
    // An input report of a claimed device, report ID apart. device is null when it was destroyed
    // before its last report was handled.
    void deviceData(TJvHidDevice* device, uint8_t reportId, const QByteArray& data);
    void deviceReadError(TJvHidDevice* device, int error);

private:
    void removeDevice(TJvHidDevice* device);

    std::vector<HidBackend*> m_backends;
    std::vector<TJvHidDevice*> m_devices;
    bool m_firstChange = true;
    bool m_inChange = false;
    bool m_changeAgain = false;
};
