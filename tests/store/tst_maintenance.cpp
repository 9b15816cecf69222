#include "StoreFixture.h"
#include "store/DbMaintenance.h"
#include "store/OperationError.h"
#include "store/TvexDeviceInfo.h"
#include "store/TvexTerminalInfo.h"

#include <QFile>

namespace {

void addOwner(const QString& name)
{
    TuserInfoRec r;
    r.UserName = name;
    r.CardNo = name;
    QVERIFY(dm->InsertUserInfo(r));
}

QVariantList ownerNames()
{
    return column(QStringLiteral("select UserName from UserInfo order by idx"));
}

// The owner names in a database file, read on a connection of its own.
QVariantList namesIn(const QString& path)
{
    QVariantList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select UserName from UserInfo order by idx")))
                while (q.next())
                    out << q.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestMaintenance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void backupCopiesTheOpenDatabase();
    void backupFolderThatCannotBeMade();
    void restorePutsTheChosenFileInPlace();
    void restoreRefusesWhatIsNotADatabase_data();
    void restoreRefusesWhatIsNotADatabase();
    void restoreWhileTheFileIsInUse();
    void restoreOverAFileThatIsNotADatabase();
    void emptyingRunsAllThreeDeletes();

private:
    StoreFixture f;
};

void TestMaintenance::backupCopiesTheOpenDatabase()
{
    addOwner(QStringLiteral("甲"));
    addOwner(QStringLiteral("乙"));
    dm->dsTemp.Open(QStringLiteral("select * from UserInfo")); // a reader in the middle of its rows
    QVERIFY(!QDir(BackupFolder()).exists());

    TMaintenanceResult r = BackupDatabase();
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(r.file, f.folder() + QStringLiteral("/dbBak/db_240305_140709.bak"));
    QCOMPARE(BackupFilePath(Now()), r.file);
    QCOMPARE(namesIn(r.file), (QVariantList{QStringLiteral("甲"), QStringLiteral("乙")}));

    // Within the same second: the same name, the newer copy.
    addOwner(QStringLiteral("丙"));
    r = BackupDatabase();
    QVERIFY(r.ok);
    QCOMPARE(namesIn(r.file).size(), 3);
    QCOMPARE(filesIn(BackupFolder()), QStringList{QStringLiteral("db_240305_140709.bak")});
    f.clock.advanceSeconds(1);
    QVERIFY(BackupDatabase().ok);
    QCOMPARE(filesIn(BackupFolder()).size(), 2);
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestMaintenance::backupFolderThatCannotBeMade()
{
    addOwner(QStringLiteral("甲"));
    writeFile(BackupFolder(), "a file where the folder should be");
    const TMaintenanceResult r = BackupDatabase();
    QVERIFY(!r.ok);
    QCOMPARE(r.message, QStringLiteral("Cannot Create ") + f.folder() + QStringLiteral("/dbBak"));
}

void TestMaintenance::restorePutsTheChosenFileInPlace()
{
    addOwner(QStringLiteral("甲"));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("unit"));
    const TMaintenanceResult backup = BackupDatabase();
    QVERIFY(backup.ok);

    addOwner(QStringLiteral("后来"));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from BuildInfo")));
    f.clock.advanceSeconds(60);

    const TMaintenanceResult r = RestoreDatabase(backup.file);
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(ownerNames(), QVariantList{QStringLiteral("甲")});
    QCOMPARE(countRows(QStringLiteral("BuildInfo")), 1);
    // The replaced database is kept in the backup folder.
    QCOMPARE(r.file, f.folder() + QStringLiteral("/dbBak/db_240305_140809_before_restore.bak"));
    QCOMPARE(namesIn(r.file), (QVariantList{QStringLiteral("甲"), QStringLiteral("后来")}));
    // The restored database works, and the chosen file is left as it was.
    addOwner(QStringLiteral("新"));
    QCOMPARE(ownerNames().size(), 2);
    QCOMPARE(namesIn(backup.file), QVariantList{QStringLiteral("甲")});
    QVERIFY(!QFile::exists(Tdm::DatabasePath() + QStringLiteral(".restore")));
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestMaintenance::restoreRefusesWhatIsNotADatabase_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("text file") << "text";
    QTest::newRow("missing file") << "missing";
    QTest::newRow("database of another program") << "other";
    QTest::newRow("damaged backup") << "damaged";
    QTest::newRow("the open database itself") << "itself";
}

void TestMaintenance::restoreRefusesWhatIsNotADatabase()
{
    QFETCH(QString, kind);
    addOwner(QStringLiteral("甲"));
    const QString chosen =
        kind == QLatin1String("itself") ? Tdm::DatabasePath() : f.folder() + QStringLiteral("/chosen.bak");
    if (kind == QLatin1String("text")) {
        writeFile(chosen, "not a database at all\n");
    } else if (kind == QLatin1String("other")) {
        QSqlQuery q(dm->database());
        QVERIFY(q.exec(QStringLiteral("VACUUM INTO '%1'").arg(chosen)));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(chosen);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("drop table TerminalInfo")));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
    } else if (kind == QLatin1String("damaged")) {
        for (int i = 0; i < 200; ++i)
            addOwner(QStringLiteral("owner %1").arg(i));
        const TMaintenanceResult backup = BackupDatabase();
        QVERIFY(backup.ok);
        QFile file(backup.file);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        for (qsizetype i = 4096; i < bytes.size(); ++i)
            bytes[i] = char(0xA5);
        QVERIFY(file.seek(0));
        file.write(bytes);
        file.close();
        QFile::copy(backup.file, chosen);
        QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo where idx > 1")));
    }
    const QStringList backups = filesIn(BackupFolder());

    const TMaintenanceResult r = RestoreDatabase(chosen);
    QVERIFY(!r.ok);
    QVERIFY2(r.message.startsWith(QStringLiteral("恢复失败：") + chosen), qPrintable(r.message));
    // The current data is intact and the program keeps working on it.
    QCOMPARE(ownerNames(), QVariantList{QStringLiteral("甲")});
    addOwner(QStringLiteral("乙"));
    QCOMPARE(ownerNames().size(), 2);
    QCOMPARE(filesIn(BackupFolder()), backups);
    QVERIFY(!QFile::exists(Tdm::DatabasePath() + QStringLiteral(".restore")));
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestMaintenance::restoreWhileTheFileIsInUse()
{
    addOwner(QStringLiteral("甲"));
    const TMaintenanceResult backup = BackupDatabase();
    addOwner(QStringLiteral("乙"));
    {
        // A list of another window still reading.
        QSqlQuery open(dm->database());
        open.setForwardOnly(true);
        QVERIFY(open.exec(QStringLiteral("select * from UserInfo")));
        QVERIFY(open.next());
        const TMaintenanceResult r = RestoreDatabase(backup.file);
        QVERIFY(!r.ok);
        QVERIFY(r.message.contains(QStringLiteral("数据库正在使用中")));
    }
    QCOMPARE(ownerNames().size(), 2);
    QVERIFY(RestoreDatabase(backup.file).ok);
    QCOMPARE(ownerNames().size(), 1);
}

void TestMaintenance::restoreOverAFileThatIsNotADatabase()
{
    addOwner(QStringLiteral("甲"));
    const TMaintenanceResult backup = BackupDatabase();
    QVERIFY(backup.ok);
    delete dm;
    writeFile(Tdm::DatabasePath(), "scribbled over");
    dm = new Tdm;

    TMaintenanceResult r = BackupDatabase(); // nothing to back up: the file is not a database
    QVERIFY(!r.ok);
    QCOMPARE(f.dialogs.shown.size(), 1); // the file was named once, on first use
    QVERIFY(f.dialogs.shown.first().text.contains(Tdm::DatabasePath()));
    QVERIFY(r.message.isEmpty());
    r = BackupDatabase();
    QVERIFY(!r.ok);
    QVERIFY(r.message.contains(Tdm::DatabasePath()));

    f.clock.advanceSeconds(5);
    r = RestoreDatabase(backup.file);
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(ownerNames(), QVariantList{QStringLiteral("甲")});
    QFile kept(r.file); // the file that was replaced is kept as it was
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("scribbled over"));
}

void TestMaintenance::emptyingRunsAllThreeDeletes()
{
    addOwner(QStringLiteral("甲"));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("1"), QString());
    TTerminalRec t;
    t.TerminalID = QStringLiteral("1");
    AddTerminal(t);
    QDir(f.folder()).mkdir(QStringLiteral("pic"));
    writeFile(f.folder() + QStringLiteral("/pic/a.jpg"), "photo");

    TMaintenanceResult r = InitDatabase();
    QVERIFY(r.ok);
    QCOMPARE(countRows(QStringLiteral("UserInfo")) + countRows(QStringLiteral("BuildInfo")) +
                 countRows(QStringLiteral("TerminalInfo")),
             0);
    QVERIFY(QFile::exists(f.folder() + QStringLiteral("/pic/a.jpg")));
    QVERIFY(f.dialogs.shown.isEmpty());

    // A delete that fails reports itself; the others still run and the result says so.
    addOwner(QStringLiteral("乙"));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("1"), QString());
    AddTerminal(t);
    QVERIFY(dm->ExecuteSQL(QStringLiteral(
        "create trigger keep before delete on TerminalInfo begin select raise(abort, 'kept'); end")));
    r = InitDatabase();
    QVERIFY(!r.ok);
    QVERIFY(r.message.isEmpty());
    QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("执行错误：delete from TerminalInfo")});
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 0);
    QCOMPARE(countRows(QStringLiteral("BuildInfo")), 0);
    QCOMPARE(countRows(QStringLiteral("TerminalInfo")), 1);
}

QTEST_GUILESS_MAIN(TestMaintenance)
#include "tst_maintenance.moc"
