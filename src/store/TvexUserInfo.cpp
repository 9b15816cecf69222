#include "TvexUserInfo.h"

#include "DM.h"

bool TvexUserInfo::SelectAll()
{
    return dm->ExecuteSQL(QStringLiteral("update UserInfo set selFlag = 1"));
}

bool TvexUserInfo::SelectNone()
{
    // Only rows that carry a mark are written: the owner list unmarks everything each time it
    // opens, and rewriting every row of a large table would take far longer.
    return dm->ExecuteSQL(QStringLiteral("update UserInfo set selFlag = false where selFlag <> 0"));
}

bool TvexUserInfo::SetSelected(int idx, int value)
{
    return dm->ExecuteSQL(QStringLiteral("update UserInfo set selFlag = :selFlag where idx=:idx"),
                          {{QStringLiteral("selFlag"), value}, {QStringLiteral("idx"), idx}});
}

bool TvexUserInfo::IsSelected(int idx)
{
    dm->dsTemp.Open(QStringLiteral("select * from UserInfo where idx=:idx"), {{QStringLiteral("idx"), idx}});
    if (dm->dsTemp.Eof())
        return false;
    return dm->FieldAsBool(dm->dsTemp, QStringLiteral("selFlag"));
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
    return dm->ExecuteSQL(QStringLiteral("delete from UserInfo where selFlag <> 0"));
}
