#include "StoreFixture.h"
#include "store/DbMaintenance.h"
#include "store/FileSync.h"
#include "store/OperationError.h"
#include "store/OwnerStatements.h"
#include "store/Schema.h"
#include "store/Startup.h"
#include "store/TvexDeviceInfo.h"
#include "store/TvexTerminalInfo.h"
#include "support/Files.h"

#include <QFile>
#include <QRandomGenerator>

namespace {

void addOwner(const QString& name)
{
    TuserInfoRec r;
    r.UserName = name;
    r.CardNo = name;
    QVERIFY(InsertUserInfo(*dm, r));
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

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// Every row of the three tables, one text a row, alike on both engines: yes/no as 1/0, bytes in
// hex, Null as "∅".
QStringList rowsOf(QSqlDatabase db)
{
    QStringList rows;
    QSqlQuery q(db);
    for (const RequiredTable& t : RequiredTables()) {
        if (!q.exec(QStringLiteral("select %1 from %2 order by idx").arg(t.columns.join(u','), t.name)))
            qWarning().noquote() << q.lastError().text();
        while (q.next()) {
            QStringList values{QLatin1String(t.name)};
            for (int c = 0; c < t.columns.size(); ++c) {
                const QVariant v = q.value(c);
                if (v.isNull())
                    values << QStringLiteral("∅");
                else if (v.typeId() == QMetaType::Bool)
                    values << QString::number(int(v.toBool()));
                else if (v.typeId() == QMetaType::QByteArray)
                    values << QString::fromLatin1(v.toByteArray().toHex());
                else
                    values << v.toString();
            }
            rows << values.join(u'|');
        }
    }
    return rows;
}

// The same of a database file, read on a connection of its own; with its key sequences.
QStringList rowsIn(const QString& path)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rows"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            rows = rowsOf(db);
            QSqlQuery q(db);
            // The community's sequences (the operation log's goes on by itself).
            q.exec(QStringLiteral("select name, seq from sqlite_sequence where name <> 'OperationLog' "
                                  "order by name"));
            while (q.next())
                rows << q.value(0).toString() + QLatin1Char('=') + q.value(1).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("rows"));
    return rows;
}

// A backup file as the program writes it, with what a copy between engines could lose: keys with
// gaps, sequences beyond the last key, yes/no values and Nulls, bytes of every value, quotes.
QString writeBackupFile(const QString& path)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("made"));
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot make %s", qPrintable(path));
        ApplySchema(db, 0);
        QByteArray terminals(32, '\0');
        terminals[0] = char(0x90);
        terminals[31] = char(0xFF);
        QByteArray photo;
        for (int i = 0; i < 256; ++i)
            photo += char(i);
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            "insert into UserInfo (idx, UserName, CardNo, CardID, DongHao, DanYuan, FangHao, Expdate, "
            "BlackCard, "
            "IsUseExpDate, selFlag, IsSelect, VaildTerminal, imgPhoto, Remark) values (5, :name, 'a1', "
            "'00AB', 3, 2, '101', '2025-01-02', 1, 0, 1, null, :terminals, :photo, null)"));
        q.bindValue(QStringLiteral(":name"), QStringLiteral("O'Brien \"小\" \\ 张"));
        q.bindValue(QStringLiteral(":terminals"), terminals);
        q.bindValue(QStringLiteral(":photo"), photo);
        if (!q.exec())
            qFatal("%s", qPrintable(q.lastError().text()));
        for (const char* s :
             {"insert into UserInfo (idx, UserName, CardNo) values (9, '李四', 'B2')",
              "insert into TerminalInfo (idx, TerminalID, TerminalName, selFlag) values (7, 12, '门''1', 0)",
              "insert into BuildInfo (idx, DongHao, DanYuan, DanYuanName, selFlag) values (3, 1, 2, "
              "'一单元', 1)",
              "update sqlite_sequence set seq = 40 where name = 'UserInfo'",
              "update sqlite_sequence set seq = 100 where name = 'BuildInfo'"}) {
            if (!q.exec(QString::fromUtf8(s)))
                qFatal("%s: %s", s, qPrintable(q.lastError().text()));
        }
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("made"));
    return path;
}

// Runs statements on a database file through a connection of its own.
void runOn(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("edit"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString& s : statements)
            QVERIFY2(q.exec(s), qPrintable(s + QLatin1Char(' ') + q.lastError().text()));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("edit"));
}

// Changes one byte of the index entry of card number "N1200" in a backup of 400 owners (N1000 to
// N1399): every page stays well formed and in order, so the quick check passes the file, but the
// index no longer finds that owner by its card number.
void changeAnIndexEntry(const QString& path)
{
    QByteArray bytes = ReadFile(path);
    const int pageSize =
        (uchar(bytes[16]) << 8 | uchar(bytes[17])) == 1 ? 65536 : (uchar(bytes[16]) << 8 | uchar(bytes[17]));
    bool changed = false;
    for (qsizetype at = bytes.indexOf("N1200"); at >= 0 && !changed; at = bytes.indexOf("N1200", at + 1)) {
        const qsizetype page = at / pageSize * pageSize;
        const char kind = bytes[page == 0 ? 100 : page];
        if (kind == 0x0A) { // a leaf page of an index
            bytes[at + 4] = '/';
            changed = true;
        }
    }
    QVERIFY(changed);
    WriteFile(path, bytes);
}

int newestIdx(const QString& table)
{
    const QVariantList v = column(QStringLiteral("select max(idx) from ") + table);
    return v.isEmpty() ? -1 : v.first().toInt();
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
    void restoreWhileAnotherProgramChanges();
    void keptCopiesNeverReplaceEachOther();
    void backupOfTheFirstVersionRestores();
    void leftoversOfCutShortRunsAreRemoved();
    void leftoversBesideANamedBackup();
    void restoreOverAFileThatIsNotADatabase();
    void emptyingRunsAllThreeDeletes();
    void backupRoundTripKeepsRowsAndKeys();
    void restoreIntoServerIsAllOrNothing();

private:
    StoreFixture f;
};

void TestMaintenance::backupCopiesTheOpenDatabase()
{
    addOwner(QStringLiteral("甲"));
    addOwner(QStringLiteral("乙"));
    DataSet reader(*dm, QStringLiteral("reader"));
    reader.Open(QStringLiteral("select * from UserInfo")); // a reader in the middle of its rows
    QVERIFY(!QDir(BackupFolder()).exists());

    MaintenanceResult r = BackupDatabase();
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
    WriteFile(BackupFolder(), "a file where the folder should be");
    const MaintenanceResult r = BackupDatabase();
    QVERIFY(!r.ok);
    QCOMPARE(r.message, QStringLiteral("Cannot Create ") +
                            QDir::toNativeSeparators(f.folder() + QStringLiteral("/dbBak")));
}

void TestMaintenance::restorePutsTheChosenFileInPlace()
{
    addOwner(QStringLiteral("甲"));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("unit"));
    const MaintenanceResult backup = BackupDatabase();
    QVERIFY(backup.ok);

    addOwner(QStringLiteral("后来"));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from BuildInfo")));
    f.clock.advanceSeconds(60);

    const MaintenanceResult r = RestoreDatabase(backup.file);
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
    QTest::addColumn<int>("cut"); // bytes cut from the end of a good backup
    QTest::addColumn<QString>("reason");
    QTest::newRow("text file") << "text" << 0 << "不是 SQLite 数据库";
    QTest::newRow("empty file") << "empty" << 0 << "这个文件是空的";
    QTest::newRow("missing file") << "missing" << 0 << "不能复制这个文件";
    QTest::newRow("database of another program") << "other" << 0 << "其他程序的数据库";
    QTest::newRow("damaged backup") << "damaged" << 0 << "已损坏或不完整";
    QTest::newRow("cut short by 1 byte") << "cut" << 1 << "已损坏或不完整";
    QTest::newRow("cut short by 250 bytes") << "cut" << 250 << "已损坏或不完整";
    QTest::newRow("cut short by 500 bytes") << "cut" << 500 << "已损坏或不完整";
    QTest::newRow("the open database itself") << "itself" << 0 << "正在使用的数据库文件本身";
    QTest::newRow("an index entry changed") << "index" << 0 << "UserInfo_CardNo";
    QTest::newRow("a negative version") << "negative" << 0 << "不是本系统的数据库（数据库版本 -1）";
}

void TestMaintenance::restoreRefusesWhatIsNotADatabase()
{
    QFETCH(QString, kind);
    QFETCH(int, cut);
    QFETCH(QString, reason);
    addOwner(QStringLiteral("甲"));
    if (kind == QLatin1String("itself") && f.onServer())
        QSKIP("a server has no file in use");
    const QString chosen =
        kind == QLatin1String("itself") ? Tdm::DatabasePath() : f.folder() + QStringLiteral("/chosen.bak");
    if (kind == QLatin1String("text")) {
        WriteFile(chosen, "not a database at all\n");
    } else if (kind == QLatin1String("empty")) {
        WriteFile(chosen, QByteArray());
    } else if (kind == QLatin1String("cut")) {
        // A copy whose last bytes did not arrive (a worn stick, a copy pulled out too early): the
        // engine's own checks pass it, and it would zero the end of an owner's photo.
        QByteArray photo(9000, '\0');
        for (char& c : photo)
            c = char(QRandomGenerator::global()->bounded(256));
        QVERIFY(dm->ExecuteSQL(QStringLiteral("update UserInfo set imgPhoto = :photo"),
                               {{QStringLiteral("photo"), photo}}));
        const MaintenanceResult backup = BackupDatabase();
        QVERIFY(backup.ok);
        QFile file(backup.file);
        QVERIFY(file.open(QIODevice::ReadOnly));
        WriteFile(chosen, file.readAll().chopped(cut));
    } else if (kind == QLatin1String("other")) {
        QVERIFY(BackupDatabaseTo(chosen).ok);
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
        const MaintenanceResult backup = BackupDatabase();
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
    } else if (kind == QLatin1String("index")) {
        QVERIFY(dm->BeginBatch());
        for (int i = 0; i < 400; ++i) {
            TuserInfoRec r;
            r.UserName = QStringLiteral("业主%1").arg(i);
            r.CardNo = QStringLiteral("N%1").arg(1000 + i);
            QVERIFY(InsertUserInfo(*dm, r));
        }
        QVERIFY(dm->CommitBatch());
        QVERIFY(BackupDatabaseTo(chosen).ok);
        QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo where idx > 1")));
        changeAnIndexEntry(chosen);
    } else if (kind == QLatin1String("negative")) {
        QVERIFY(BackupDatabaseTo(chosen).ok);
        runOn(chosen, {QStringLiteral("PRAGMA user_version = -1")});
    }
    const QStringList backups = filesIn(BackupFolder());

    const MaintenanceResult r = RestoreDatabase(chosen);
    QVERIFY(!r.ok);
    QVERIFY2(r.message.startsWith(QStringLiteral("恢复失败：") + QDir::toNativeSeparators(chosen)),
             qPrintable(r.message));
    QVERIFY2(r.message.contains(reason), qPrintable(r.message));
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
    const MaintenanceResult backup = BackupDatabase();
    addOwner(QStringLiteral("乙"));

    // Not in the middle of a change.
    QVERIFY(dm->BeginBatch());
    addOwner(QStringLiteral("丙"));
    MaintenanceResult r = RestoreDatabase(backup.file);
    QVERIFY(!r.ok);
    QVERIFY(r.message.contains(QStringLiteral("数据库正在使用中")));
    QVERIFY(dm->CommitBatch());
    QCOMPARE(ownerNames().size(), 3);

    if (f.onServer())
        return; // no file for a reader to hold
    // A reader left open on the old file is ended.
    QSqlQuery open(dm->database());
    open.setForwardOnly(true);
    QVERIFY(open.exec(QStringLiteral("select * from UserInfo")));
    QVERIFY(open.next());
    r = RestoreDatabase(backup.file);
    QVERIFY2(r.ok, qPrintable(r.message));
    QVERIFY(!open.next());
    QCOMPARE(ownerNames(), QVariantList{QStringLiteral("甲")});
}

void TestMaintenance::restoreWhileAnotherProgramChanges()
{
    SKIP_ON_SERVER();
    addOwner(QStringLiteral("甲"));
    const MaintenanceResult backup = BackupDatabase();
    QVERIFY(backup.ok);
    addOwner(QStringLiteral("乙"));
    {
        // Another program on the file, in the middle of a change (an import between the start of a
        // commit and its end).
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(Tdm::DatabasePath());
        QVERIFY(other.open());
        QSqlQuery q(other);
        QVERIFY(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QVERIFY(q.exec(QStringLiteral("insert into UserInfo (UserName, CardNo) values ('丁', '丁')")));

        const MaintenanceResult r = RestoreDatabase(backup.file);
        QVERIFY(!r.ok);
        QVERIFY2(r.message.startsWith(QStringLiteral("恢复失败：") + QDir::toNativeSeparators(backup.file)),
                 qPrintable(r.message));
        QVERIFY2(r.message.contains(QStringLiteral("数据库正被其他程序使用")), qPrintable(r.message));
        QCOMPARE(filesIn(BackupFolder()), QStringList{QFileInfo(backup.file).fileName()});
        // The other program's change goes through, into the database the program goes on with.
        QVERIFY2(q.exec(QStringLiteral("COMMIT")), qPrintable(q.lastError().text()));
        q.finish();
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    QCOMPARE(ownerNames(), (QVariantList{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丁")}));

    // Once it is done, the restore goes through, and the copy it keeps holds that change.
    const MaintenanceResult r = RestoreDatabase(backup.file);
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(ownerNames(), QVariantList{QStringLiteral("甲")});
    QCOMPARE(namesIn(r.file),
             (QVariantList{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丁")}));
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestMaintenance::keptCopiesNeverReplaceEachOther()
{
    addOwner(QStringLiteral("甲"));
    const MaintenanceResult backup = BackupDatabase();
    QVERIFY(backup.ok);
    addOwner(QStringLiteral("乙"));
    // A file under the name the first kept copy would have, put there by someone else.
    const QString byHand = BackupFolder() + QStringLiteral("/db_240305_140709_before_restore.bak");
    WriteFile(byHand, "kept by hand");

    // Two restores within the same second, each replacing a database of its own.
    const MaintenanceResult first = RestoreDatabase(backup.file);
    QVERIFY2(first.ok, qPrintable(first.message));
    addOwner(QStringLiteral("丙"));
    const MaintenanceResult second = RestoreDatabase(backup.file);
    QVERIFY2(second.ok, qPrintable(second.message));

    QCOMPARE(ReadFile(byHand), QByteArray("kept by hand"));
    QVERIFY(first.file != byHand && second.file != byHand && first.file != second.file);
    QVERIFY2(QFileInfo(first.file).fileName().startsWith(QStringLiteral("db_240305_140709_before_restore")),
             qPrintable(first.file));
    QCOMPARE(namesIn(first.file), (QVariantList{QStringLiteral("甲"), QStringLiteral("乙")}));
    QCOMPARE(namesIn(second.file), (QVariantList{QStringLiteral("甲"), QStringLiteral("丙")}));
    QCOMPARE(filesIn(BackupFolder()).size(), 4);
    QCOMPARE(ownerNames(), QVariantList{QStringLiteral("甲")});
}

void TestMaintenance::backupOfTheFirstVersionRestores()
{
    addOwner(QStringLiteral("现在"));
    const QString chosen = f.folder() + QStringLiteral("/v1.bak");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
        db.setDatabaseName(chosen);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QStringList statements = SchemaStatements(1);
        statements << QStringLiteral("PRAGMA user_version = 1")
                   << QStringLiteral("insert into UserInfo (UserName, CardNo, Expdate) values ('旧', 'x9', "
                                     "'2025-01-01')");
        for (const QString& s : statements)
            QVERIFY2(q.exec(s), qPrintable(q.lastError().text()));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));

    const MaintenanceResult r = RestoreDatabase(chosen);
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(ownerNames(), QVariantList{QStringLiteral("旧")});
    QCOMPARE(column(f.onServer() ? QStringLiteral("select version from SchemaInfo")
                                 : QStringLiteral("PRAGMA user_version")),
             QVariantList{SchemaVersion});
    QCOMPARE(CheckDatabaseFile(chosen, false).version, 1); // brought up to date on a copy only
    QVERIFY(CardNoExists(*dm, QStringLiteral("X9")));
}

void TestMaintenance::leftoversOfCutShortRunsAreRemoved()
{
    addOwner(QStringLiteral("甲"));
    QVERIFY(BackupDatabase().ok);
    const QStringList kept = filesIn(BackupFolder());
    const QString part = BackupFolder() + QStringLiteral("/db_240305_140800.bak.part");
    const QStringList litter = {part, part + QStringLiteral("-journal"),
                                Tdm::DatabasePath() + QStringLiteral(".restore"),
                                Tdm::DatabasePath() + QStringLiteral(".previous")};

    // At the next start.
    delete dm;
    for (const QString& file : litter)
        WriteFile(file, "left by a killed run");
    dm = f.onServer() ? StartDataModule(f.target) : StartDataModule();
    for (const QString& file : litter)
        QVERIFY2(!QFile::exists(file), qPrintable(file));
    QCOMPARE(filesIn(BackupFolder()), kept);

    // At the next run of the same action.
    WriteFile(part, "left by a killed run");
    f.clock.advanceSeconds(1);
    QVERIFY(BackupDatabase().ok);
    QVERIFY(!QFile::exists(part));
    QCOMPARE(filesIn(BackupFolder()).size(), 2);
    QCOMPARE(ownerNames(), QVariantList{QStringLiteral("甲")});
}

void TestMaintenance::leftoversBesideANamedBackup()
{
    addOwner(QStringLiteral("甲"));
    // Nightly backups to names of their own in a folder of their own; the one of the night before
    // was killed, and left its part file and the part file's journal.
    const QString nightly = f.folder() + QStringLiteral("/nightly");
    QVERIFY(QDir().mkpath(nightly));
    const QString killed = nightly + QStringLiteral("/qdr-20240304.bak.part");
    QVERIFY(BackupDatabaseTo(killed + QStringLiteral(".whole")).ok);
    QByteArray half = ReadFile(killed + QStringLiteral(".whole"));
    half.truncate(half.size() / 2);
    WriteFile(killed, half);
    QVERIFY(QFile::remove(killed + QStringLiteral(".whole")));
    WriteFile(killed + QStringLiteral("-journal"),
              QByteArray::fromHex("d9d505f920a163d7") + QByteArray(504, '\0'));
    // A journal whose part file is gone already, and what is not a part file of this program.
    WriteFile(nightly + QStringLiteral("/qdr-20240303.bak.part-journal"), QByteArray(512, '\0'));
    WriteFile(nightly + QStringLiteral("/notes.txt.part"), "a download, not a backup");

    // A part file another backup is writing at this moment.
    PartFile writing(nightly + QStringLiteral("/other.bak"), QStringLiteral(".part"));
    QVERIFY(writing.ok());

    const QString tonight = nightly + QStringLiteral("/qdr-20240305.bak");
    const MaintenanceResult r = BackupDatabaseTo(tonight);
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(filesIn(nightly),
             (QStringList{QStringLiteral("notes.txt.part"), QStringLiteral("other.bak.part"),
                          QStringLiteral("qdr-20240305.bak")}));
    QCOMPARE(namesIn(tonight), QVariantList{QStringLiteral("甲")});

    // Once that other backup has ended without finishing (killed), its part file goes at the next run.
    writing.Release();
    QVERIFY(BackupDatabaseTo(tonight).ok);
    QCOMPARE(filesIn(nightly),
             (QStringList{QStringLiteral("notes.txt.part"), QStringLiteral("qdr-20240305.bak")}));
}

void TestMaintenance::restoreOverAFileThatIsNotADatabase()
{
    SKIP_ON_SERVER();
    addOwner(QStringLiteral("甲"));
    const MaintenanceResult backup = BackupDatabase();
    QVERIFY(backup.ok);
    delete dm;
    WriteFile(Tdm::DatabasePath(), "scribbled over");
    dm = StartDataModule();

    MaintenanceResult r = BackupDatabase(); // nothing to back up: the file is not a database
    QVERIFY(!r.ok);
    QCOMPARE(f.dialogs.shown.size(), 1); // the file was named once, on first use
    QVERIFY(f.dialogs.shown.first().text.contains(QDir::toNativeSeparators(Tdm::DatabasePath())));
    QVERIFY(r.message.isEmpty());
    r = BackupDatabase();
    QVERIFY(!r.ok);
    QVERIFY(r.message.contains(QDir::toNativeSeparators(Tdm::DatabasePath())));

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
    WriteFile(f.folder() + QStringLiteral("/pic/a.jpg"), "photo");

    MaintenanceResult r = InitDatabase();
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
    if (f.onServer())
        TestServer::run(f.target,
                        {QStringLiteral("create function keep() returns trigger language plpgsql as "
                                        "'begin raise exception ''kept''; end'"),
                         QStringLiteral("create trigger keep before delete on TerminalInfo for each "
                                        "statement execute function keep()")});
    else
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

void TestMaintenance::backupRoundTripKeepsRowsAndKeys()
{
    addOwner(QStringLiteral("replaced"));
    const QString chosen = writeBackupFile(f.folder() + QStringLiteral("/made.bak"));
    const QStringList made = rowsIn(chosen);
    QCOMPARE(made.size(), 4 + 3); // the rows and the three sequences

    MaintenanceResult r = RestoreDatabase(chosen);
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(rowsOf(dm->database()), made.mid(0, 4));
    QVERIFY(CardNoExists(*dm, QStringLiteral("A1")));

    // Back into a file: the same rows and sequences.
    f.clock.advanceSeconds(1);
    r = BackupDatabase();
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(rowsIn(r.file), made);

    // New keys go on above every key the file gave, also after the same file is restored again.
    addOwner(QStringLiteral("新"));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("8"), QStringLiteral("8"), QString());
    QCOMPARE(newestIdx(QStringLiteral("UserInfo")), 41);
    QCOMPARE(newestIdx(QStringLiteral("BuildInfo")), 101);
    if (f.onServer()) {
        QVERIFY(RestoreDatabase(r.file).ok);
        addOwner(QStringLiteral("再"));
        QCOMPARE(newestIdx(QStringLiteral("UserInfo")), 42);
    }
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestMaintenance::restoreIntoServerIsAllOrNothing()
{
    if (!f.onServer())
        QSKIP("about the server's transaction");
    // Statements prepared for the load are let go only after the rollback.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("Unable to free statement")));
    addOwner(QStringLiteral("甲"));
    addOwner(QStringLiteral("乙"));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("1"), QString());
    const QStringList before = rowsOf(dm->database());
    const QString chosen = writeBackupFile(f.folder() + QStringLiteral("/made.bak"));
    // The server refuses the file's second owner, after the deletes and the first owner.
    TestServer::run(f.target, {QStringLiteral("create function refuse() returns trigger language plpgsql as "
                                              "'begin if new.UserName = ''李四'' then raise exception ''no "
                                              "room''; end if; return new; end'"),
                               QStringLiteral("create trigger refuse before insert on UserInfo for each row "
                                              "execute function refuse()")});

    const MaintenanceResult r = RestoreDatabase(chosen);
    QVERIFY(!r.ok);
    QVERIFY2(r.message.startsWith(QStringLiteral("恢复失败：") + QDir::toNativeSeparators(chosen)),
             qPrintable(r.message));
    QVERIFY2(r.message.contains(QStringLiteral("no room")), qPrintable(r.message));
    QCOMPARE(rowsOf(dm->database()), before);
    addOwner(QStringLiteral("丙")); // the key sequence is where it was
    QCOMPARE(newestIdx(QStringLiteral("UserInfo")), 3);
    QVERIFY(!QFile::exists(Tdm::DatabasePath() + QStringLiteral(".restore")));
}

QTEST_GUILESS_MAIN(TestMaintenance)
#include "tst_maintenance.moc"
