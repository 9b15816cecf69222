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
#include <atomic>

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

// VACUUM INTO on a connection of its own: a consistent copy of the last committed state,
// whatever the program's own connection is reading at the time.
QString vacuumInto(const QString& database, const QString& target)
{
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("iccard.backup.%1").arg(++serial);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            if (!q.prepare(QStringLiteral("VACUUM INTO :file"))) {
                error = q.lastError().text();
            } else {
                q.bindValue(QStringLiteral(":file"), target);
                if (!q.exec())
                    error = q.lastError().text();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return error;
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

void RemoveMaintenanceLeftovers()
{
    removeWithSideFiles(Tdm::DatabasePath() + QStringLiteral(".restore"));
    removeWithSideFiles(Tdm::DatabasePath() + QStringLiteral(".previous"));
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
    const QFileInfo targetInfo(target);
    if (targetInfo.exists() &&
        targetInfo.canonicalFilePath() == QFileInfo(Tdm::DatabasePath()).canonicalFilePath()) {
        result.message = QStringLiteral("备份失败：%1\n这是正在使用的数据库文件本身。")
                             .arg(QDir::toNativeSeparators(target));
        return result;
    }
    const QString part = target + QStringLiteral(".part");
    removeWithSideFiles(part);
    const QString error = vacuumInto(Tdm::DatabasePath(), part);
    if (!error.isEmpty() || !SyncPath(part) || !ReplaceFile(part, target)) {
        removeWithSideFiles(part);
        result.message = QStringLiteral("备份失败：%1\n%2").arg(QDir::toNativeSeparators(target), error);
        return result;
    }
    result.ok = true;
    result.file = target;
    return result;
}

TMaintenanceResult RestoreDatabase(const QString& chosenFile)
{
    TMaintenanceResult result;
    const QString database = Tdm::DatabasePath();
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
    RemoveMaintenanceLeftovers();
    if (!QFileInfo(chosenFile).isFile() || !copyFile(chosenFile, incoming))
        return fail(QStringLiteral("不能复制这个文件。"));
    const TDatabaseCheck check = CheckDatabaseFile(incoming, true);
    QFile::remove(incoming + QStringLiteral("-wal"));
    QFile::remove(incoming + QStringLiteral("-shm"));
    if (!check.ok)
        return fail(check.reason);
    if (check.empty)
        return fail(QStringLiteral("这个文件是空的，里面没有数据。"));
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
    const QString path = Tdm::DatabasePath();
    TDatabaseCheck check = CheckDatabaseFile(path, true);
    if (!check.ok || check.empty)
        return check;
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("iccard.integrity.%1").arg(++serial);
    QStringList problems;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            problems << db.lastError().text();
        } else {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA integrity_check")))
                problems << q.lastError().text();
            while (q.next()) {
                const QString line = q.value(0).toString();
                if (line != QLatin1String("ok"))
                    problems << line;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!problems.isEmpty()) {
        check.ok = false;
        check.reason = QStringLiteral("数据库文件已损坏（%1）。").arg(problems.join(QStringLiteral("；")));
    }
    return check;
}
