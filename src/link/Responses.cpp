#include "Responses.h"

#include "CommandFrames.h"
#include "CommandWorker.h"
#include "ResultTexts.h"
#include "cards/Digits.h"
#include "store/Dialogs.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

uint8_t CardDataReady = 0;
int32_t CardResult = 0;
uint8_t BlackListReady = 0;

void LogResponse(ResponseLog* memo, const TResponseFrame& answer)
{
    if (memo)
        memo->appendLine(LogResponseLine(answer));
}

QString BlackListOwnerUpdate(const TBlackListTarget& target)
{
    const QString set = target.Flag == 1 ? QStringLiteral("update UserInfo set chLoss = '黑名单'")
                                         : QStringLiteral("update UserInfo set chLoss = ''");
    return set + QStringLiteral(" where idx = ") + QString::number(target.idx);
}

namespace {

void UpdateBlackListedOwners()
{
    const int count = std::clamp(BlackListTargetCount, 0, BlackListMaxEntries);
    for (int i = 0; i < count; ++i) {
        const QString statement = BlackListOwnerUpdate(BlackListTargets[i]);
        if (CurrentSqlExecutor)
            CurrentSqlExecutor->executeSql(statement); // reports its own failure; the rest go on
        else
            qWarning().noquote() << "no database for:" << statement;
    }
    if (BlackListSource == 1) {
        if (CurrentBlackListWindow)
            CurrentBlackListWindow->refreshLists();
    } else if (CurrentOwnerList) {
        CurrentOwnerList->reloadAt(BlackListTargets[0].idx);
    }
}

void ReadBlackList(const TResponseFrame& answer)
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

void HandleResponse(const TResponseFrame& answer)
{
    const uint8_t pending = PendingCommand;
    const bool matches = answer.Command == pending;
    switch (pending) {
    case CmdFormat:
    case CmdRestoreBlank:
        if (CurrentInitRunCounters)
            CurrentInitRunCounters->cardAnswered(answer.Result);
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
        ShowResult(answer.Result, CallerWriteDeviceCard);
        PendingCommand = IdleCommand;
        break;
    case CmdReadDeviceCard:
        if (answer.Result == ResultOk) {
            DecodeTerminalParam(answer.Data, TerminalParamRec);
            CardDataReady = 1;
        }
        ShowResult(answer.Result, CallerReadDeviceCard);
        PendingCommand = IdleCommand;
        break;
    case CmdWriteOwnerCard:
        UserCardRec.CardSerial = Int32FromBytes(answer.Data);
        CardDataReady = 1;
        CardResult = answer.Result;
        break;
    case CmdReadOwnerCard:
        if (answer.Result == ResultOk)
            DecodeUserCard(answer.Data, UserCardRec);
        CardDataReady = 1;
        CardResult = answer.Result;
        PendingCommand = IdleCommand;
        break;
    case CmdWriteBlackList:
        if (answer.Result == ResultOk)
            UpdateBlackListedOwners();
        ShowResult(answer.Result, CallerBlackList);
        PendingCommand = IdleCommand;
        break;
    case CmdReadBlackList:
        if (answer.Result == ResultOk)
            ReadBlackList(answer);
        ShowResult(answer.Result, CallerBlackList);
        PendingCommand = IdleCommand;
        break;
    default: // 8, 9, 10 and anything else: nothing
        break;
    }
}
