#include "CardLog.h"

#include "CommandFrames.h"
#include "ProgramState.h"
#include "ResultTexts.h"
#include "cards/Digits.h"
#include "cards/Gbk.h"
#include "store/DM.h"
#include "store/LogEntries.h"
#include "store/OperationError.h"
#include "store/OwnerStatements.h"
#include "store/UserInfoRec.h"

#include <algorithm>

namespace {

QString actionOf(uint8_t command)
{
    switch (command) {
    case CmdFormat:
        return LogAction::FormatCards;
    case CmdWriteDeviceCard:
        return LogAction::WriteDeviceCard;
    case CmdReadDeviceCard:
        return LogAction::ReadDeviceCard;
    case CmdWriteOwnerCard:
        return LogAction::WriteOwnerCard;
    case CmdReadOwnerCard:
        return LogAction::ReadOwnerCard;
    case CmdRestoreBlank:
        return LogAction::BlankCards;
    case CmdWriteBlackList: {
        // A card whose entries all take cards back is a whitelist card.
        const int count = std::clamp(int(BlackListRec.Count), 0, BlackListMaxEntries);
        for (int i = 0; i < count; ++i)
            if (BlackListRec.Entries[i].Flag == 1)
                return LogAction::WriteBlackList;
        return count > 0 ? LogAction::WriteWhiteList : LogAction::WriteBlackList;
    }
    case CmdReadBlackList:
        return LogAction::ReadBlackList;
    default:
        return QStringLiteral("发卡器命令%1").arg(command);
    }
}

// The owner's row, for the log's name; an owner that cannot be read is logged by idx alone.
TuserInfoRec owner(int idx)
{
    TuserInfoRec rec;
    if (idx > 0 && dm) {
        try {
            LoadUserInfoByIdx(*dm, idx, rec);
        } catch (const OperationError&) {
        }
    }
    rec.idx = idx;
    return rec;
}

int holderOf(const QString& serial)
{
    if (!dm || serial.isEmpty())
        return 0;
    try {
        return std::max(0, FindUserByCardID(*dm, serial));
    } catch (const OperationError&) {
        return 0;
    }
}

QString deviceCardText()
{
    const TTerminalParamRec& card = TerminalParamRec;
    return LogFields({{QStringLiteral("卡类型"), QStringLiteral("设备卡")},
                      {QStringLiteral("扇区"), QString::number(card.Sector)},
                      {QStringLiteral("小区标识"), GbkToString(card.RegionID, 8)},
                      {QStringLiteral("同步时间"), QString::fromLatin1(card.IssueTime, 8)}});
}

QString blackListText()
{
    const TBlackListRec& card = BlackListRec;
    const int count = std::clamp(int(card.Count), 0, BlackListMaxEntries);
    char region[9] = {};
    UnpackDigits(region, card.RegionBCD, 4);
    QStringList parts{LogFields({{QStringLiteral("小区标识"), QString::fromLatin1(region, 8)},
                                 {QStringLiteral("记录数"), QString::number(count)}})};
    for (int i = 0; i < count; ++i) {
        const BlackListEntry& entry = card.Entries[i];
        QString text =
            QStringLiteral("%1 %2").arg(entry.Flag == 1 ? QStringLiteral("黑") : QStringLiteral("白"),
                                        PadNumber(BlackListSerial(entry), 10));
        if (i < BlackListTargetCount && BlackListTargets[i].idx > 0) {
            const TuserInfoRec rec = owner(BlackListTargets[i].idx);
            text += QStringLiteral("（业主 %1 %2）").arg(rec.idx).arg(rec.UserName);
        }
        parts << text;
    }
    return parts.join(QStringLiteral("；"));
}

QString ownerCardText()
{
    const TUserCardRec& card = UserCardRec;
    const QString expiry = QStringLiteral("20") + QString::fromLatin1(card.Expiry, 2) + QLatin1Char('-') +
                           QString::fromLatin1(card.Expiry + 2, 2) + QLatin1Char('-') +
                           QString::fromLatin1(card.Expiry + 4, 2);
    return LogFields({{QStringLiteral("小区标识"), GbkToString(card.RegionID, 8)},
                      {QStringLiteral("扇区"), QString::number(card.Sector)},
                      {QStringLiteral("有效期"), LogExpiry(card.UseExpiry != 0, expiry)},
                      {QStringLiteral("终端"), LogTerminals(card.Terminals)}});
}

} // namespace

QString CardOutcome(int result)
{
    return result == ResultOk ? LogSucceeded : CardFailureText(result);
}

void RecordCardAnswer(uint8_t command, int result)
{
    LogEntry e;
    e.action = actionOf(command);
    e.outcome = CardOutcome(result);
    switch (command) {
    case CmdWriteDeviceCard:
        e.details = deviceCardText();
        break;
    case CmdReadDeviceCard:
        if (result == ResultOk)
            e.details = deviceCardText();
        break;
    case CmdWriteBlackList:
        e.details = blackListText();
        if (BlackListTargetCount == 1 && BlackListTargets[0].idx > 0) {
            const TuserInfoRec rec = owner(BlackListTargets[0].idx);
            e.ownerIdx = rec.idx;
            e.ownerName = rec.UserName;
            e.cardId = rec.CardID;
        }
        break;
    case CmdReadBlackList:
        if (result == ResultOk)
            e.details = blackListText();
        break;
    default:
        break;
    }
    RecordOperation(e);
}

void RecordOwnerCardAnswer(OwnerCardUse use, int result, int ownerIdx)
{
    LogEntry e;
    e.action = use == OwnerCardUse::Written ? LogAction::WriteOwnerCard
               : use == OwnerCardUse::Bound ? LogAction::BindOwnerCard
                                            : LogAction::ReadOwnerCard;
    e.outcome = CardOutcome(result);
    if (result == ResultOk) {
        e.cardId = PadNumber(UserCardRec.CardSerial, 10);
        e.details = ownerCardText();
    }
    // A card read names the owner it is registered to.
    const int idx = use == OwnerCardUse::Read ? holderOf(e.cardId) : ownerIdx;
    if (idx > 0) {
        const TuserInfoRec rec = owner(idx);
        e.ownerIdx = idx;
        e.ownerName = rec.UserName;
        e.details = LogJoin({LogFields({{QStringLiteral("栋号"), QString::number(rec.DongHao)},
                                        {QStringLiteral("单元"), QString::number(rec.DanYuan)},
                                        {QStringLiteral("房号"), rec.FangHao}}),
                             e.details});
    } else if (use == OwnerCardUse::Written && result == ResultOk) {
        e.details = LogJoin({QStringLiteral("不登记业主"), e.details});
    }
    RecordOperation(e);
}

void RecordUnanswered(uint8_t command)
{
    LogEntry e;
    e.action = actionOf(command);
    e.outcome = QStringLiteral("发卡器没有应答");
    RecordOperation(e);
}

void RecordCardRun(uint8_t command, int cards, int failed)
{
    LogEntry e;
    e.action = actionOf(command);
    e.outcome = failed == 0 ? LogSucceeded : QStringLiteral("%1 张卡失败").arg(failed);
    e.details = QStringLiteral("处理 %1 张卡；失败 %2 张").arg(cards).arg(failed);
    RecordOperation(e);
}
