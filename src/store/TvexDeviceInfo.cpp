#include "TvexDeviceInfo.h"

#include "DM.h"
#include "Dialogs.h"
#include "LogEntries.h"
#include "OperationError.h"
#include "RowMarks.h"
#include "SqlText.h"

namespace {

const RowMarks Marks(QStringLiteral("TerminalInfo"));

const std::vector<std::pair<QString, QString>> Captions = {
    {QStringLiteral("TerminalID"), QStringLiteral("终端编号")},
    {QStringLiteral("TerminalName"), QStringLiteral("终端名称")},
    {QStringLiteral("Remark"), QStringLiteral("备注")}};

// The terminal of a number as it stands, for the log (empty when there is none or it cannot be read).
QString rowOf(const QString& terminalId)
{
    try {
        const int existing = FindTerminalIdx(terminalId);
        return existing > 0 ? Marks.RowText(existing, Captions) : QString();
    } catch (const OperationError&) {
        return {};
    }
}

QString terminalText(const TTerminalRec& rec)
{
    return LogFields({{QStringLiteral("终端编号"), QString::number(ToInt32(rec.TerminalID))},
                      {QStringLiteral("终端名称"), rec.TerminalName},
                      {QStringLiteral("备注"), rec.Remark}})
        .replace(QStringLiteral("；"), QStringLiteral("，"));
}

} // namespace

void AddTerminal(const TTerminalRec& rec)
{
    const int id = ToInt32(rec.TerminalID);
    StatementRunner(*dm).Exec(
        QStringLiteral("insert into TerminalInfo (TerminalID,TerminalName,Remark,selFlag) values "
                       "(:TerminalID,:TerminalName, :Remark, :selFlag)"),
        {{QStringLiteral("TerminalID"), id},
         {QStringLiteral("selFlag"), false},
         {QStringLiteral("TerminalName"), TextValue(rec.TerminalName)},
         {QStringLiteral("Remark"), TextValue(rec.Remark)}});
}

void UpdateTerminal(const TTerminalRec& rec)
{
    const int id = ToInt32(rec.TerminalID);
    const QString before = rowOf(rec.TerminalID);
    StatementRunner(*dm).Exec(
        QStringLiteral("update TerminalInfo set TerminalName=:TerminalName,Remark=:Remark "
                       "where TerminalID=:TerminalID"),
        {{QStringLiteral("TerminalName"), TextValue(rec.TerminalName)},
         {QStringLiteral("Remark"), TextValue(rec.Remark)},
         {QStringLiteral("TerminalID"), id}});
    RecordChange(LogAction::ChangeTerminal, true, before + QStringLiteral(" → ") + terminalText(rec));
}

bool ReplaceTerminal(const TTerminalRec& rec)
{
    ToInt32(rec.TerminalID); // a text that is not a number is refused before anything runs
    const QString before = rowOf(rec.TerminalID);
    bool ok = false;
    {
        Transaction change;
        if (DeleteTerminalByID(rec.TerminalID))
            AddTerminal(rec);
        ok = change.Commit();
    }
    QString details = terminalText(rec);
    if (!before.isEmpty())
        details = before + QStringLiteral(" → ") + details;
    RecordChange(before.isEmpty() ? LogAction::AddTerminal : LogAction::ChangeTerminal, ok, details);
    return ok;
}

bool DeleteTerminal(int idx)
{
    const QString before = Marks.RowText(idx, Captions);
    const bool ok = dm->ExecuteSQL(QStringLiteral("delete from TerminalInfo where idx = :idx"),
                                   {{QStringLiteral("idx"), idx}});
    RecordChange(LogAction::DeleteTerminal, ok, before);
    return ok;
}

bool DeleteTerminalByID(const QString& terminalId)
{
    const std::optional<int> id = ParseInt32(terminalId);
    if (!id) {
        ShowError(QStringLiteral("执行错误：delete from TerminalInfo where TerminalID = ") + terminalId);
        return false;
    }
    return dm->ExecuteSQL(QStringLiteral("delete from TerminalInfo where TerminalID = :TerminalID"),
                          {{QStringLiteral("TerminalID"), *id}});
}

bool DeleteSelectedTerminals()
{
    int count = 0;
    const QStringList rows = Marks.MarkedRows(Captions, LogListedOwners, count);
    const bool ok = Marks.DeleteSelected();
    RecordChange(LogAction::DeleteTerminal, ok,
                 LogJoin(QStringList{QStringLiteral("删除选中的 %1 个终端").arg(count)} + rows));
    return ok;
}

bool SelectAllTerminals()
{
    return Marks.SelectAll();
}

bool SelectNoTerminals()
{
    return Marks.SelectNone();
}

bool SetTerminalSelected(int idx, int value)
{
    return Marks.SetSelected(idx, value);
}

bool IsTerminalSelected(int idx)
{
    return Marks.IsSelected(idx);
}

int FindTerminalIdx(const QString& terminalId)
{
    const int id = ToInt32(terminalId);
    DataSet ds(*dm, QStringLiteral("terminal"));
    ds.Open(QStringLiteral("select * from TerminalInfo where TerminalID=:TerminalID"),
            {{QStringLiteral("TerminalID"), id}});
    return ds.Eof() ? -1 : dm->FieldAsInt(ds, QStringLiteral("idx"));
}

bool TerminalExists(int terminalId)
{
    DataSet ds(*dm, QStringLiteral("terminal"));
    ds.Open(QStringLiteral("select * from TerminalInfo where TerminalID=:TerminalID"),
            {{QStringLiteral("TerminalID"), terminalId}});
    return !ds.Eof();
}

int GetMaxTerminalID(int& maxId)
{
    DataSet ds(*dm, QStringLiteral("terminal"));
    ds.Open(QStringLiteral("select * from TerminalInfo order by TerminalID desc"));
    const int count = ds.RecordCount();
    maxId = 0;
    if (count > 0) {
        const QVariant v = ds.Field(QStringLiteral("TerminalID"));
        if (v.isNull())
            ThrowNullConversion(QStringLiteral("Integer"));
        maxId = dm->FieldAsInt(ds, QStringLiteral("TerminalID"));
    }
    return count;
}
