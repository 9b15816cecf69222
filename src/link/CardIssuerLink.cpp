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
    : QObject(parent), m_controller(new TJvHidDeviceController(std::move(backends), this))
{
    connect(m_controller, &TJvHidDeviceController::deviceChange, this, &CardIssuerLink::HidCtlDeviceChange);
    connect(m_controller, &TJvHidDeviceController::deviceRemoval, this, &CardIssuerLink::HidCtlRemoval);
    connect(m_controller, &TJvHidDeviceController::deviceData, this, &CardIssuerLink::HidCtlDeviceData);
}

CardIssuerLink::~CardIssuerLink()
{
    m_controller->CheckIn(CardIssuerDevice);
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
    if (attached == m_attached)
        return;
    m_attached = attached;
    Q_EMIT attachedChanged(attached);
}

void CardIssuerLink::HidCtlDeviceChange()
{
    if (CardIssuerDevice)
        m_controller->CheckIn(CardIssuerDevice);
    TJvHidDevice* device = m_controller->CheckOutByID(CardIssuerVendorId, CardIssuerProductId);
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
        m_controller->CheckIn(CardIssuerDevice);
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
    const ReceivedFrame answer = ResponseFrame;
    // Nothing a window does with the answer may leave this handler: the read thread waits for it.
    Guarded([&] { LogResponse(CurrentResponseLog, answer); });
    Guarded([&] { HandleResponse(answer); });
    Q_EMIT answerHandled(answer.Command, answer.Result);
}
