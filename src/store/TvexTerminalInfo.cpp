#include "TvexTerminalInfo.h"

#include "DM.h"
#include "LogEntries.h"
#include "OperationError.h"
#include "RowMarks.h"
#include "SqlText.h"

namespace {

const RowMarks Marks(QStringLiteral("BuildInfo"));

const std::vector<std::pair<QString, QString>> Captions = {
    {QStringLiteral("DongHao"), QStringLiteral("栋号")},
    {QStringLiteral("DanYuan"), QStringLiteral("单元")},
    {QStringLiteral("DanYuanName"), QStringLiteral("单元名称")}};

} // namespace

void TvexTerminalInfo::AddBuildUnit(const QString& dongHao, const QString& danYuan,
                                    const QString& danYuanName)
{
    const int building = ToInt32(dongHao);
    const int unit = ToInt32(danYuan);
    StatementRunner(*dm).Exec(QStringLiteral("insert into BuildInfo (DongHao,DanYuan,DanYuanName) values "
                                             "(:DongHao,:DanYuan, :DanYuanName)"),
                              {{QStringLiteral("DongHao"), building},
                               {QStringLiteral("DanYuan"), unit},
                               {QStringLiteral("DanYuanName"), TextValue(danYuanName)}});
}

void TvexTerminalInfo::DeleteBuildUnit(const QString& dongHao, const QString& danYuan)
{
    const int building = ToInt32(dongHao);
    const int unit = ToInt32(danYuan);
    StatementRunner(*dm).Exec(
        QStringLiteral("delete from BuildInfo where DongHao=:DongHao and DanYuan = :DanYuan"),
        {{QStringLiteral("DongHao"), building}, {QStringLiteral("DanYuan"), unit}});
}

bool TvexTerminalInfo::ReplaceBuildUnit(const QString& dongHao, const QString& danYuan,
                                        const QString& danYuanName)
{
    QString before; // the row as it was, for the log
    try {
        const int existing = FindBuildUnit(dongHao, danYuan);
        before = existing > 0 ? Marks.RowText(existing, Captions) : QString();
    } catch (const OperationError&) {
        // A text that is no number is refused just below, with the same error.
    }
    Transaction change; // a building or unit that is not a number throws before anything runs
    DeleteBuildUnit(dongHao, danYuan);
    AddBuildUnit(dongHao, danYuan, danYuanName);
    const bool ok = change.Commit();
    const QString now = LogFields({{QStringLiteral("栋号"), QString::number(ToInt32(dongHao))},
                                   {QStringLiteral("单元"), QString::number(ToInt32(danYuan))},
                                   {QStringLiteral("单元名称"), danYuanName}});
    if (before.isEmpty())
        RecordChange(LogAction::AddUnit, ok, now);
    else
        RecordChange(LogAction::ChangeUnit, ok,
                     before + QStringLiteral(" → ") +
                         QString(now).replace(QStringLiteral("；"), QStringLiteral("，")));
    return ok;
}

bool TvexTerminalInfo::DeleteRow(int idx)
{
    const QString before = Marks.RowText(idx, Captions);
    const bool ok = dm->ExecuteSQL(QStringLiteral("delete from BuildInfo where idx = :idx"),
                                   {{QStringLiteral("idx"), idx}});
    RecordChange(LogAction::DeleteUnit, ok, before);
    return ok;
}

bool TvexTerminalInfo::DeleteSelected()
{
    int count = 0;
    const QStringList rows = Marks.MarkedRows(Captions, LogListedOwners, count);
    const bool ok = Marks.DeleteSelected();
    RecordChange(LogAction::DeleteUnit, ok,
                 LogJoin(QStringList{QStringLiteral("删除选中的 %1 个楼栋单元").arg(count)} + rows));
    return ok;
}

bool TvexTerminalInfo::SelectAll()
{
    return Marks.SelectAll();
}

bool TvexTerminalInfo::SelectNone()
{
    return Marks.SelectNone();
}

bool TvexTerminalInfo::SetSelected(int idx, int value)
{
    return Marks.SetSelected(idx, value);
}

bool TvexTerminalInfo::IsSelected(int idx)
{
    return Marks.IsSelected(idx);
}

int TvexTerminalInfo::FindBuildUnit(const QString& dongHao, const QString& danYuan)
{
    const int building = ToInt32(dongHao);
    const int unit = ToInt32(danYuan);
    DataSet ds(*dm, QStringLiteral("buildUnit"));
    ds.Open(QStringLiteral("select * from BuildInfo where DongHao=:DongHao and DanYuan=:DanYuan"),
            {{QStringLiteral("DongHao"), building}, {QStringLiteral("DanYuan"), unit}});
    return ds.Eof() ? -1 : dm->FieldAsInt(ds, QStringLiteral("idx"));
}
