// The server's side of a backup and a restore: its rows into a backup file (the file's kind on
// either engine), and a backup file's rows into the server.

#include "PgEngine.h"

#include "store/DM.h"
#include "store/OperationError.h"
#include "store/OwnConnection.h"
#include "store/Schema.h"

#include "store/SqlText.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The columns of a table, for statement text.
QString columnList(const RequiredTable& table)
{
    return table.columns.join(QStringLiteral(", "));
}

// The last key the server's identity of a table gave (0 when it gave none yet).
qint64 serverKey(QSqlQuery& q, const QString& table)
{
    RunOrThrow(
        q,
        QStringLiteral("select pg_sequence_last_value(cast(pg_get_serial_sequence(?, 'idx') as regclass))"),
        {table.toLower()});
    return q.next() ? q.value(0).toLongLong() : 0;
}

// Writes the three tables of the server, and the office's log and passwords, into a new SQLite file of this
// system's schema, as read at one moment, with their keys and key sequences: yes/no values become 1 and 0,
// bytes a blob.
void copyServerToFile(QSqlDatabase& server, const QString& file)
{
    OwnConnection out(FileEngine().DriverName(), "backup");
    out.db().setDatabaseName(file);
    if (!out.db().open())
        throw OperationError(out.db().lastError().text());
    ApplySchema(out.db(), 0);

    QSqlQuery read(server); // ends after the rollback, as in loadFileIntoServer
    read.setForwardOnly(true);
    if (!server.transaction())
        throw OperationError(server.lastError().text());
    if (!out.db().transaction()) {
        server.rollback();
        throw OperationError(out.db().lastError().text());
    }
    try {
        // Every table as it stood at the same moment, whatever the other desks change meanwhile.
        RunOrThrow(read, QStringLiteral("set transaction isolation level repeatable read, read only"));
        QSqlQuery write(out.db());
        for (const RequiredTable& table : RequiredTables() + OfficeTables()) {
            const QString name = QString::fromLatin1(table.name);
            const QString& key = table.columns.first();
            const auto width = table.columns.size();
            QStringList marks;
            marks.fill(QStringLiteral("?"), width);
            CheckRan(write,
                     write.prepare(QStringLiteral("insert into %1 (%2) values (%3)")
                                       .arg(name, columnList(table), marks.join(QStringLiteral(", ")))));
            RunOrThrow(read,
                       QStringLiteral("select %1 from %2 order by %3").arg(columnList(table), name, key));
            qint64 lastIdx = 0;
            while (read.next()) {
                for (int c = 0; c < width; ++c) {
                    const QVariant v = read.value(c);
                    if (v.isNull())
                        write.bindValue(c, QVariant());
                    else if (v.typeId() == QMetaType::Bool)
                        write.bindValue(c, v.toBool() ? 1 : 0);
                    else
                        write.bindValue(c, v);
                }
                CheckRan(write, write.exec());
                lastIdx = read.value(0).toLongLong();
            }
            CheckRan(read, !read.lastError().isValid());
            if (key != QLatin1String("idx"))
                continue; // a key of the office's choosing, not given by a sequence
            // A key the server gave once is not given again after this file has been restored.
            const qint64 next = std::max(serverKey(read, name), lastIdx);
            RunOrThrow(write, QStringLiteral("delete from sqlite_sequence where name = ?"), {name});
            if (next > 0)
                RunOrThrow(write, QStringLiteral("insert into sqlite_sequence (name, seq) values (?, ?)"),
                           {name, next});
        }
        write.finish();
        read.finish();
        if (!out.db().commit())
            throw OperationError(out.db().lastError().text());
        server.commit();
    } catch (...) {
        out.db().rollback();
        server.rollback();
        throw;
    }
}

// Rows of one insert statement on the server: the statements go one round trip each.
constexpr int RowsPerInsert = 200;

// Replaces the three tables of the server with those of a backup file of the current schema, in
// one transaction: the keys of the file are kept, and each identity goes on above every key the
// file or the server ever gave. Nothing changes when anything fails.
void loadFileIntoServer(const QString& file, QSqlDatabase& server)
{
    OwnConnection in(FileEngine().DriverName(), "restore");
    in.db().setDatabaseName(file);
    in.db().setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!in.db().open())
        throw OperationError(in.db().lastError().text());
    // The statements on the server end after the rollback: a prepared statement cannot be let go
    // inside a transaction that failed.
    QSqlQuery q(server);
    std::vector<std::unique_ptr<QSqlQuery>> inserts;
    if (!server.transaction())
        throw OperationError(server.lastError().text());
    try {
        // Other desks read the previous rows until the commit, and change nothing meanwhile. A desk
        // in the middle of a long change makes the restore give up rather than wait on.
        RunOrThrow(q, QStringLiteral("set local lock_timeout = '30s'"));
        RunOrThrow(q, QStringLiteral("lock table UserInfo, TerminalInfo, BuildInfo in exclusive mode"));
        for (const RequiredTable& table : RequiredTables())
            RunOrThrow(q, QStringLiteral("delete from ") + QLatin1String(table.name));

        QSqlQuery read(in.db());
        read.setForwardOnly(true);
        for (const RequiredTable& table : RequiredTables()) {
            const QString name = QString::fromLatin1(table.name);
            const auto width = int(table.columns.size());
            // What each column of the server holds: the file's 0 and 1 go into yes/no columns as
            // booleans, its texts into byte columns as their bytes.
            RunOrThrow(q,
                       QStringLiteral("select lower(column_name), data_type from information_schema.columns "
                                      "where table_schema = current_schema() and table_name = ?"),
                       {name.toLower()});
            QHash<QString, QString> types;
            while (q.next())
                types.insert(q.value(0).toString(), q.value(1).toString());
            std::vector<char> kind(size_t(width), 'v');
            for (int c = 0; c < width; ++c) {
                const QString type = types.value(table.columns[c].toLower());
                kind[size_t(c)] = type == QLatin1String("boolean") ? 'b'
                                  : type == QLatin1String("bytea") ? 'y'
                                                                   : 'v';
            }

            QStringList marks;
            marks.fill(QStringLiteral("?"), width);
            const QString row = QLatin1Char('(') + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
            auto insertOf = [&](int rows) {
                QStringList values;
                values.fill(row, rows);
                return QStringLiteral("insert into %1 (%2) values %3")
                    .arg(name, columnList(table), values.join(QStringLiteral(", ")));
            };
            QSqlQuery& full = *inserts.emplace_back(std::make_unique<QSqlQuery>(server));
            CheckRan(full, full.prepare(insertOf(RowsPerInsert)));
            QVariantList pending;
            pending.reserve(RowsPerInsert * width);
            auto flush = [&](QSqlQuery& insert) {
                for (qsizetype i = 0; i < pending.size(); ++i)
                    insert.bindValue(int(i), pending[i]);
                CheckRan(insert, insert.exec());
                pending.clear();
            };

            RunOrThrow(read, QStringLiteral("select %1 from %2 order by idx").arg(columnList(table), name));
            qint64 lastIdx = 0;
            while (read.next()) {
                for (int c = 0; c < width; ++c) {
                    const QVariant v = read.value(c);
                    if (v.isNull())
                        pending << QVariant();
                    else if (kind[size_t(c)] == 'b')
                        pending << StoredBool(v);
                    else if (kind[size_t(c)] == 'y')
                        pending << v.toByteArray();
                    else
                        pending << v;
                }
                lastIdx = std::max(lastIdx, read.value(0).toLongLong());
                if (pending.size() == RowsPerInsert * width)
                    flush(full);
            }
            CheckRan(read, !read.lastError().isValid());
            if (!pending.isEmpty()) {
                QSqlQuery& rest = *inserts.emplace_back(std::make_unique<QSqlQuery>(server));
                CheckRan(rest, rest.prepare(insertOf(int(pending.size() / width))));
                flush(rest);
            }

            RunOrThrow(read, QStringLiteral("select seq from sqlite_sequence where name = ? collate nocase"),
                       {name});
            const qint64 fileKey = read.next() ? read.value(0).toLongLong() : 0;
            const qint64 key = std::max({fileKey, lastIdx, serverKey(q, name)});
            if (key > 0)
                RunOrThrow(q, QStringLiteral("select setval(pg_get_serial_sequence(?, 'idx'), ?, true)"),
                           {name.toLower(), key});
        }
        read.finish();
        q.finish();
        if (!server.commit())
            throw OperationError(server.lastError().text());
    } catch (...) {
        server.rollback();
        throw;
    }
}

} // namespace

QString PgEngine::BackupInto(const QSqlDatabase& db, const QString& file) const
{
    try {
        OwnConnection server(db, "backup");
        if (!server.db().open())
            return server.db().lastError().text();
        copyServerToFile(server.db(), file);
        return {};
    } catch (const OperationError& e) {
        return e.message();
    }
}

void PgEngine::LoadBackup(const QString& file, QSqlDatabase& db) const
{
    loadFileIntoServer(file, db);
}

DatabaseCheck PgEngine::Check(const DatabaseTarget& target) const
{
    DatabaseCheck check;
    OwnConnection server(DriverName(), "check");
    ConfigureServerConnection(server.db(), target);
    if (!server.db().open()) {
        check.reason = QStringLiteral("无法连接数据库服务器：%1").arg(server.db().lastError().text());
        return check;
    }
    return CheckOpenDatabase(server.db());
}

QString PgEngine::DatabaseFile(const DatabaseTarget&) const
{
    return QString(); // the server keeps the data
}
