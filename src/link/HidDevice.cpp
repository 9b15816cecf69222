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
    : connection_(connection), inputLength_(std::max(inputLength, 1)), handoff_(std::move(handler)),
      thread_([this] { Execute(); })
{
}

TJvHidDeviceReadThread::~TJvHidDeviceReadThread()
{
    Stop();
}

void TJvHidDeviceReadThread::Execute()
{
    std::vector<uint8_t> buffer(static_cast<size_t>(inputLength_));
    std::mutex pauseMutex;
    std::condition_variable pause;
    while (!terminated_.load()) {
        const int n = connection_->readReport(buffer.data(), inputLength_, ReadStepMs);
        if (terminated_.load())
            break;
        if (n > 0) {
            handoff_.deliver(Item{std::vector<uint8_t>(buffer.begin(), buffer.begin() + n), 0});
        } else if (n < 0) {
            handoff_.deliver(Item{{}, n});
            // A device that keeps failing (pulled out, not yet noticed) is tried again in steps.
            std::unique_lock lock(pauseMutex);
            pause.wait_for(lock, std::chrono::milliseconds(ReadStepMs), [&] { return terminated_.load(); });
        }
    }
}

void TJvHidDeviceReadThread::Stop()
{
    if (!thread_.joinable())
        return;
    terminated_.store(true);
    connection_->cancelRead();
    handoff_.cancel(false);
    thread_.join();
}

// ---------------------------------------------------------------------------------------------
// Device

TJvHidDevice::TJvHidDevice(HidBackend* backend, HidDeviceInfo info, QObject* parent)
    : QObject(parent), backend_(backend), info_(std::move(info))
{
}

TJvHidDevice::~TJvHidDevice()
{
    closeHandles();
}

int TJvHidDevice::InputReportLength() const
{
    return connection_ ? connection_->inputReportLength() : 0;
}

int TJvHidDevice::OutputReportLength() const
{
    return connection_ ? connection_->outputReportLength() : 0;
}

void TJvHidDevice::SetNumInputBuffers(int count)
{
    if (connection_)
        connection_->setNumInputBuffers(count);
}

int TJvHidDevice::NumInputBuffers() const
{
    return connection_ ? connection_->numInputBuffers() : 0;
}

void TJvHidDevice::writeReport(const uint8_t* report, int length)
{
    if (connection_)
        connection_->writeReport(report, length);
}

void TJvHidDevice::closeHandles()
{
    if (readThread_) {
        readThread_->Stop();
        readThread_.reset();
    }
    connection_.reset();
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
        backends_.push_back(b);
        connect(b, &HidBackend::devicesChanged, this, &TJvHidDeviceController::DeviceChange);
    }
    QMetaObject::invokeMethod(this, &TJvHidDeviceController::DeviceChange, Qt::QueuedConnection);
}

TJvHidDeviceController::~TJvHidDeviceController()
{
    for (TJvHidDevice* device : devices_) {
        if (device == CardIssuerDevice)
            CardIssuerDevice = nullptr;
        delete device;
    }
    devices_.clear();
}

QList<TJvHidDevice*> TJvHidDeviceController::Devices() const
{
    return QList<TJvHidDevice*>(devices_.begin(), devices_.end());
}

TJvHidDevice* TJvHidDeviceController::CheckOutByID(uint16_t vendorId, uint16_t productId)
{
    for (TJvHidDevice* device : devices_) {
        if (device->VendorID() != vendorId || device->ProductID() != productId || device->checkedOut_ ||
            !device->pluggedIn_)
            continue;
        auto connection = device->backend_->open(device->DevicePath());
        if (!connection)
            continue;
        device->connection_ = std::move(connection);
        device->checkedOut_ = true;
        auto handler = [controller = QPointer<TJvHidDeviceController>(this),
                        target = QPointer<TJvHidDevice>(device),
                        backend = QPointer<HidBackend>(device->backend_),
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
        device->readThread_ = std::make_unique<TJvHidDeviceReadThread>(
            device->connection_.get(), device->connection_->inputReportLength(), std::move(handler));
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
    d->checkedOut_ = false;
    if (!d->pluggedIn_)
        removeDevice(d);
}

void TJvHidDeviceController::removeDevice(TJvHidDevice* device)
{
    const auto it = std::find(devices_.begin(), devices_.end(), device);
    if (it == devices_.end())
        return;
    devices_.erase(it);
    if (device == CardIssuerDevice)
        CardIssuerDevice = nullptr;
    delete device;
}

void TJvHidDeviceController::DeviceChange()
{
    if (inChange_) {
        changeAgain_ = true; // a handler caused another notification: run again afterwards
        return;
    }
    inChange_ = true;
    do {
        changeAgain_ = false;
        struct Present {
            HidBackend* backend;
            HidDeviceInfo info;
        };
        std::vector<Present> present;
        for (HidBackend* backend : backends_)
            for (const HidDeviceInfo& info : backend->enumerate())
                present.push_back({backend, info});
        const auto listed = [&](HidBackend* backend, const QString& path) {
            return std::any_of(present.begin(), present.end(),
                               [&](const Present& p) { return p.backend == backend && p.info.path == path; });
        };
        const auto known = [&](const TJvHidDevice* device) {
            return std::find(devices_.begin(), devices_.end(), device) != devices_.end();
        };

        bool changed = firstChange_;
        firstChange_ = false;
        const std::vector<TJvHidDevice*> before = devices_;
        for (TJvHidDevice* device : before) {
            if (!known(device) || !device->pluggedIn_ || listed(device->backend_, device->DevicePath()))
                continue;
            changed = true;
            device->pluggedIn_ = false;
            device->closeHandles();
            Q_EMIT deviceRemoval(device);
            if (known(device) && !device->checkedOut_)
                removeDevice(device);
        }
        for (const Present& p : present) {
            const bool have = std::any_of(devices_.begin(), devices_.end(), [&](const TJvHidDevice* d) {
                return d->pluggedIn_ && d->backend_ == p.backend && d->DevicePath() == p.info.path;
            });
            if (have)
                continue;
            devices_.push_back(new TJvHidDevice(p.backend, p.info, this));
            changed = true;
        }
        if (changed)
            Q_EMIT deviceChange();
    } while (changeAgain_);
    inChange_ = false;
}
