#pragma once

// The operation log as the tests read it back: every entry in the order it was written, after the
// writer has put in what was waiting.

#include "store/DM.h"
#include "store/OperationLog.h"

#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QtGlobal>

struct LoggedEntry {
    QString action;
    QString outcome;
    QString cardId;
    int ownerIdx = 0;
    QString ownerName;
    QString details;
    int level = 0;
    QString computer;
    QString user;

    // The desk as "computer/user".
    QString desk() const { return computer + QLatin1Char('/') + user; }
};

inline QList<LoggedEntry> loggedEntries()
{
    if (!FlushOperationLog())
        qWarning("the log was not flushed");
    QSqlQuery q(dm->database());
    q.exec(QStringLiteral("select Action, Outcome, CardID, OwnerIdx, OwnerName, Details, OperatorLevel, "
                          "Computer, SystemUser from OperationLog order by idx"));
    QList<LoggedEntry> list;
    while (q.next())
        list.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toInt(),
                     q.value(4).toString(), q.value(5).toString(), q.value(6).toInt(), q.value(7).toString(),
                     q.value(8).toString()});
    return list;
}
