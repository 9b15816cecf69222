#include "DbMaintenance.h"

#include "AppPath.h"
#include "Clock.h"
#include "DM.h"
#include "FileSync.h"
#include "LogEntries.h"
#include "OperationError.h"
#include "OwnConnection.h"
#include "Schema.h"
#include "System.h"
#include "engine/Engine.h"
#include "engine/SqliteEngine.h"

#include "SqlText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <atomic>
#include <memory>
#include <sqlite3.h>
#include <vector>

namespace {

void removeWithSideFiles(const QString& path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    QFile::remove(path + QStringLiteral("-journal"));
}

bool makeBackupFolder(MaintenanceResult& result)
{
    const QString folder = BackupFolder();
    if (QDir().mkpath(folder))
        return true;
    result.message = QStringLiteral("Cannot Create ") + QDir::toNativeSeparators(folder);
    return false;
}

// The columns of a table, for statement text.
QString columnList(const RequiredTable& table)
{
    return table.columns.join(QStringLiteral(", "));
}

// Brings a copy of a backup of an earlier schema version up to date.
void upgradeFile(const QString& file, int version)
{
    OwnConnection db(FileEngine().DriverName(), "upgrade");
    db.db().setDatabaseName(file);
    if (!db.db().open())
        throw OperationError(db.db().lastError().text());
    ApplySchema(db.db(), version);
}

// Part files: a backup is written to TARGET.part (or TARGET.2.part ... while another run writes
// that one), the incoming copy of a restore to DATABASE.restore (or DATABASE.2.restore ...).
const QString PartSuffix = QStringLiteral(".part");
const QString RestoreSuffix = QStringLiteral(".restore");

// A backup file made through a part file beside it, which takes the target's place whole once it
// is on the disk. False (the part file removed) when any of it fails; error says why, when known.
template <typename Make> bool writeBackup(const QString& target, Make make, QString& error)
{
    PartFile part(target, PartSuffix);
    if (!part.ok()) {
        error = part.Error();
        return false;
    }
    error = make(part.Path());
    if (!error.isEmpty() || !SyncPath(part.Path()) || !ReplaceFile(part.Path(), target)) {
        part.Remove();
        return false;
    }
    return true;
}

// The data module's database into a backup file; the error text, empty when it worked.
QString databaseInto(const QString& part)
{
    try {
        return EngineFor(dm->Target()).BackupInto(dm->database(), part);
    } catch (const OperationError& e) {
        return e.message();
    }
}

QString stamp()
{
    return Now().toString(QStringLiteral("yyMMdd_hhmmss"));
}

// What backups and restores cut short left in the backup folder: every part file no run holds.
void removePartialBackups()
{
    RemoveAbandonedParts(BackupFolder(), {QStringLiteral("*") + PartSuffix}, false);
}

// The n-th name for the copy a restore keeps of the database it replaces, all made at one moment.
QString keptCopyName(const QString& when, int n)
{
    return BackupFolder() + QStringLiteral("/db_") + when + QStringLiteral("_before_restore") +
           (n > 1 ? QStringLiteral("_%1").arg(n) : QString()) + QStringLiteral(".bak");
}

constexpr int MaxKeptCopies = 1000;

// The copy of the database a restore replaces, written through a part file and put in the backup
// folder under the first of its names that no file has (…_before_restore.bak, then _2, _3 …):
// it never takes another file's place, not even that of a restore in the same second. Its name,
// or empty (error says why; nothing is left) when it could not be kept.
template <typename Make> QString writeKeptCopy(Make make, QString& error)
{
    const QString when = stamp();
    PartFile part(keptCopyName(when, 1), PartSuffix);
    if (!part.ok()) {
        error = part.Error();
        return {};
    }
    error = make(part.Path());
    if (error.isEmpty() && SyncPath(part.Path())) {
        for (int n = 1; n <= MaxKeptCopies; ++n) {
            const QString name = keptCopyName(when, n);
            if (PlaceNewFile(part.Path(), name))
                return name;
            if (!QFileInfo::exists(name))
                break; // not taken: the move itself failed
        }
    }
    part.Remove();
    return {};
}

// Copies a file's bytes into an existing (empty) file; the error text, empty when it worked.
QString copyBytes(const QString& from, const QString& to)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly))
        return in.errorString();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return out.errorString();
    std::vector<char> buffer(size_t(1) << 20);
    for (;;) {
        const qint64 n = in.read(buffer.data(), qint64(buffer.size()));
        if (n < 0)
            return in.errorString();
        if (n == 0)
            break;
        if (out.write(buffer.data(), n) != n)
            return out.errorString();
    }
    return out.flush() ? QString() : out.errorString();
}

} // namespace

void RemoveMaintenanceLeftovers(const QString& database)
{
    const QFileInfo info(database);
    RemoveAbandonedParts(
        info.absolutePath(),
        {info.fileName() + RestoreSuffix, info.fileName() + QStringLiteral(".*") + RestoreSuffix}, false);
    // Earlier versions of the restore put the previous database back through this name.
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

namespace {

MaintenanceResult backupTo(const QString& target);

// The outcome of a maintenance run as the operator read it.
QString maintenanceOutcome(const MaintenanceResult& r)
{
    if (r.ok)
        return LogSucceeded;
    const QString said = r.message.section(QLatin1Char('\n'), 0, 0);
    return said.isEmpty() ? LogRefused : said;
}

void recordMaintenance(const QString& action, const MaintenanceResult& r, const QString& details)
{
    LogEntry e;
    e.action = action;
    e.outcome = maintenanceOutcome(r);
    e.details = details;
    RecordOperation(e);
}

QString fileField(const QString& caption, const QString& file)
{
    return file.isEmpty() ? QString() : LogFields({{caption, QDir::toNativeSeparators(file)}});
}

} // namespace

MaintenanceResult BackupDatabase()
{
    MaintenanceResult result;
    if (!makeBackupFolder(result)) {
        recordMaintenance(LogAction::Backup, result, fileField(QStringLiteral("文件"), BackupFolder()));
        return result;
    }
    removePartialBackups();
    return BackupDatabaseTo(BackupFilePath(Now()));
}

MaintenanceResult BackupDatabaseTo(const QString& target, bool logged)
{
    FlushOperationLog();
    const MaintenanceResult result = backupTo(target);
    if (logged)
        recordMaintenance(LogAction::Backup, result, fileField(QStringLiteral("文件"), target));
    return result;
}

namespace {

MaintenanceResult backupTo(const QString& target)
{
    MaintenanceResult result;
    try {
        dm->database(); // the file must be the program's database, opened and up to date
    } catch (const OperationError& e) {
        result.message = e.shown() ? QString() : e.message();
        return result;
    }
    const QString database = EngineFor(dm->Target()).DatabaseFile(dm->Target());
    const QFileInfo targetInfo(target);
    if (!database.isEmpty() && targetInfo.exists() &&
        targetInfo.canonicalFilePath() == QFileInfo(database).canonicalFilePath()) {
        result.message = QStringLiteral("备份失败：%1\n这是正在使用的数据库文件本身。")
                             .arg(QDir::toNativeSeparators(target));
        return result;
    }
    // What a backup killed in the same folder left (a nightly backup's folder of dated names).
    RemoveAbandonedParts(targetInfo.absolutePath(), {QStringLiteral("*") + PartSuffix}, true);
    QString error;
    // On a server: a file of the same kind, made from the server's rows.
    const bool written = writeBackup(target, databaseInto, error);
    if (!written) {
        result.message = QStringLiteral("备份失败：%1\n%2").arg(QDir::toNativeSeparators(target), error);
        return result;
    }
    result.ok = true;
    result.file = target;
    return result;
}

// How long a restore waits for another program's change to end before it gives up.
constexpr int RestoreWaitMs = 2000;

QString inUseByAnotherProgram()
{
    return QStringLiteral("数据库正被其他程序使用（例如正在导入），请等它结束后再恢复。");
}

QString inUseHere()
{
    return QStringLiteral("数据库正在使用中，请先关闭其他窗口。");
}

// A copy of the chosen file in the claimed part file, checked whole as it will be used (every page,
// every index) and brought up to the current schema version: the reason it cannot be used, empty
// when it can.
QString takeChosenFile(const QString& chosenFile, const QString& incoming)
{
    if (!QFileInfo(chosenFile).isFile() || !copyBytes(chosenFile, incoming).isEmpty())
        return QStringLiteral("不能复制这个文件。");
    const DatabaseCheck check = CheckDatabaseFile(incoming, true);
    QFile::remove(incoming + QStringLiteral("-wal"));
    QFile::remove(incoming + QStringLiteral("-shm"));
    if (!check.ok)
        return check.reason;
    if (check.empty)
        return QStringLiteral("这个文件是空的，里面没有数据。");
    if (check.version < SchemaVersion) {
        try {
            upgradeFile(incoming, check.version);
        } catch (const OperationError& e) {
            return e.message();
        }
    }
    return {};
}

// The restore on a server: the chosen file is checked as on the SQLite file (and a copy of it
// brought up to date), the server's data is kept in the backup folder, and the file's rows take
// the place of the server's in one transaction.
MaintenanceResult restoreIntoServer(const QString& chosenFile)
{
    MaintenanceResult result;
    RemoveMaintenanceLeftovers(Tdm::DatabasePath());
    PartFile incoming(Tdm::DatabasePath(), RestoreSuffix);
    auto fail = [&](const QString& why) {
        incoming.Remove();
        result.message = QStringLiteral("恢复失败：%1\n%2").arg(QDir::toNativeSeparators(chosenFile), why);
        return result;
    };
    if (!incoming.ok())
        return fail(QStringLiteral("不能复制这个文件。") + incoming.Error());
    if (const QString why = takeChosenFile(chosenFile, incoming.Path()); !why.isEmpty())
        return fail(why);
    if (!makeBackupFolder(result)) {
        incoming.Remove();
        return result;
    }
    if (dm->InTransaction())
        return fail(inUseHere());
    QSqlDatabase server;
    try {
        server = dm->database();
    } catch (const OperationError& e) {
        if (e.shown()) {
            incoming.Remove();
            return result;
        }
        return fail(e.message());
    }

    // The server's current data, kept in the backup folder.
    QString error;
    const QString kept = writeKeptCopy(databaseInto, error);
    if (kept.isEmpty())
        return fail(QStringLiteral("不能在备份目录中保存当前数据库的副本。") + error);

    dm->CloseDataSets();
    try {
        EngineFor(dm->Target()).LoadBackup(incoming.Path(), server);
    } catch (const OperationError& e) {
        QFile::remove(kept);
        return fail(e.message());
    }
    incoming.Remove();
    result.ok = true;
    result.file = kept;
    return result;
}

// How a restore on the file went.
struct FileRestore {
    QString error;         // empty when it worked; the database is then unchanged
    QString kept;          // the copy of the replaced database (none when it held nothing)
    bool replaced = false; // the chosen file took the place of one the program could not use
};

// A database file the program cannot use (not a database at all, damaged, another program's or a
// newer version's) is replaced by the checked copy as a whole, after a copy of its bytes is kept:
// no desk of this program has such a file open. Runs under the write lock when the engine could
// take one on it (lockHolder's); where a file that is open cannot be replaced (Windows), that
// connection lets go of it first, and a file another program holds open is not replaced.
FileRestore replaceWholeFile(const QString& database, PartFile& incoming, QSqlDatabase& lockHolder)
{
    FileRestore outcome;
    if (QFileInfo(database).size() > 0) {
        QString error;
        outcome.kept = writeKeptCopy([&](const QString& part) { return copyBytes(database, part); }, error);
        if (outcome.kept.isEmpty()) {
            outcome.error = QStringLiteral("不能在备份目录中保存当前数据库的副本。") + error;
            return outcome;
        }
    }
    // A journal of the file replaced must not be taken for one of the new file.
    if (!Os::OpenFilesMayBeReplaced())
        lockHolder.close();
    for (const char* side : {"-journal", "-wal", "-shm"})
        QFile::remove(database + QLatin1String(side));
    if (!ReplaceFile(incoming.Path(), database)) {
        if (!outcome.kept.isEmpty())
            QFile::remove(outcome.kept);
        outcome.kept.clear();
        outcome.error = QStringLiteral("不能替换数据库文件。");
        return outcome;
    }
    // The copy is the database now: the program opens it only after this lets go of it.
    incoming.Release();
    outcome.replaced = true;
    return outcome;
}

// The rows of the checked copy (attached as "restored") take the place of the database's rows,
// table by table; each key sequence goes on above every key the copy or the database ever gave.
void replaceRows(QSqlQuery& q)
{
    for (const RequiredTable& table : RequiredTables()) {
        const QString name = QString::fromLatin1(table.name);
        qint64 key = 0;
        for (const QString& sql :
             {QStringLiteral("select seq from main.sqlite_sequence where name = ? collate nocase"),
              QStringLiteral("select seq from restored.sqlite_sequence where name = ? collate nocase")}) {
            RunOrThrow(q, sql, {name});
            while (q.next())
                key = std::max(key, q.value(0).toLongLong());
        }
        RunOrThrow(q, QStringLiteral("select max(idx) from restored.%1").arg(name));
        if (q.next())
            key = std::max(key, q.value(0).toLongLong());
        RunOrThrow(q, QStringLiteral("delete from main.%1").arg(name));
        RunOrThrow(q, QStringLiteral("insert into main.%1 (%2) select %2 from restored.%1 order by idx")
                          .arg(name, columnList(table)));
        RunOrThrow(q, QStringLiteral("delete from main.sqlite_sequence where name = ? collate nocase"),
                   {name});
        if (key > 0)
            RunOrThrow(q, QStringLiteral("insert into main.sqlite_sequence (name, seq) values (?, ?)"),
                       {name, key});
    }
}

// The restore on the file, through the engine's own lock and journal rather than around them. A
// connection of its own takes the write lock (other programs may go on reading; none can write,
// and one in the middle of a change makes the restore give up after a short wait); under that
// lock the database is copied into the backup folder, and in one transaction the checked copy's
// rows take the place of the database's. The file stays the same file: every program that has it
// open reads the restored rows at its next read, and a crash is rolled back by the journal.
FileRestore restoreThroughLock(const QString& database, PartFile& incoming)
{
    FileRestore outcome;
    OwnConnection own(FileEngine().DriverName(), "restore");
    QSqlDatabase& db = own.db();
    db.setDatabaseName(database);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(RestoreWaitMs));
    if (!db.open()) {
        outcome.error = db.lastError().text();
        return outcome;
    }
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA synchronous = FULL"));
    q.exec(QStringLiteral("PRAGMA cache_size = -65536")); // a community's rows without spilling
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        const int code = q.lastError().nativeErrorCode().toInt();
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            outcome.error = inUseByAnotherProgram();
        else if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)
            return replaceWholeFile(database, incoming, db);
        else
            outcome.error = q.lastError().text();
        return outcome;
    }
    auto undo = [&] {
        q.finish();
        q.exec(QStringLiteral("ROLLBACK"));
        if (!outcome.kept.isEmpty())
            QFile::remove(outcome.kept);
        outcome.kept.clear();
    };
    const DatabaseCheck current = CheckOpenDatabase(db);
    if (!current.ok) {
        outcome = replaceWholeFile(database, incoming, db);
        q.finish();
        q.exec(QStringLiteral("ROLLBACK"));
        return outcome;
    }
    if (!current.empty) {
        // Nobody else can write while the lock is held: this copy is the database the rows replace.
        QString error;
        outcome.kept = writeKeptCopy([&](const QString& part) { return VacuumInto(database, part); }, error);
        if (outcome.kept.isEmpty()) {
            undo();
            outcome.error = QStringLiteral("不能在备份目录中保存当前数据库的副本。") + error;
            return outcome;
        }
    }
    try {
        if (current.version < SchemaVersion)
            ApplySchemaSteps(db, current.version);
        RunOrThrow(q, QStringLiteral("ATTACH DATABASE ? AS restored"), {incoming.Path()});
        replaceRows(q);
        q.finish();
    } catch (const OperationError& e) {
        undo();
        outcome.error = e.message();
        return outcome;
    }
    // The commit waits for the programs reading at that moment to finish their read.
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const int code = q.lastError().nativeErrorCode().toInt();
        const QString why = q.lastError().text();
        undo();
        outcome.error = code == SQLITE_BUSY || code == SQLITE_LOCKED ? inUseByAnotherProgram() : why;
        return outcome;
    }
    q.exec(QStringLiteral("DETACH DATABASE restored"));
    q.finish();
    return outcome;
}

} // namespace

namespace {

MaintenanceResult restoreDatabase(const QString& chosenFile);

} // namespace

MaintenanceResult RestoreDatabase(const QString& chosenFile, bool logged)
{
    // What was recorded before the restore goes in first; the restore's own entry after it.
    FlushOperationLog();
    const MaintenanceResult result = restoreDatabase(chosenFile);
    if (logged)
        recordMaintenance(LogAction::Restore, result,
                          LogJoin({fileField(QStringLiteral("文件"), chosenFile),
                                   fileField(QStringLiteral("原数据库另存为"), result.file)}));
    return result;
}

namespace {

MaintenanceResult restoreDatabase(const QString& chosenFile)
{
    const QString database = EngineFor(dm->Target()).DatabaseFile(dm->Target());
    if (database.isEmpty())
        return restoreIntoServer(chosenFile);
    MaintenanceResult result;
    auto fail = [&](const QString& why) {
        result.message = QStringLiteral("恢复失败：%1\n%2").arg(QDir::toNativeSeparators(chosenFile), why);
        return result;
    };

    // The open database itself: its file alone may lack what the journal holds.
    const QFileInfo chosenInfo(chosenFile);
    if (chosenInfo.exists() && chosenInfo.canonicalFilePath() == QFileInfo(database).canonicalFilePath())
        return fail(QStringLiteral("这是正在使用的数据库文件本身，请选择备份目录中的备份文件。"));

    // 1. A copy of the chosen file beside the database, checked whole and brought up to date, before
    // anything else is touched.
    RemoveMaintenanceLeftovers(database);
    PartFile incoming(database, RestoreSuffix);
    if (!incoming.ok())
        return fail(QStringLiteral("不能复制这个文件。") + incoming.Error());
    if (const QString why = takeChosenFile(chosenFile, incoming.Path()); !why.isEmpty()) {
        incoming.Remove();
        return fail(why);
    }
    if (!makeBackupFolder(result)) {
        incoming.Remove();
        return result;
    }

    // 2. The program's own connection lets go of the file, so that no read of its own stands in
    // the way of the commit.
    if (!dm->CloseConnection()) {
        incoming.Remove();
        return fail(inUseHere());
    }

    // 3. The rows in place (or, for a file the program could not use, the file).
    const FileRestore outcome = restoreThroughLock(database, incoming);
    incoming.Remove();
    try {
        dm->OpenConnection();
    } catch (const OperationError& e) {
        // A file put in place whole that the program cannot open after all: the one that was there
        // goes back (its bytes are in the kept copy). Otherwise the database is the one it was, or
        // holds the restored rows, and its first use says why it cannot be opened.
        if (outcome.replaced) {
            if (outcome.kept.isEmpty()) {
                removeWithSideFiles(database);
            } else {
                PartFile back(database, RestoreSuffix);
                if (back.ok() && copyBytes(outcome.kept, back.Path()).isEmpty() && SyncPath(back.Path()) &&
                    ReplaceFile(back.Path(), database))
                    back.Release();
                back.Remove();
            }
            return fail(e.message());
        }
    }
    if (!outcome.error.isEmpty())
        return fail(outcome.error);
    result.ok = true;
    result.file = outcome.kept;
    return result;
}

} // namespace

MaintenanceResult InitDatabase()
{
    MaintenanceResult result;
    result.ok = true;
    for (const char* table : {"UserInfo", "TerminalInfo", "BuildInfo"}) {
        if (!dm->ExecuteSQL(QStringLiteral("delete from ") + QLatin1String(table)))
            result.ok = false;
    }
    recordMaintenance(LogAction::EmptyDatabase, result, QStringLiteral("业主、终端、楼栋单元"));
    return result;
}

DatabaseCheck CheckDatabase()
{
    return CheckDatabase(Tdm::DatabasePath());
}

DatabaseCheck CheckTarget(const DatabaseTarget& target)
{
    return EngineFor(target).Check(target);
}

DatabaseCheck CheckDatabase(const QString& path)
{
    return CheckDatabaseFile(path, true);
}
