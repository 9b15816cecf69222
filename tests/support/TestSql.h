#pragma once

// A test's own SQL on the program's connection (`dm`): reading rows back, and the few pieces of
// SQL that differ between the SQLite file and a PostgreSQL server.

#include "store/DM.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

// Runs a query on the program's connection and returns the first column of every row.
inline QVariantList column(const QString& sql)
{
    QVariantList out;
    QSqlQuery q(dm->database());
    if (!q.exec(sql))
        qWarning().noquote() << "test query failed:" << q.lastError().text() << sql;
    while (q.next())
        out << q.value(0);
    return out;
}

inline int countRows(const QString& table)
{
    const QVariantList v = column(QStringLiteral("select count(*) from ") + table);
    return v.isEmpty() ? -1 : v.first().toInt();
}

inline int ownerCount()
{
    return countRows(QStringLiteral("UserInfo"));
}

// One column of the row idx of a table; invalid when there is no such row.
inline QVariant valueAt(const QString& table, int idx, const QString& field)
{
    QSqlQuery q(dm->database());
    q.prepare(QStringLiteral("select %1 from %2 where idx = ?").arg(field, table));
    q.addBindValue(idx);
    return q.exec() && q.next() ? q.value(0) : QVariant();
}

// One owner column by idx.
inline QVariant ownerField(int idx, const QString& column)
{
    return valueAt(QStringLiteral("UserInfo"), idx, column);
}

// SQL of the test's own that differs between the engines.
inline bool onServer()
{
    return dm && dm->IsServer();
}
// A yes/no literal; on the file also the old engine's -1 for yes.
inline QString yes(int fileValue = 1)
{
    return onServer() ? QStringLiteral("true") : QString::number(fileValue);
}
inline QString no()
{
    return dm->BoolLiteral(false);
}
// The bytes of a blob column as upper-case hex text.
inline QString hexOf(const QString& column)
{
    return onServer() ? QStringLiteral("upper(encode(%1, 'hex'))").arg(column)
                      : QStringLiteral("hex(%1)").arg(column);
}
// A value as SQL text, Null as NULL.
inline QString quoted(const QString& column)
{
    return onServer() ? QStringLiteral("quote_nullable(%1)").arg(column)
                      : QStringLiteral("quote(%1)").arg(column);
}

// A trigger that refuses a change with the message: when is "before insert", "before update of
// CardID" and the like; condition, on new or old, may be empty (every row).
inline void refuse(const QString& name, const QString& when, const QString& table, const QString& condition,
                   const QString& message)
{
    QStringList statements;
    if (onServer()) {
        statements << QStringLiteral(
                          "create function %1_refuse() returns trigger language plpgsql as $$ begin "
                          "if %2 then raise exception '%3'; end if; "
                          "if TG_OP = 'DELETE' then return old; end if; return new; end $$")
                          .arg(name, condition.isEmpty() ? QStringLiteral("true") : condition, message)
                   << QStringLiteral("create trigger %1 %2 on %3 for each row execute function %1_refuse()")
                          .arg(name, when, table);
    } else {
        statements << QStringLiteral("create trigger %1 %2 on %3 %4 begin select raise(abort, '%5'); end")
                          .arg(name, when, table,
                               condition.isEmpty() ? QString() : QStringLiteral("when ") + condition,
                               message);
    }
    QSqlQuery q(dm->database());
    for (const QString& s : statements) {
        if (!q.exec(s))
            qFatal("refuse: %s: %s", qPrintable(s), qPrintable(q.lastError().text()));
    }
}
inline void dropRefusal(const QString& name, const QString& table)
{
    QSqlQuery q(dm->database());
    q.exec(onServer() ? QStringLiteral("drop trigger %1 on %2").arg(name, table)
                      : QStringLiteral("drop trigger %1").arg(name));
}
