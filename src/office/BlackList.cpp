#include "BlackList.h"

#include "store/DM.h"
#include "store/DataSet.h"
#include "store/SqlText.h"

namespace {

const QString Lost = QStringLiteral("挂失");

// A mark of the old engine is -1, of this one 1: any value but 0 and Null is one.
QString preparedCondition()
{
    return QStringLiteral(" and IsSelect <> %1").arg(dm->BoolLiteral(false));
}

} // namespace

ListQuery LostOwnerList(bool preparedOnly)
{
    return {QStringLiteral("idx, DongHao, DanYuan, FangHao, UserName, CardID"),
            QStringLiteral("UserInfo where chLoss = :lost") +
                (preparedOnly ? preparedCondition() : QString()),
            {{QStringLiteral("lost"), Lost}},
            {{QStringLiteral("DongHao")}, {QStringLiteral("DanYuan")}, {QStringLiteral("FangHao")}}};
}

bool SetPrepared(bool prepared, int idx)
{
    QString sql = QStringLiteral("update UserInfo set IsSelect = :value where chLoss = :lost");
    SqlParams params{{QStringLiteral("value"), prepared}, {QStringLiteral("lost"), Lost}};
    if (idx > 0) {
        sql += QStringLiteral(" and idx = :idx");
        params.append({QStringLiteral("idx"), idx});
    }
    return dm->ExecuteSQL(sql, params);
}

int PreparedCount()
{
    DataSet count(*dm, QStringLiteral("qryPreparedCount"));
    count.Open(QStringLiteral("select count(*) as a from UserInfo where chLoss = :lost") +
                   preparedCondition(),
               {{QStringLiteral("lost"), Lost}});
    return dm->FieldAsInt(count, QStringLiteral("a"));
}

bool ReleasePrepared()
{
    return dm->ExecuteSQL(
        QStringLiteral(
            "update UserInfo set chLoss ='', IsSelect = %1 where IsSelect <> %1 and chLoss = :lost")
            .arg(dm->BoolLiteral(false)),
        {{QStringLiteral("lost"), Lost}});
}

bool SetOwnerBlackListed(int idx, bool blacklisted)
{
    return dm->ExecuteSQL(
        QStringLiteral("update UserInfo set chLoss = :state where idx = :idx"),
        {{QStringLiteral("state"), TextValue(blacklisted ? QStringLiteral("黑名单") : QString())},
         {QStringLiteral("idx"), idx}});
}
