// Any file offered as a backup to restore, against a real database in a program folder of its
// own. The offer is refused or restored, never a crash. Checks that a refused offer leaves the
// current database's rows as they were (the operation log gains at most the refusal's entry) and
// the database still working, and that a restored one is a
// database the program can use, with the previous one (whole, with its owners) kept in the backup
// folder. After a restore the first database is put back for the next input.

#include "store/AppPath.h"
#include "store/DM.h"
#include "store/DbMaintenance.h"
#include "store/OperationLog.h"
#include "store/Schema.h"
#include "support/OwnerRecords.h"
#include "support/TestDialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_restore: %s\n", what);
        std::abort();
    }
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const char* data, qint64 size)
{
    QFile f(path);
    Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write a file of the program folder");
    Check(f.write(data, size) == size, "cannot write a file of the program folder");
}

// Every row of the community's tables and of the office's own, as text, table by table.
QStringList Rows(const QList<RequiredTable>& tables)
{
    QStringList rows;
    QSqlQuery q(dm->database());
    for (const RequiredTable& table : tables) {
        Check(q.exec(QStringLiteral("select * from %1 order by 1").arg(QLatin1String(table.name))),
              "cannot read the current database");
        while (q.next()) {
            QString row = QLatin1String(table.name);
            for (int c = 0; c < q.record().count(); ++c)
                row += QLatin1Char('|') + q.value(c).toString();
            rows << row;
        }
    }
    return rows;
}

int OwnerCount()
{
    QSqlQuery q(dm->database());
    return q.exec(QStringLiteral("select count(*) from UserInfo")) && q.next() ? q.value(0).toInt() : -1;
}

// The owners of a database file, on a connection of its own.
int OwnerCountIn(const QString& path)
{
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("kept"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select count(*) from UserInfo")) && q.next())
                count = q.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("kept"));
    return count;
}

QTemporaryDir* folder = nullptr;
TestDialogs* shown = nullptr;
QByteArray first;         // the database the program starts every input with
constexpr int Owners = 3; // and its owners

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    folder = new QTemporaryDir;
    if (!folder->isValid())
        return 1;
    SetAppPath(folder->path());
    shown = new TestDialogs;
    dm = new Tdm;
    for (int i = 0; i < Owners; ++i)
        Check(InsertUserInfo(*dm, OwnerRecord(QStringLiteral("业主%1").arg(i), QString::number(1000 + i))),
              "cannot set up the database");
    first = ReadAll(Tdm::DatabasePath());
    Check(!first.isEmpty(), "cannot set up the database");
    // The program folder goes when the run ends (before the application object).
    std::atexit([] {
        delete dm;
        dm = nullptr;
        delete shown;
        delete folder;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    shown->clear();
    const QString offer = AppPath + QStringLiteral("offer.bak");
    WriteAll(offer, reinterpret_cast<const char*>(data), qint64(size));
    const QString database = Tdm::DatabasePath();
    const QStringList before = Rows(RequiredTables());
    const QStringList logBefore = Rows(OfficeTables());

    const MaintenanceResult result = RestoreDatabase(offer);
    Check(!QFile::exists(database + QStringLiteral(".restore")), "the incoming copy was left behind");
    if (!result.ok) {
        Check(FlushOperationLog(), "the refusal's log entry was not written");
        Check(Rows(RequiredTables()) == before, "a refused offer changed the current database");
        const QStringList log = Rows(OfficeTables());
        Check(log.size() <= logBefore.size() + 1 && log.mid(0, logBefore.size()) == logBefore,
              "a refused offer changed the operation log beyond its own entry");
        Check(OwnerCount() == Owners, "the current database no longer works after a refused offer");
        return 0;
    }
    // The restore's entry is in before the file is looked at, and replaced below.
    Check(FlushOperationLog(), "the restore's log entry was not written");
    Check(CheckDatabaseFile(database, true).ok, "the restored database cannot be used");
    Check(OwnerCount() >= 0, "the restored database does not answer");
    Check(CheckDatabaseFile(result.file, true).ok && OwnerCountIn(result.file) == Owners,
          "the copy kept in the backup folder is not the previous database");

    // Back to the first database for the next input.
    Check(dm->CloseConnection(), "cannot close the restored database");
    WriteAll(database, first.constData(), first.size());
    QFile::remove(database + QStringLiteral("-journal"));
    QDir(BackupFolder()).removeRecursively();
    dm->OpenConnection();
    Check(OwnerCount() == Owners, "cannot put the first database back");
    return 0;
}
