#include "HidDevice.h"

#include "ProgramState.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr int ReadStepMs = 100;

} // namespace

// ---------------------------------------------------------------------------------------------
// Read thread

TJvHidDeviceReadThread::TJvHidDeviceReadThread(HidConnection* connection, int inputLength,
                                               Handoff<Item>::Handler handler)
    : m_connection(connection), m_inputLength(std::max(inputLength, 1)), m_handoff(std::move(handler)),
      m_thread([this] { Execute(); })
{
}

TJvHidDeviceReadThread::~TJvHidDeviceReadThread()
{
    Stop();
}

void TJvHidDeviceReadThread::Execute()
{
    std::vector<uint8_t> buffer(static_cast<size_t>(m_inputLength));
    std::mutex pauseMutex;
    std::condition_variable pause;
    while (!m_terminated.load()) {
        const int n = m_connection->readReport(buffer.data(), m_inputLength, ReadStepMs);
        if (m_terminated.load())
            break;
        if (n > 0) {
            m_handoff.deliver(Item{std::vector<uint8_t>(buffer.begin(), buffer.begin() + n), 0});
        } else if (n < 0) {
            m_handoff.deliver(Item{{}, n});
            // A device that keeps failing (pulled out, not yet noticed) is tried again in steps.
            std::unique_lock lock(pauseMutex);
            pause.wait_for(lock, std::chrono::milliseconds(ReadStepMs), [&] { return m_terminated.load(); });
        }
    }
}

void TJvHidDeviceReadThread::Stop()
{
    if (!m_thread.joinable())
        return;
    m_terminated.store(true);
    m_connection->cancelRead();
    m_handoff.cancel(false);
    m_thread.join();
}

// ---------------------------------------------------------------------------------------------
// Device

TJvHidDevice::TJvHidDevice(HidBackend* backend, HidDeviceInfo info, QObject* parent)
    : QObject(parent), m_backend(backend), m_info(std::move(info))
{
}

TJvHidDevice::~TJvHidDevice()
{
    closeHandles();
}

int TJvHidDevice::InputReportLength() const
{
    return m_connection ? m_connection->inputReportLength() : 0;
}

int TJvHidDevice::OutputReportLength() const
{
    return m_connection ? m_connection->outputReportLength() : 0;
}

void TJvHidDevice::SetNumInputBuffers(int count)
{
    if (m_connection)
        m_connection->setNumInputBuffers(count);
}

int TJvHidDevice::NumInputBuffers() const
{
    return m_connection ? m_connection->numInputBuffers() : 0;
}

void TJvHidDevice::writeReport(const uint8_t* report, int length)
{
    if (m_connection)
        m_connection->writeReport(report, length);
}

void TJvHidDevice::closeHandles()
{
    if (m_readThread) {
        m_readThread->Stop();
        m_readThread.reset();
    }
    m_connection.reset();
}

// ---------------------------------------------------------------------------------------------
// Controller

TJvHidDeviceController::TJvHidDeviceController(std::vector<std::unique_ptr<HidBackend>> backends,
                                               QObject* parent)
    : QObject(parent)
{
    MainThreadDispatcher::ensure();
    for (auto& backend : backends) {
        HidBackend* b = backend.release();
        b->setParent(this);
        m_backends.push_back(b);
        connect(b, &HidBackend::devicesChanged, this, &TJvHidDeviceController::DeviceChange);
    }
    QMetaObject::invokeMethod(this, &TJvHidDeviceController::DeviceChange, Qt::QueuedConnection);
}

TJvHidDeviceController::~TJvHidDeviceController()
{
    for (TJvHidDevice* device : m_devices) {
        if (device == CardIssuerDevice)
            CardIssuerDevice = nullptr;
        delete device;
    }
    m_devices.clear();
}

QList<TJvHidDevice*> TJvHidDeviceController::Devices() const
{
    return QList<TJvHidDevice*>(m_devices.begin(), m_devices.end());
}

TJvHidDevice* TJvHidDeviceController::CheckOutByID(uint16_t vendorId, uint16_t productId)
{
    for (TJvHidDevice* device : m_devices) {
        if (device->VendorID() != vendorId || device->ProductID() != productId || device->m_checkedOut ||
            !device->m_pluggedIn)
            continue;
        auto connection = device->m_backend->open(device->DevicePath());
        if (!connection)
            continue;
        device->m_connection = std::move(connection);
        device->m_checkedOut = true;
        auto handler = [controller = QPointer<TJvHidDeviceController>(this),
                        target = QPointer<TJvHidDevice>(device),
                        backend = QPointer<HidBackend>(device->m_backend),
                        path = device->DevicePath()](TJvHidDeviceReadThread::Item&& item) {
            if (!controller)
                return;
            if (item.report.empty()) {
                if (backend)
                    backend->readFailed(path, item.error);
                Q_EMIT controller->deviceReadError(target.data(), item.error);
                return;
            }
            const QByteArray data(reinterpret_cast<const char*>(item.report.data()) + 1,
                                  static_cast<qsizetype>(item.report.size()) - 1);
            Q_EMIT controller->deviceData(target.data(), item.report[0], data);
        };
        device->m_readThread = std::make_unique<TJvHidDeviceReadThread>(
            device->m_connection.get(), device->m_connection->inputReportLength(), std::move(handler));
        return device;
    }
    return nullptr;
}

void TJvHidDeviceController::CheckIn(TJvHidDevice*& device)
{
    if (!device)
        return;
    TJvHidDevice* d = device;
    device = nullptr;
    d->closeHandles();
    d->m_checkedOut = false;
    if (!d->m_pluggedIn)
        removeDevice(d);
}

void TJvHidDeviceController::removeDevice(TJvHidDevice* device)
{
    const auto it = std::find(m_devices.begin(), m_devices.end(), device);
    if (it == m_devices.end())
        return;
    m_devices.erase(it);
    if (device == CardIssuerDevice)
        CardIssuerDevice = nullptr;
    delete device;
}

void TJvHidDeviceController::DeviceChange()
{
    if (m_inChange) {
        m_changeAgain = true; // a handler caused another notification: run again afterwards
        return;
    }
    m_inChange = true;
    do {
        m_changeAgain = false;
        struct Present {
            HidBackend* backend;
            HidDeviceInfo info;
        };
        std::vector<Present> present;
        for (HidBackend* backend : m_backends)
            for (const HidDeviceInfo& info : backend->enumerate())
                present.push_back({backend, info});
        const auto listed = [&](HidBackend* backend, const QString& path) {
            return std::any_of(present.begin(), present.end(),
                               [&](const Present& p) { return p.backend == backend && p.info.path == path; });
        };
        const auto known = [&](const TJvHidDevice* device) {
            return std::find(m_devices.begin(), m_devices.end(), device) != m_devices.end();
        };

        bool changed = m_firstChange;
        m_firstChange = false;
        const std::vector<TJvHidDevice*> before = m_devices;
        for (TJvHidDevice* device : before) {
            if (!known(device) || !device->m_pluggedIn || listed(device->m_backend, device->DevicePath()))
                continue;
            changed = true;
            device->m_pluggedIn = false;
            device->closeHandles();
            Q_EMIT deviceRemoval(device);
            if (known(device) && !device->m_checkedOut)
                removeDevice(device);
        }
        for (const Present& p : present) {
            const bool have = std::any_of(m_devices.begin(), m_devices.end(), [&](const TJvHidDevice* d) {
                return d->m_pluggedIn && d->m_backend == p.backend && d->DevicePath() == p.info.path;
            });
            if (have)
                continue;
            m_devices.push_back(new TJvHidDevice(p.backend, p.info, this));
            changed = true;
        }
        if (changed)
            Q_EMIT deviceChange();
    } while (m_changeAgain);
    m_inChange = false;
}
