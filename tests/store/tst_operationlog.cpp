// The operation log on both engines: entries stamped and appended by the writer, kept through a
// restore and the emptying, refused any change, and never making a database of their own.

#include "StoreFixture.h"
#include "store/DbMaintenance.h"
#include "store/OperationLog.h"
#include "store/OwnConnection.h"

#include <QCoreApplication>
#include <QFile>

class TestOperationLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }
    void entriesAreStampedAndAppended();
    void noProgramChangesAnEntry();
    void restoreAndEmptyingKeepTheLog();
    void unwritableLogWarnsOnceAndKeepsTheEntries();
    void closedServerConnectionIsOpenedAgain();

private:
    StoreFixture f;
};

namespace {

LogEntry entry(const QString& action, const QString& details = QString())
{
    LogEntry e;
    e.action = action;
    e.outcome = LogSucceeded;
    e.details = details;
    return e;
}

QVariantList actions()
{
    return column(QStringLiteral("select Action from OperationLog order by idx"));
}

} // namespace

void TestOperationLog::entriesAreStampedAndAppended()
{
    SetLogOperatorLevel(1);
    LogEntry written = entry(LogAction::WriteOwnerCard, QStringLiteral("终端=1,3; 有效期=2025-03-05"));
    written.cardId = QStringLiteral("3A5F0C21");
    written.ownerIdx = 7;
    written.ownerName = QStringLiteral("张三");
    RecordOperation(written);
    f.clock.advanceSeconds(61);
    SetLogOperatorLevel(2);
    LogEntry failed = entry(LogAction::FormatCards);
    failed.outcome = QStringLiteral("请放卡");
    RecordOperation(failed);
    const bool flushed = FlushOperationLog();
    QCoreApplication::processEvents();
    QVERIFY2(flushed, qPrintable(f.dialogs.texts().join(QLatin1Char('\n'))));
    QCOMPARE(PendingLogEntries(), 0);

    QSqlQuery q(dm->database());
    QVERIFY(
        q.exec(QStringLiteral("select LogTime, Computer, SystemUser, OperatorLevel, Action, Outcome, CardID, "
                              "OwnerIdx, OwnerName, Details from OperationLog order by idx")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("2024-03-05 14:07:09"));
    QCOMPARE(q.value(1).toString(), LogComputer());
    QCOMPARE(q.value(2).toString(), LogSystemUser());
    QCOMPARE(q.value(3).toInt(), 1);
    QCOMPARE(q.value(4).toString(), LogAction::WriteOwnerCard);
    QCOMPARE(q.value(5).toString(), LogSucceeded);
    QCOMPARE(q.value(6).toString(), QStringLiteral("3A5F0C21"));
    QCOMPARE(q.value(7).toInt(), 7);
    QCOMPARE(q.value(8).toString(), QStringLiteral("张三"));
    QCOMPARE(q.value(9).toString(), QStringLiteral("终端=1,3; 有效期=2025-03-05"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("2024-03-05 14:08:10"));
    QCOMPARE(q.value(3).toInt(), 2);
    QCOMPARE(q.value(5).toString(), QStringLiteral("请放卡"));
    QVERIFY(q.value(6).isNull()); // no card, no owner
    QVERIFY(q.value(7).isNull());
    QVERIFY(!q.next());
}

void TestOperationLog::noProgramChangesAnEntry()
{
    RecordOperation(entry(LogAction::Backup));
    QVERIFY(FlushOperationLog());
    QSqlQuery q(dm->database());
    for (const QString& sql : {QStringLiteral("update OperationLog set Outcome = 'x'"),
                               QStringLiteral("delete from OperationLog")}) {
        QVERIFY2(!q.exec(sql), qPrintable(sql));
        QVERIFY2(q.lastError().text().contains(QStringLiteral("操作日志只能添加")),
                 qPrintable(q.lastError().text()));
    }
    if (onServer())
        QVERIFY(!q.exec(QStringLiteral("truncate OperationLog")));
    QCOMPARE(actions(), QVariantList{LogAction::Backup});
}

void TestOperationLog::restoreAndEmptyingKeepTheLog()
{
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into BuildInfo (DongHao, DanYuan) values (1, 1)")));
    RecordOperation(entry(LogAction::AddUnit));
    const QString backup = f.folder() + QStringLiteral("/before.bak");
    QVERIFY(FlushOperationLog());
    QVERIFY(BackupDatabaseTo(backup).ok); // records its own entry
    RecordOperation(entry(LogAction::DeleteOwner));
    QVERIFY(FlushOperationLog());

    QVariantList expected = actions();
    QCOMPARE(expected, (QVariantList{LogAction::AddUnit, LogAction::Backup, LogAction::DeleteOwner}));
    const MaintenanceResult restored = RestoreDatabase(backup);
    QVERIFY2(restored.ok, qPrintable(restored.message));
    QCOMPARE(countRows(QStringLiteral("BuildInfo")), 1);
    QVERIFY(FlushOperationLog());
    expected << LogAction::Restore;
    QCOMPARE(actions(), expected); // a restore brings back owners, not history

    QVERIFY(InitDatabase().ok);
    QCOMPARE(countRows(QStringLiteral("BuildInfo")), 0);
    QVERIFY(FlushOperationLog());
    expected << LogAction::EmptyDatabase;
    QCOMPARE(actions(), expected);

    // The backup holds the log as it stood when it was made.
    OwnConnection own(QStringLiteral("QSQLITE"), "read");
    own.db().setDatabaseName(backup);
    QVERIFY(own.db().open());
    QSqlQuery q(own.db());
    QVERIFY(q.exec(QStringLiteral("select Action from OperationLog")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), LogAction::AddUnit);
    QVERIFY(!q.next());
}

void TestOperationLog::unwritableLogWarnsOnceAndKeepsTheEntries()
{
    DatabaseTarget gone;
    gone.file = f.folder() + QStringLiteral("/nowhere/QDR_DB.GRes");
    RecordOperation(gone, entry(LogAction::ProgramStart));
    QVERIFY(!FlushOperationLog(3000));
    RecordOperation(gone, entry(LogAction::LogIn));
    QVERIFY(!FlushOperationLog(3000));
    QCOMPARE(PendingLogEntries(), 2);
    QCoreApplication::processEvents();
    QCOMPARE(f.dialogs.shown.size(), 1);
    QVERIFY(f.dialogs.shown.first().text.startsWith(QStringLiteral("操作日志写不进数据库")));
    QVERIFY(!QFile::exists(gone.file)); // never made a database of its own
    // Entries for a database that can be written go in after those waiting are given up.
    StopOperationLog();
    QCOMPARE(PendingLogEntries(), 0);
    RecordOperation(entry(LogAction::LogIn));
    QVERIFY(FlushOperationLog());
    QCOMPARE(actions(), QVariantList{LogAction::LogIn});
}

// On a server the writer keeps its connection between entries; one the server has since closed (a
// restart, an administrator ending idle sessions) is opened again, without a warning or a lost entry.
void TestOperationLog::closedServerConnectionIsOpenedAgain()
{
    if (!onServer())
        QSKIP("the file's writer opens a connection for each write");
    PrepareOperationLog(dm->Target());
    RecordOperation(entry(LogAction::ProgramStart));
    QVERIFY(FlushOperationLog());
    QSqlQuery q(dm->database());
    QVERIFY(q.exec(QStringLiteral("select count(pg_terminate_backend(pid)) from pg_stat_activity where "
                                  "datname = current_database() and pid <> pg_backend_pid()")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 1); // the writer's, kept open
    RecordOperation(entry(LogAction::LogIn));
    QVERIFY(FlushOperationLog());
    QCoreApplication::processEvents();
    QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.texts().join(QLatin1Char('\n'))));
    QCOMPARE(actions(), (QVariantList{LogAction::ProgramStart, LogAction::LogIn}));
}

QTEST_GUILESS_MAIN(TestOperationLog)
#include "tst_operationlog.moc"
