#pragma once

#include "store/DM.h"
#include "store/OwnerStatements.h"

#include <QDate>
#include <QString>

// An owner as the windows fill one: name, card number and place given, the rest plain (男,
// 用户卡, an expiry of 30 June 2025 that is not in force, no card serial, no terminal).
inline TuserInfoRec OwnerRecord(const QString& name, const QString& cardNo, int dongHao = 1, int danYuan = 2,
                                const QString& fangHao = QStringLiteral("0101"))
{
    TuserInfoRec r;
    r.UserName = name;
    r.CardNo = cardNo;
    r.DongHao = dongHao;
    r.DanYuan = danYuan;
    r.FangHao = fangHao;
    r.Sex = QStringLiteral("男");
    r.UserType = QStringLiteral("用户卡");
    r.ExpDate = QDate(2025, 6, 30);
    r.chUseExpdate = QStringLiteral("否");
    return r;
}

// Stores an owner as the windows do; returns its idx, or -1 when it was refused.
inline int insertOwner(const TuserInfoRec& rec)
{
    if (!InsertUserInfo(*dm, rec))
        return -1;
    return FindUserIdx(*dm, rec);
}
