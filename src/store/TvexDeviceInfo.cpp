#include "TvexDeviceInfo.h"

#include "DM.h"
#include "Dialogs.h"
#include "OperationError.h"
#include "RowMarks.h"
#include "SqlText.h"

namespace {

const RowMarks Marks(QStringLiteral("TerminalInfo"));

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
    StatementRunner(*dm).Exec(
        QStringLiteral("update TerminalInfo set TerminalName=:TerminalName,Remark=:Remark "
                       "where TerminalID=:TerminalID"),
        {{QStringLiteral("TerminalName"), TextValue(rec.TerminalName)},
         {QStringLiteral("Remark"), TextValue(rec.Remark)},
         {QStringLiteral("TerminalID"), id}});
}

bool ReplaceTerminal(const TTerminalRec& rec)
{
    ToInt32(rec.TerminalID); // a text that is not a number is refused before anything runs
    Transaction change;
    if (!DeleteTerminalByID(rec.TerminalID))
        return change.Commit();
    AddTerminal(rec);
    return change.Commit();
}

bool DeleteTerminal(int idx)
{
    return dm->ExecuteSQL(QStringLiteral("delete from TerminalInfo where idx = :idx"),
                          {{QStringLiteral("idx"), idx}});
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
    return Marks.DeleteSelected();
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
