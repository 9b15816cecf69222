#include "CardIssuerLink.h"

#include "Frames.h"
#include "HidapiBackend.h"
#include "ProgramState.h"
#include "Responses.h"
#include "SimulatorBackend.h"
#include "store/Dialogs.h"
#include "store/OperationError.h"

namespace {

constexpr int CardIssuerInputBuffers = 31;

QString IdLines()
{
    const auto hex = [](int id) {
        return QString::number(id, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    };
    return QStringLiteral("VID:") + hex(CardIssuerVendorId) + QStringLiteral("\r") + QStringLiteral("PID:") +
           hex(CardIssuerProductId);
}

} // namespace

std::vector<std::unique_ptr<HidBackend>> DefaultHidBackends()
{
    std::vector<std::unique_ptr<HidBackend>> backends;
    backends.push_back(CreateHidapiBackend());
    const QString simulator = qEnvironmentVariable(SimulatorVariable);
    if (!simulator.isEmpty())
        backends.push_back(std::make_unique<SimulatorBackend>(simulator));
    return backends;
}

CardIssuerLink::CardIssuerLink(QObject* parent) : CardIssuerLink(DefaultHidBackends(), parent) {}

CardIssuerLink::CardIssuerLink(std::vector<std::unique_ptr<HidBackend>> backends, QObject* parent)
    : QObject(parent), controller_(new TJvHidDeviceController(std::move(backends), this))
{
    connect(controller_, &TJvHidDeviceController::deviceChange, this, &CardIssuerLink::HidCtlDeviceChange);
    connect(controller_, &TJvHidDeviceController::deviceRemoval, this, &CardIssuerLink::HidCtlRemoval);
    connect(controller_, &TJvHidDeviceController::deviceData, this, &CardIssuerLink::HidCtlDeviceData);
}

CardIssuerLink::~CardIssuerLink()
{
    controller_->CheckIn(CardIssuerDevice);
}

bool CardIssuerLink::attached() const
{
    return CardIssuerDevice != nullptr;
}

QString CardIssuerLink::btnInMessage()
{
    return QStringLiteral("插入设备\r") + IdLines();
}

QString CardIssuerLink::btnOutMessage()
{
    return QStringLiteral("未找到设备\r") + IdLines();
}

void CardIssuerLink::setAttached(bool attached)
{
    if (attached == attached_)
        return;
    attached_ = attached;
    Q_EMIT attachedChanged(attached);
}

void CardIssuerLink::HidCtlDeviceChange()
{
    if (CardIssuerDevice)
        controller_->CheckIn(CardIssuerDevice);
    TJvHidDevice* device = controller_->CheckOutByID(CardIssuerVendorId, CardIssuerProductId);
    if (device) {
        CardIssuerDevice = device;
        device->SetNumInputBuffers(CardIssuerInputBuffers);
    }
    // The status follows CardIssuerDevice, also when the card issuer could not be claimed again.
    setAttached(CardIssuerDevice != nullptr);
}

void CardIssuerLink::HidCtlRemoval(TJvHidDevice* device)
{
    if (!device || device->VendorID() != CardIssuerVendorId || device->ProductID() != CardIssuerProductId)
        return;
    if (CardIssuerDevice)
        controller_->CheckIn(CardIssuerDevice);
    setAttached(false);
}

void CardIssuerLink::HidCtlDeviceData(TJvHidDevice* device, uint8_t reportId, const QByteArray& data)
{
    Q_UNUSED(device);
    Q_UNUSED(reportId);
    switch (
        ReceiveReport(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<int>(data.size()))) {
    case ReportOutcome::Partial:
        return;
    case ReportOutcome::Bad:
        ShowMessage(QString::fromUtf8(ReceiveErrorText));
        return;
    case ReportOutcome::Complete:
        break;
    }
    const TResponseFrame answer = ResponseFrame;
    // Nothing a window does with the answer may leave this handler: the read thread waits for it.
    Guarded([&] { LogResponse(CurrentResponseLog, answer); });
    Guarded([&] { HandleResponse(answer); });
    Q_EMIT answerHandled(answer.Command, answer.Result);
}
