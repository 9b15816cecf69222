#include "TvexTerminalInfo.h"

#include "DM.h"
#include "RowMarks.h"
#include "SqlText.h"

namespace {

const RowMarks Marks(QStringLiteral("BuildInfo"));

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
    Transaction change; // a building or unit that is not a number throws before anything runs
    DeleteBuildUnit(dongHao, danYuan);
    AddBuildUnit(dongHao, danYuan, danYuanName);
    return change.Commit();
}

bool TvexTerminalInfo::DeleteRow(int idx)
{
    return dm->ExecuteSQL(QStringLiteral("delete from BuildInfo where idx = :idx"),
                          {{QStringLiteral("idx"), idx}});
}

bool TvexTerminalInfo::DeleteSelected()
{
    return Marks.DeleteSelected();
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
