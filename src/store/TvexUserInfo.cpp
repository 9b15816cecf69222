#include "TvexUserInfo.h"

#include "DM.h"
#include "LogEntries.h"
#include "OperationError.h"
#include "OwnerStatements.h"
#include "RowMarks.h"
#include "UserInfoRec.h"

namespace {

// The owner list unmarks everything each time it opens: only rows that carry a mark are written,
// since rewriting every row of a large table would take far longer.
const RowMarks Marks(QStringLiteral("UserInfo"), RowMarks::Unmark::MarkedRows);

// The owner's row as it stands now (empty but for idx when there is none).
TuserInfoRec ownerRow(int idx)
{
    TuserInfoRec rec;
    try {
        if (idx > 0)
            LoadUserInfoByIdx(*dm, idx, rec);
    } catch (const OperationError&) {
        // Logged by idx alone; the change itself goes on.
    }
    rec.idx = idx;
    return rec;
}

bool recordOwnerChange(const QString& action, int idx, bool snapshot, const QString& sql)
{
    const TuserInfoRec before = ownerRow(idx);
    const bool ok = dm->ExecuteSQL(sql, {{QStringLiteral("idx"), idx}});
    const QString details = snapshot ? OwnerSnapshot(before)
                                     : LogFields({{QStringLiteral("栋号"), QString::number(before.DongHao)},
                                                  {QStringLiteral("单元"), QString::number(before.DanYuan)},
                                                  {QStringLiteral("房号"), before.FangHao}});
    RecordOperation(OwnerLogEntry(action, ok, before, details));
    return ok;
}

} // namespace

bool TvexUserInfo::SelectAll()
{
    return Marks.SelectAll();
}

bool TvexUserInfo::SelectNone()
{
    return Marks.SelectNone();
}

bool TvexUserInfo::SetSelected(int idx, int value)
{
    return Marks.SetSelected(idx, value);
}

bool TvexUserInfo::IsSelected(int idx)
{
    return Marks.IsSelected(idx);
}

bool TvexUserInfo::MarkLost(int idx)
{
    return recordOwnerChange(LogAction::ReportLost, idx, false,
                             QStringLiteral("update UserInfo set chLoss = '挂失' where idx = :idx"));
}

bool TvexUserInfo::UnmarkLost(int idx)
{
    return recordOwnerChange(LogAction::CancelLoss, idx, false,
                             QStringLiteral("update UserInfo set chLoss = '' where idx = :idx"));
}

bool TvexUserInfo::DeleteRow(int idx)
{
    return recordOwnerChange(LogAction::DeleteOwner, idx, true,
                             QStringLiteral("delete from UserInfo where idx = :idx"));
}

bool TvexUserInfo::DeleteSelected()
{
    int count = 0;
    const QStringList rows = Marks.MarkedRows({{QStringLiteral("idx"), QStringLiteral("idx")},
                                               {QStringLiteral("CardNo"), QStringLiteral("卡编号")},
                                               {QStringLiteral("DongHao"), QStringLiteral("栋号")},
                                               {QStringLiteral("DanYuan"), QStringLiteral("单元")},
                                               {QStringLiteral("FangHao"), QStringLiteral("房号")},
                                               {QStringLiteral("UserName"), QStringLiteral("姓名")},
                                               {QStringLiteral("CardID"), QStringLiteral("卡号")}},
                                              LogListedOwners, count);
    const bool ok = Marks.DeleteSelected();
    LogEntry e;
    e.action = LogAction::DeleteOwner;
    e.outcome = ok ? LogSucceeded : LogRefused;
    QStringList parts{QStringLiteral("删除选中的 %1 个业主").arg(count)};
    parts << rows;
    if (count > rows.size())
        parts << QStringLiteral("另有 %1 个未列出").arg(count - rows.size());
    e.details = LogJoin(parts);
    RecordOperation(e);
    return ok;
}
