#include "LogEntries.h"

#include "DM.h"
#include "SaveLoad.h"
#include "UserInfoRec.h"
#include "Values.h"
#include "cards/Digits.h"
#include "cards/Gbk.h"

#include <QCoreApplication>
#include <QDir>

QString LogFields(const std::vector<LogField>& fields)
{
    QStringList parts;
    for (const auto& [name, value] : fields)
        if (!value.isEmpty())
            parts << name + QLatin1Char('=') + value;
    return parts.join(QStringLiteral("；"));
}

QString LogJoin(const QStringList& parts)
{
    QStringList kept;
    for (const QString& p : parts)
        if (!p.isEmpty())
            kept << p;
    return kept.join(QStringLiteral("；"));
}

QString LogTerminals(const uint8_t* bitmap)
{
    QStringList numbers;
    for (int n = 0; n < TerminalCount; ++n)
        if (TestTerminal(bitmap, n))
            numbers << QString::number(n);
    return numbers.isEmpty() ? QStringLiteral("无") : numbers.join(QLatin1Char(','));
}

QString LogExpiry(bool useExpiry, const QString& date)
{
    return useExpiry ? date : QStringLiteral("不限");
}

namespace {

QString expiryOf(const TuserInfoRec& rec)
{
    return LogExpiry(rec.IsUseExpDate, rec.ExpDate.isValid() ? DateText(rec.ExpDate) : QStringLiteral("?"));
}

// The owner form's fields, captioned as the owner windows caption them.
std::vector<LogField> formFields(const TuserInfoRec& rec)
{
    return {
        {QStringLiteral("卡编号"), rec.CardNo},
        {QStringLiteral("栋号"), QString::number(rec.DongHao)},
        {QStringLiteral("单元"), QString::number(rec.DanYuan)},
        {QStringLiteral("房号"), rec.FangHao},
        {QStringLiteral("姓名"), rec.UserName},
        {QStringLiteral("性别"), rec.Sex},
        {QStringLiteral("电话"), rec.Phone},
        {QStringLiteral("有效期"), expiryOf(rec)},
        {QStringLiteral("终端"), LogTerminals(rec.VaildTerminal.data())},
        {QStringLiteral("备注"), rec.Remark},
    };
}

} // namespace

QString OwnerSnapshot(const TuserInfoRec& rec)
{
    std::vector<LogField> fields = formFields(rec);
    fields.push_back({QStringLiteral("卡号"), rec.CardID});
    fields.push_back({QStringLiteral("状态"), rec.chLoss});
    return LogFields(fields);
}

QString OwnerChanges(const TuserInfoRec& before, const TuserInfoRec& after)
{
    const std::vector<LogField> old = formFields(before);
    const std::vector<LogField> now = formFields(after);
    QStringList changes;
    for (size_t i = 0; i < old.size(); ++i)
        if (old[i].second != now[i].second)
            changes << old[i].first + QStringLiteral(": ") + old[i].second + QStringLiteral(" → ") +
                           now[i].second;
    return changes.join(QStringLiteral("；"));
}

LogEntry OwnerLogEntry(const QString& action, bool ok, const TuserInfoRec& rec, const QString& details)
{
    LogEntry e;
    e.action = action;
    e.outcome = ok ? LogSucceeded : LogRefused;
    e.cardId = rec.CardID;
    e.ownerIdx = rec.idx;
    e.ownerName = rec.UserName;
    e.details = details;
    return e;
}

QString SettingsLogText()
{
    return LogFields({{QStringLiteral("扇区"), QString::number(SystemInfo.Sector)},
                      {QStringLiteral("小区标识"), GbkToString(SystemInfo.RegionID, 8)}});
}

void RecordSettingsChange(const QString& action, const QString& before)
{
    LogEntry e;
    e.action = action;
    e.outcome = LogSucceeded;
    const QString now = SettingsLogText();
    e.details = before == now ? now + QStringLiteral("（未改动）") : before + QStringLiteral(" → ") + now;
    RecordOperation(e);
}

void RecordSettingsSaved(bool ok)
{
    LogEntry e;
    e.action = LogAction::SaveSettings;
    e.outcome = ok ? LogSucceeded : QStringLiteral("设置文件写不进去");
    e.details = LogJoin(
        {LogFields({{QStringLiteral("文件"), QDir::toNativeSeparators(SettingsPath())}}), SettingsLogText()});
    RecordOperation(e);
}

namespace {

void recordProgram(const QString& action)
{
    LogEntry e;
    e.action = action;
    e.outcome = LogSucceeded;
    std::vector<LogField> fields{{QStringLiteral("版本"), QCoreApplication::applicationVersion()}};
    if (dm)
        fields.push_back({QStringLiteral("数据库"), dm->Target().Describe()});
    e.details = LogFields(fields);
    RecordOperation(e);
}

} // namespace

void RecordProgramStart()
{
    recordProgram(LogAction::ProgramStart);
}

void RecordProgramEnd()
{
    recordProgram(LogAction::ProgramEnd);
}

void RecordChange(const QString& action, bool ok, const QString& details)
{
    LogEntry e;
    e.action = action;
    e.outcome = ok ? LogSucceeded : LogRefused;
    e.details = details;
    RecordOperation(e);
}
