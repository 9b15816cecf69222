#include "DbMaintenance.h"

#include "AppPath.h"
#include "Clock.h"
#include "DM.h"
#include "FileSync.h"
#include "OperationError.h"
#include "Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace {

void removeWithSideFiles(const QString& path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    QFile::remove(path + QStringLiteral("-journal"));
}

// Copies a closed file and pushes the copy to the disk.
bool copyFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to) && SyncPath(to);
}

bool makeBackupFolder(TMaintenanceResult& result)
{
    const QString folder = BackupFolder();
    if (QDir().mkpath(folder))
        return true;
    result.message = QStringLiteral("Cannot Create ") + QDir::toNativeSeparators(folder);
    return false;
}

// A connection of its own for one backup, restore or check, removed again when it ends. Queries on
// it must end before it does.
class OwnConnection {
public:
    OwnConnection(const QString& driver, const char* purpose)
        : m_name(QStringLiteral("iccard.%1.%2").arg(QLatin1String(purpose)).arg(++s_serial))
    {
        m_db = QSqlDatabase::addDatabase(driver, m_name);
    }
    // The same server, user and settings as another connection.
    OwnConnection(const QSqlDatabase& like, const char* purpose)
        : m_name(QStringLiteral("iccard.%1.%2").arg(QLatin1String(purpose)).arg(++s_serial))
    {
        m_db = QSqlDatabase::cloneDatabase(like, m_name);
    }
    ~OwnConnection()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    OwnConnection(const OwnConnection&) = delete;
    OwnConnection& operator=(const OwnConnection&) = delete;
    QSqlDatabase& db() { return m_db; }

private:
    static inline std::atomic<int> s_serial{0};
    QString m_name;
    QSqlDatabase m_db;
};

// VACUUM INTO on a connection of its own: a consistent copy of the last committed state,
// whatever the program's own connection is reading at the time.
QString vacuumInto(const QString& database, const QString& target)
{
    OwnConnection own(QStringLiteral("QSQLITE"), "backup");
    own.db().setDatabaseName(database);
    own.db().setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!own.db().open())
        return own.db().lastError().text();
    QSqlQuery q(own.db());
    if (!q.prepare(QStringLiteral("VACUUM INTO :file")))
        return q.lastError().text();
    q.bindValue(QStringLiteral(":file"), target);
    return q.exec() ? QString() : q.lastError().text();
}

void check(QSqlQuery& q, bool ran)
{
    if (!ran)
        throw OperationError(q.lastError().text());
}

// Runs a statement; one with values is prepared and the values bound.
void run(QSqlQuery& q, const QString& sql, const QVariantList& values = {})
{
    if (values.isEmpty()) {
        check(q, q.exec(sql));
        return;
    }
    check(q, q.prepare(sql));
    for (qsizetype i = 0; i < values.size(); ++i)
        q.bindValue(int(i), values[i]);
    check(q, q.exec());
}

// The columns of a table, for statement text.
QString columnList(const TRequiredTable& table)
{
    return table.columns.join(QStringLiteral(", "));
}

// The last key the server's identity of a table gave (0 when it gave none yet).
qint64 serverKey(QSqlQuery& q, const QString& table)
{
    run(q,
        QStringLiteral("select pg_sequence_last_value(cast(pg_get_serial_sequence(?, 'idx') as regclass))"),
        {table.toLower()});
    return q.next() ? q.value(0).toLongLong() : 0;
}

// Writes the three tables of the server into a new SQLite file of this system's schema, as read at
// one moment, with their keys and key sequences: yes/no values become 1 and 0, bytes a blob.
void copyServerToFile(QSqlDatabase& server, const QString& file)
{
    OwnConnection out(QStringLiteral("QSQLITE"), "backup");
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
        run(read, QStringLiteral("set transaction isolation level repeatable read, read only"));
        QSqlQuery write(out.db());
        for (const TRequiredTable& table : RequiredTables()) {
            const QString name = QString::fromLatin1(table.name);
            const auto width = table.columns.size();
            QStringList marks;
            marks.fill(QStringLiteral("?"), width);
            check(write, write.prepare(QStringLiteral("insert into %1 (%2) values (%3)")
                                           .arg(name, columnList(table), marks.join(QStringLiteral(", ")))));
            run(read, QStringLiteral("select %1 from %2 order by idx").arg(columnList(table), name));
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
                check(write, write.exec());
                lastIdx = read.value(0).toLongLong();
            }
            check(read, !read.lastError().isValid());
            // A key the server gave once is not given again after this file has been restored.
            const qint64 key = std::max(serverKey(read, name), lastIdx);
            run(write, QStringLiteral("delete from sqlite_sequence where name = ?"), {name});
            if (key > 0)
                run(write, QStringLiteral("insert into sqlite_sequence (name, seq) values (?, ?)"),
                    {name, key});
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
    OwnConnection in(QStringLiteral("QSQLITE"), "restore");
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
        run(q, QStringLiteral("set local lock_timeout = '30s'"));
        run(q, QStringLiteral("lock table UserInfo, TerminalInfo, BuildInfo in exclusive mode"));
        for (const TRequiredTable& table : RequiredTables())
            run(q, QStringLiteral("delete from ") + QLatin1String(table.name));

        QSqlQuery read(in.db());
        read.setForwardOnly(true);
        for (const TRequiredTable& table : RequiredTables()) {
            const QString name = QString::fromLatin1(table.name);
            const auto width = int(table.columns.size());
            // What each column of the server holds: the file's 0 and 1 go into yes/no columns as
            // booleans, its texts into byte columns as their bytes.
            run(q,
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
            check(full, full.prepare(insertOf(RowsPerInsert)));
            QVariantList pending;
            pending.reserve(RowsPerInsert * width);
            auto flush = [&](QSqlQuery& insert) {
                for (qsizetype i = 0; i < pending.size(); ++i)
                    insert.bindValue(int(i), pending[i]);
                check(insert, insert.exec());
                pending.clear();
            };

            run(read, QStringLiteral("select %1 from %2 order by idx").arg(columnList(table), name));
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
            check(read, !read.lastError().isValid());
            if (!pending.isEmpty()) {
                QSqlQuery& rest = *inserts.emplace_back(std::make_unique<QSqlQuery>(server));
                check(rest, rest.prepare(insertOf(int(pending.size() / width))));
                flush(rest);
            }

            run(read, QStringLiteral("select seq from sqlite_sequence where name = ? collate nocase"),
                {name});
            const qint64 fileKey = read.next() ? read.value(0).toLongLong() : 0;
            const qint64 key = std::max({fileKey, lastIdx, serverKey(q, name)});
            if (key > 0)
                run(q, QStringLiteral("select setval(pg_get_serial_sequence(?, 'idx'), ?, true)"),
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

// Brings a copy of a backup of an earlier schema version up to date.
void upgradeFile(const QString& file, int version)
{
    OwnConnection db(QStringLiteral("QSQLITE"), "upgrade");
    db.db().setDatabaseName(file);
    if (!db.db().open())
        throw OperationError(db.db().lastError().text());
    ApplySchema(db.db(), version);
}

// A backup file made through a part file beside it, which takes the target's place whole once it
// is on the disk. False (the part file removed) when any of it fails; error says why, when known.
template <typename Make> bool writeBackup(const QString& target, Make make, QString& error)
{
    const QString part = target + QStringLiteral(".part");
    removeWithSideFiles(part);
    error = make(part);
    if (!error.isEmpty() || !SyncPath(part) || !ReplaceFile(part, target)) {
        removeWithSideFiles(part);
        return false;
    }
    return true;
}

// The server's three tables into a backup file; the error text, empty when it worked.
QString serverInto(const QString& part)
{
    try {
        OwnConnection server(dm->database(), "backup");
        if (!server.db().open())
            return server.db().lastError().text();
        copyServerToFile(server.db(), part);
        return {};
    } catch (const OperationError& e) {
        return e.message();
    }
}

QString stamp()
{
    return Now().toString(QStringLiteral("yyMMdd_hhmmss"));
}

// Copies that a backup cut short left in the backup folder (with their journals).
void removePartialBackups()
{
    const QDir folder(BackupFolder());
    if (!folder.exists())
        return;
    for (const QString& name : folder.entryList({QStringLiteral("*.bak.part*")}, QDir::Files | QDir::Hidden))
        QFile::remove(folder.filePath(name));
}

} // namespace

void RemoveMaintenanceLeftovers(const QString& database)
{
    removeWithSideFiles(database + QStringLiteral(".restore"));
    removeWithSideFiles(database + QStringLiteral(".previous"));
    removePartialBackups();
}

QString BackupFolder()
{
    return AppPath + QStringLiteral("dbBak");
}

QString BackupFilePath(const QDateTime& t)
{
    return BackupFolder() + QStringLiteral("/db_") + t.toString(QStringLiteral("yyMMdd_hhmmss")) +
           QStringLiteral(".bak");
}

TMaintenanceResult BackupDatabase()
{
    TMaintenanceResult result;
    if (!makeBackupFolder(result))
        return result;
    removePartialBackups();
    return BackupDatabaseTo(BackupFilePath(Now()));
}

TMaintenanceResult BackupDatabaseTo(const QString& target)
{
    TMaintenanceResult result;
    try {
        dm->database(); // the file must be the program's database, opened and up to date
    } catch (const OperationError& e) {
        result.message = e.shown() ? QString() : e.message();
        return result;
    }
    const QString database = dm->Target().FilePath();
    const QFileInfo targetInfo(target);
    if (!dm->IsServer() && targetInfo.exists() &&
        targetInfo.canonicalFilePath() == QFileInfo(database).canonicalFilePath()) {
        result.message = QStringLiteral("备份失败：%1\n这是正在使用的数据库文件本身。")
                             .arg(QDir::toNativeSeparators(target));
        return result;
    }
    // On a server: a file of the same kind, made from the server's rows.
    QString error;
    const bool written =
        dm->IsServer() ? writeBackup(target, serverInto, error)
                       : writeBackup(
                             target, [&](const QString& part) { return vacuumInto(database, part); }, error);
    if (!written) {
        result.message = QStringLiteral("备份失败：%1\n%2").arg(QDir::toNativeSeparators(target), error);
        return result;
    }
    result.ok = true;
    result.file = target;
    return result;
}

namespace {

// A copy of the chosen file at incoming, checked as it will be used: the reason it cannot be
// used, empty when it can (check then holds the file's version).
QString takeChosenFile(const QString& chosenFile, const QString& incoming, TDatabaseCheck& check)
{
    if (!QFileInfo(chosenFile).isFile() || !copyFile(chosenFile, incoming))
        return QStringLiteral("不能复制这个文件。");
    check = CheckDatabaseFile(incoming, true);
    QFile::remove(incoming + QStringLiteral("-wal"));
    QFile::remove(incoming + QStringLiteral("-shm"));
    if (!check.ok)
        return check.reason;
    if (check.empty)
        return QStringLiteral("这个文件是空的，里面没有数据。");
    return {};
}

// The restore on a server: the chosen file is checked as on the SQLite file (and a copy of it
// brought up to date), the server's data is kept in the backup folder, and the file's rows take
// the place of the server's in one transaction.
TMaintenanceResult restoreIntoServer(const QString& chosenFile)
{
    TMaintenanceResult result;
    const QString incoming = Tdm::DatabasePath() + QStringLiteral(".restore");
    auto fail = [&](const QString& why) {
        removeWithSideFiles(incoming);
        result.message = QStringLiteral("恢复失败：%1\n%2").arg(QDir::toNativeSeparators(chosenFile), why);
        return result;
    };

    RemoveMaintenanceLeftovers(Tdm::DatabasePath());
    TDatabaseCheck check;
    if (const QString why = takeChosenFile(chosenFile, incoming, check); !why.isEmpty())
        return fail(why);
    if (!makeBackupFolder(result)) {
        removeWithSideFiles(incoming);
        return result;
    }
    if (dm->InTransaction())
        return fail(QStringLiteral("数据库正在使用中，请先关闭其他窗口。"));
    QSqlDatabase server;
    try {
        server = dm->database();
        if (check.version < SchemaVersion)
            upgradeFile(incoming, check.version);
    } catch (const OperationError& e) {
        if (e.shown()) {
            removeWithSideFiles(incoming);
            return result;
        }
        return fail(e.message());
    }

    // The server's current data, kept in the backup folder.
    const QString kept =
        BackupFolder() + QStringLiteral("/db_") + stamp() + QStringLiteral("_before_restore.bak");
    QString error;
    if (!writeBackup(kept, serverInto, error))
        return fail(QStringLiteral("不能在备份目录中保存当前数据库的副本。") + error);

    dm->CloseDataSets();
    try {
        loadFileIntoServer(incoming, server);
    } catch (const OperationError& e) {
        return fail(e.message());
    }
    removeWithSideFiles(incoming);
    result.ok = true;
    result.file = kept;
    return result;
}

} // namespace

TMaintenanceResult RestoreDatabase(const QString& chosenFile)
{
    if (dm->IsServer())
        return restoreIntoServer(chosenFile);
    TMaintenanceResult result;
    const QString database = dm->Target().FilePath();
    const QString incoming = database + QStringLiteral(".restore");
    auto fail = [&](const QString& why) {
        removeWithSideFiles(incoming);
        result.message = QStringLiteral("恢复失败：%1\n%2").arg(QDir::toNativeSeparators(chosenFile), why);
        return result;
    };

    // The open database itself: its file alone may lack what the write-ahead log holds.
    const QFileInfo chosenInfo(chosenFile);
    if (chosenInfo.exists() && chosenInfo.canonicalFilePath() == QFileInfo(database).canonicalFilePath())
        return fail(QStringLiteral("这是正在使用的数据库文件本身，请选择备份目录中的备份文件。"));

    // 1. A copy of the chosen file beside the database, checked as it will be used.
    RemoveMaintenanceLeftovers(database);
    TDatabaseCheck check;
    if (const QString why = takeChosenFile(chosenFile, incoming, check); !why.isEmpty())
        return fail(why);
    if (!makeBackupFolder(result)) {
        removeWithSideFiles(incoming);
        return result;
    }

    auto reopen = [] {
        try {
            dm->OpenConnection();
        } catch (const OperationError&) {
            // The file in place is the one that was there; database() reports it on next use.
        }
    };

    // 2. Close the connection, so that the database file stands alone on disk.
    if (!dm->CloseConnection())
        return fail(QStringLiteral("数据库正在使用中，请先关闭其他窗口。"));
    if (QFileInfo::exists(database + QStringLiteral("-wal"))) {
        reopen();
        return fail(QStringLiteral("数据库正在使用中，请先关闭其他窗口。"));
    }

    // 3. Keep the current database in the backup folder.
    QString kept;
    if (QFileInfo(database).isFile() && QFileInfo(database).size() > 0) {
        kept = BackupFolder() + QStringLiteral("/db_") + stamp() + QStringLiteral("_before_restore.bak");
        if (!copyFile(database, kept)) {
            QFile::remove(kept);
            reopen();
            return fail(QStringLiteral("不能在备份目录中保存当前数据库的副本。"));
        }
    }

    // 4. The chosen copy takes the database's place in one step, and is opened.
    if (!ReplaceFile(incoming, database)) {
        reopen();
        return fail(QStringLiteral("不能替换数据库文件。"));
    }
    try {
        dm->OpenConnection();
    } catch (const OperationError& e) {
        // Put the previous database back.
        if (kept.isEmpty()) {
            removeWithSideFiles(database);
        } else {
            const QString back = database + QStringLiteral(".previous");
            if (copyFile(kept, back))
                ReplaceFile(back, database);
        }
        reopen();
        return fail(e.message());
    }
    result.ok = true;
    result.file = kept;
    return result;
}

TMaintenanceResult InitDatabase()
{
    TMaintenanceResult result;
    result.ok = true;
    for (const char* table : {"UserInfo", "TerminalInfo", "BuildInfo"}) {
        if (!dm->ExecuteSQL(QStringLiteral("delete from ") + QLatin1String(table)))
            result.ok = false;
    }
    return result;
}

TDatabaseCheck CheckDatabase()
{
    return CheckDatabase(Tdm::DatabasePath());
}

TDatabaseCheck CheckServer(const TDatabaseTarget& target)
{
    TDatabaseCheck check;
    OwnConnection server(QStringLiteral("QPSQL"), "check");
    ConfigureServerConnection(server.db(), target);
    if (!server.db().open()) {
        check.reason = QStringLiteral("无法连接数据库服务器：%1").arg(server.db().lastError().text());
        return check;
    }
    return CheckOpenDatabase(server.db());
}

TDatabaseCheck CheckDatabase(const QString& path)
{
    return CheckDatabaseFile(path, true);
}
