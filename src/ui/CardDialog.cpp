#include "CardDialog.h"

#include "Actions.h"
#include "Session.h"
#include "link/CardLog.h"
#include "link/CommandFrames.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "store/SaveLoad.h"

#include <QDate>
#include <QTimer>
#include <algorithm>
#include <cstring>

CardDialog::CardDialog(QWidget* parent, CloseRule onClose, Polling polling, int intervalMs)
    : Dialog(parent), m_onClose(onClose), m_polling(polling)
{
    if (polling == Polling::None)
        return;
    tmrAnswer = new QTimer(this);
    tmrAnswer->setInterval(intervalMs);
    OnSignal(tmrAnswer, &QTimer::timeout, this, &CardDialog::tmrAnswerTimer);
    if (polling == Polling::FromCreation)
        tmrAnswer->start();
}

CardDialog::~CardDialog()
{
    if (IsOpen())
        endCardWork();
    for (const HookSlot& hook : m_hooks)
        hook.clear();
}

void CardDialog::BeginOpening()
{
    for (const HookSlot& hook : m_hooks)
        hook.set();
    if (tmrAnswer && !tmrAnswer->isActive())
        tmrAnswer->start();
}

void CardDialog::done(int result)
{
    if (IsOpen())
        endCardWork();
    Dialog::done(result);
}

void CardDialog::endCardWork()
{
    // A command still waiting for its answer as the window closes never got one (a card run is
    // recorded by its window when it stops).
    switch (PendingCommand) {
    case CmdWriteDeviceCard:
    case CmdReadDeviceCard:
    case CmdWriteOwnerCard:
    case CmdReadOwnerCard:
    case CmdWriteBlackList:
    case CmdReadBlackList:
        if (!CardDataReady)
            RecordUnanswered(PendingCommand);
        break;
    default:
        break;
    }
    switch (m_onClose) {
    case CloseRule::SendStop:
        IssueCommand(IdleCommand);
        break;
    case CloseRule::ResetToIdle:
        PendingCommand = IdleCommand;
        break;
    case CloseRule::LeavePending:
        break;
    }
    if (tmrAnswer)
        tmrAnswer->stop();
    for (const HookSlot& hook : m_hooks)
        hook.clear();
}

bool CardDialog::CardCommandAllowed(uint8_t code)
{
    if (!RequireCardIssuer())
        return false;
    if (code == CmdWriteOwnerCard || code == CmdWriteBlackList)
        return RequireRegionID();
    return true;
}

bool CardDialog::IssueCardCommand(uint8_t code, const std::function<bool()>& fill)
{
    if (!CardCommandAllowed(code))
        return false;
    if (fill && !fill())
        return false;
    IssueCommand(code);
    return true;
}

void FillOwnerCard(bool useExpiry, const QDate& expiry, const TerminalBitmap& terminals)
{
    UserCardRec.Sector = SystemInfo.Sector;
    std::memcpy(UserCardRec.RegionID, SystemInfo.RegionID, sizeof UserCardRec.RegionID);
    UserCardRec.UseExpiry = useExpiry ? 1 : 0;
    const QByteArray text = expiry.toString(QStringLiteral("yyMMdd")).toLatin1();
    std::memset(UserCardRec.Expiry, 0, sizeof UserCardRec.Expiry);
    std::memcpy(UserCardRec.Expiry, text.constData(), size_t(std::min<qsizetype>(text.size(), 6)));
    std::memcpy(UserCardRec.Terminals, terminals.data(), sizeof UserCardRec.Terminals);
}
