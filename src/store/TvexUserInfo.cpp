#include "TvexUserInfo.h"

#include "DM.h"
#include "RowMarks.h"

namespace {

// The owner list unmarks everything each time it opens: only rows that carry a mark are written,
// since rewriting every row of a large table would take far longer.
const RowMarks Marks(QStringLiteral("UserInfo"), RowMarks::Unmark::MarkedRows);

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
    return dm->ExecuteSQL(QStringLiteral("update UserInfo set chLoss = '挂失' where idx = :idx"),
                          {{QStringLiteral("idx"), idx}});
}

bool TvexUserInfo::UnmarkLost(int idx)
{
    return dm->ExecuteSQL(QStringLiteral("update UserInfo set chLoss = '' where idx = :idx"),
                          {{QStringLiteral("idx"), idx}});
}

bool TvexUserInfo::DeleteRow(int idx)
{
    return dm->ExecuteSQL(QStringLiteral("delete from UserInfo where idx = :idx"),
                          {{QStringLiteral("idx"), idx}});
}

bool TvexUserInfo::DeleteSelected()
{
    return Marks.DeleteSelected();
}
