#include "Responses.h"

#include "CardLog.h"
#include "CommandFrames.h"
#include "CommandWorker.h"
#include "ResultTexts.h"
#include "cards/Digits.h"
#include "store/Dialogs.h"
#include "store/OperationError.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

void LogResponse(ResponseLog* memo, const ReceivedFrame& answer)
{
    if (memo)
        memo->appendLine(LogResponseLine(answer));
}

namespace {

// The windows' parts of an answer run guarded: a lookup that fails in a reload is shown, and the
// answer is still dealt with (the other owners updated, the result shown, the command ended).
void UpdateBlackListedOwners()
{
    const int count = std::clamp(BlackListTargetCount, 0, BlackListMaxEntries);
    for (int i = 0; i < count; ++i) {
        const BlackListTarget target = BlackListTargets[i];
        if (CurrentOwnerMarks) // reports its own failure; the rest go on
            Guarded([&] { CurrentOwnerMarks->markOwner(target.idx, target.Flag == 1); });
        else
            qWarning().noquote() << "no database for the owner" << target.idx;
    }
    if (BlackListSource == 1) {
        if (CurrentBlackListWindow)
            Guarded([] { CurrentBlackListWindow->refreshLists(); });
    } else if (CurrentOwnerList) {
        Guarded([] { CurrentOwnerList->reloadAt(BlackListTargets[0].idx); });
    }
}

void ReadBlackList(const ReceivedFrame& answer)
{
    const int claimed = answer.Data[5];
    const int kept = std::min(claimed, BlackListMaxEntries);
    std::memcpy(&BlackListRec, answer.Data, static_cast<size_t>(BlackListWireSize(kept)));
    BlackListRec.Count = static_cast<uint8_t>(kept);
    BlackListReady = 1;
    if (claimed > BlackListMaxEntries)
        ShowWarning(QString::fromUtf8(BlackListTooManyText));
}

} // namespace

void HandleResponse(const ReceivedFrame& answer)
{
    RequireMainThread(__func__);
    const uint8_t pending = PendingCommand;
    const bool matches = answer.Command == pending;
    // The card issuer may set bit 7 of the result byte; only the low seven bits are the result.
    const uint8_t result = answer.Result & ResultMask;
    switch (pending) {
    case CmdFormat:
    case CmdRestoreBlank:
        if (CurrentInitRunCounters)
            Guarded([result] { CurrentInitRunCounters->cardAnswered(result); });
        if (matches)
            SignalCommandEvent();
        return;
    default:
        break;
    }
    if (!matches)
        return;

    switch (pending) {
    case CmdWriteDeviceCard:
        RecordCardAnswer(pending, result);
        ShowResult(result, CallerWriteDeviceCard);
        PendingCommand = IdleCommand;
        break;
    case CmdReadDeviceCard:
        if (result == ResultOk) {
            DecodeTerminalParam(answer.Data, TerminalParamRec);
            CardDataReady = 1;
        }
        RecordCardAnswer(pending, result);
        ShowResult(result, CallerReadDeviceCard);
        PendingCommand = IdleCommand;
        break;
    case CmdWriteOwnerCard:
        UserCardRec.CardSerial = Int32FromBytes(answer.Data);
        CardDataReady = 1;
        CardResult = result;
        break;
    case CmdReadOwnerCard:
        if (result == ResultOk)
            DecodeUserCard(answer.Data, UserCardRec);
        CardDataReady = 1;
        CardResult = result;
        PendingCommand = IdleCommand;
        break;
    case CmdWriteBlackList:
        RecordCardAnswer(pending, result);
        if (result == ResultOk)
            UpdateBlackListedOwners();
        ShowResult(result, CallerBlackList);
        PendingCommand = IdleCommand;
        break;
    case CmdReadBlackList:
        if (result == ResultOk)
            ReadBlackList(answer);
        RecordCardAnswer(pending, result);
        ShowResult(result, CallerBlackList);
        PendingCommand = IdleCommand;
        break;
    default: // 8, 9, 10 and anything else: nothing
        break;
    }
}
