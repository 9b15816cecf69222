// What the store records in the operation log, on both engines: owners added, changed, reported
// lost and found and deleted (with their rows as they stood), buildings and terminals, owner data
// files, backups, restores and the emptying; and that a log that cannot be written stops none of it.

#include "StoreFixture.h"
#include "cards/Gbk.h"
#include "store/DbMaintenance.h"
#include "store/OperationLog.h"
#include "store/OwnerExchange.h"
#include "store/TvexDeviceInfo.h"
#include "store/TvexTerminalInfo.h"
#include "store/TvexUserInfo.h"
#include "support/Files.h"
#include "support/OwnerRecords.h"
#include "support/TestLog.h"

#include <QCoreApplication>

class TestActionLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }
    void ownerChangesAreRecorded();
    void markedDeletionListsTheRows();
    void buildingsAndTerminals();
    void ownerFiles_data();
    void ownerFiles();
    void restoreLeavesTheLogAndComesLast();
    void unwritableLogStopsNoAction();

private:
    QString path(const QString& name) const { return f.folder() + QLatin1Char('/') + name; }
    StoreFixture f;
};

namespace {

using Entry = LoggedEntry;

QList<Entry> entries()
{
    return loggedEntries();
}

QStringList actionsOf(const QList<Entry>& list)
{
    QStringList actions;
    for (const Entry& e : list)
        actions << e.action;
    return actions;
}

const QByteArray Header = StringToGbk(QString::fromUtf8(OwnerFileHeader)) + "\r\n";

QByteArray ownerFile(const QStringList& lines)
{
    QByteArray bytes = Header;
    for (const QString& line : lines)
        bytes += StringToGbk(line) + "\r\n";
    return bytes;
}

} // namespace

void TestActionLog::ownerChangesAreRecorded()
{
    SetLogOperatorLevel(1);
    TuserInfoRec rec =
        OwnerRecord(QStringLiteral("张三"), QStringLiteral("A1"), 3, 1, QStringLiteral("0502"));
    rec.VaildTerminal[0] = 0x64; // terminals 1, 2 and 5
    QVERIFY(AddUserInfo(*dm, rec));
    const int idx = rec.idx;
    QVERIFY(dm->ExecuteSQL(QStringLiteral("update UserInfo set CardID = '0001234567' where idx = :idx"),
                           {{QStringLiteral("idx"), idx}}));
    TuserInfoRec changed = rec;
    changed.UserName = QStringLiteral("李四");
    changed.IsUseExpDate = true;
    changed.chUseExpdate = QStringLiteral("是");
    changed.ExpDate = QDate(2026, 12, 31);
    QVERIFY(UpdateUserInfo(*dm, changed));
    SetLogOperatorLevel(0);
    QVERIFY(TvexUserInfo::MarkLost(idx));
    QVERIFY(TvexUserInfo::UnmarkLost(idx));
    QVERIFY(TvexUserInfo::DeleteRow(idx));
    QCOMPARE(ownerCount(), 0);

    const QList<Entry> log = entries();
    QCOMPARE(actionsOf(log), (QStringList{LogAction::AddOwner, LogAction::ChangeOwner, LogAction::ReportLost,
                                          LogAction::CancelLoss, LogAction::DeleteOwner}));
    for (const Entry& e : log) {
        QCOMPARE(e.outcome, LogSucceeded);
        QCOMPARE(e.ownerIdx, idx);
        QCOMPARE(e.computer, LogComputer());
        QCOMPARE(e.user, LogSystemUser());
    }
    QCOMPARE(log[0].level, 1);
    QCOMPARE(log[0].ownerName, QStringLiteral("张三"));
    QCOMPARE(log[0].details,
             QStringLiteral("卡编号=A1；栋号=3；单元=1；房号=0502；姓名=张三；性别=男；有效期=不限；"
                            "终端=1,2,5"));
    // Only what changed, old → new, in the words of the owner windows.
    QCOMPARE(log[1].details, QStringLiteral("姓名: 张三 → 李四；有效期: 不限 → 2026/12/31"));
    QCOMPARE(log[1].ownerName, QStringLiteral("李四"));
    QCOMPARE(log[1].cardId, QStringLiteral("0001234567"));
    QCOMPARE(log[2].level, 0);
    QCOMPARE(log[2].cardId, QStringLiteral("0001234567"));
    QCOMPARE(log[2].details, QStringLiteral("栋号=3；单元=1；房号=0502"));
    // The deleted row, as it stood, in the entry.
    QVERIFY2(log[4].details.contains(QStringLiteral("姓名=李四")), qPrintable(log[4].details));
    QVERIFY2(log[4].details.contains(QStringLiteral("卡号=0001234567")), qPrintable(log[4].details));
    QVERIFY2(log[4].details.contains(QStringLiteral("有效期=2026/12/31")), qPrintable(log[4].details));
}

void TestActionLog::markedDeletionListsTheRows()
{
    const int kept = insertOwner(OwnerRecord(QStringLiteral("留下"), QStringLiteral("K1")));
    const int a = insertOwner(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    const int b = insertOwner(OwnerRecord(QStringLiteral("乙"), QStringLiteral("B1")));
    QVERIFY(kept > 0 && a > 0 && b > 0);
    QVERIFY(TvexUserInfo::SetSelected(a, 1));
    QVERIFY(TvexUserInfo::SetSelected(b, 1));
    QVERIFY(TvexUserInfo::DeleteSelected());
    QCOMPARE(ownerCount(), 1);

    const QList<Entry> log = entries();
    QCOMPARE(log.size(), 1); // one action, one entry
    QCOMPARE(log[0].action, LogAction::DeleteOwner);
    const QString d = log[0].details;
    QVERIFY2(d.startsWith(QStringLiteral("删除选中的 2 个业主；")), qPrintable(d));
    QVERIFY2(d.contains(QStringLiteral("idx=%1，卡编号=A1").arg(a)), qPrintable(d));
    QVERIFY2(d.contains(QStringLiteral("姓名=乙")), qPrintable(d));
    QVERIFY2(!d.contains(QStringLiteral("留下")), qPrintable(d));
}

void TestActionLog::buildingsAndTerminals()
{
    QVERIFY(
        TvexTerminalInfo::ReplaceBuildUnit(QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("东")));
    QVERIFY(
        TvexTerminalInfo::ReplaceBuildUnit(QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("西")));
    QVERIFY(TvexTerminalInfo::DeleteRow(
        TvexTerminalInfo::FindBuildUnit(QStringLiteral("3"), QStringLiteral("1"))));
    QVERIFY(ReplaceTerminal({0, QStringLiteral("5"), QStringLiteral("北门"), QString()}));
    UpdateTerminal({0, QStringLiteral("5"), QStringLiteral("南门"), QStringLiteral("新")});
    QVERIFY(SetTerminalSelected(FindTerminalIdx(QStringLiteral("5")), 1));
    QVERIFY(DeleteSelectedTerminals());

    const QList<Entry> log = entries();
    QCOMPARE(actionsOf(log),
             (QStringList{LogAction::AddUnit, LogAction::ChangeUnit, LogAction::DeleteUnit,
                          LogAction::AddTerminal, LogAction::ChangeTerminal, LogAction::DeleteTerminal}));
    QCOMPARE(log[0].details, QStringLiteral("栋号=3；单元=1；单元名称=东"));
    QCOMPARE(log[1].details, QStringLiteral("栋号=3，单元=1，单元名称=东 → 栋号=3，单元=1，单元名称=西"));
    QCOMPARE(log[2].details, QStringLiteral("栋号=3，单元=1，单元名称=西"));
    QCOMPARE(log[3].details, QStringLiteral("终端编号=5，终端名称=北门"));
    QCOMPARE(log[4].details,
             QStringLiteral("终端编号=5，终端名称=北门 → 终端编号=5，终端名称=南门，备注=新"));
    QCOMPARE(log[5].details, QStringLiteral("删除选中的 1 个终端；终端编号=5，终端名称=南门，备注=新"));
}

void TestActionLog::ownerFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("counts");
    QTest::newRow("read, one skipped")
        << QStringLiteral("in.csv")
        << ownerFile({QStringLiteral("1,1,0101,_,甲,,否,2026/1/1,男,用户卡,_A1,null.jpg,5|"),
                      QStringLiteral(",1,0102,_,空,,否,2026/1/1,男,用户卡,_B1,null.jpg,"),
                      QStringLiteral("1,1,0103,_,乙,,否,2026/1/1,男,用户卡,_C1,null.jpg,")})
        << LogSucceeded << QStringLiteral("读入 3 行；跳过 1 行；拒绝 0 行");
    QTest::newRow("missing") << QStringLiteral("none.csv") << QByteArray()
                             << QStringLiteral("数据文件不存在,操作终止")
                             << QStringLiteral("读入 0 行；跳过 0 行；拒绝 0 行");
}

void TestActionLog::ownerFiles()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, outcome);
    QFETCH(QString, counts);
    if (!bytes.isEmpty())
        WriteFile(path(file), bytes);
    ImportOwners(path(file));
    const QList<Entry> log = entries();
    QCOMPARE(log.size(), 1); // one entry for the whole file
    QCOMPARE(log[0].action, LogAction::ImportOwners);
    QCOMPARE(log[0].outcome, outcome);
    QCOMPARE(log[0].details, QStringLiteral("文件=%1；%2").arg(QDir::toNativeSeparators(path(file)), counts));

    const ExportFilter unit{false, 1, 1};
    QVERIFY(ExportOwners(path("out.csv"), unit).ok());
    const Entry exported = entries().last();
    QCOMPARE(exported.action, LogAction::ExportOwners);
    QCOMPARE(exported.details, QStringLiteral("文件=%1；栋号=1；单元=1；导出 %2 位业主")
                                   .arg(QDir::toNativeSeparators(path("out.csv")))
                                   .arg(bytes.isEmpty() ? 0 : 2));
}

void TestActionLog::restoreLeavesTheLogAndComesLast()
{
    insertOwner(OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    const MaintenanceResult backup = BackupDatabase();
    QVERIFY2(backup.ok, qPrintable(backup.message));
    const int b = insertOwner(OwnerRecord(QStringLiteral("乙"), QStringLiteral("B1")));
    QVERIFY(TvexUserInfo::DeleteRow(b));
    const QList<Entry> before = entries();
    QCOMPARE(actionsOf(before), (QStringList{LogAction::Backup, LogAction::DeleteOwner}));
    QCOMPARE(before[0].details, QStringLiteral("文件=") + QDir::toNativeSeparators(backup.file));

    // An entry recorded just before the restore is in the log before the restore's own.
    RecordOperation({LogAction::SaveSettings, LogSucceeded, {}, 0, {}, QStringLiteral("之前")});
    const MaintenanceResult restored = RestoreDatabase(backup.file);
    QVERIFY2(restored.ok, qPrintable(restored.message));
    QVERIFY(InitDatabase().ok);
    QVERIFY(!RestoreDatabase(path("none.bak")).ok);

    const QList<Entry> after = entries();
    QCOMPARE(actionsOf(after),
             (QStringList{LogAction::Backup, LogAction::DeleteOwner, LogAction::SaveSettings,
                          LogAction::Restore, LogAction::EmptyDatabase, LogAction::Restore}));
    for (int i = 0; i < before.size(); ++i)
        QCOMPARE(after[i].details, before[i].details);
    QVERIFY2(after[3].details.startsWith(QStringLiteral("文件=") + QDir::toNativeSeparators(backup.file)),
             qPrintable(after[3].details));
    QCOMPARE(after[3].outcome, LogSucceeded);
    QCOMPARE(after[4].outcome, LogSucceeded);
    QVERIFY2(after[5].outcome.startsWith(QStringLiteral("恢复失败")), qPrintable(after[5].outcome));
}

void TestActionLog::unwritableLogStopsNoAction()
{
    // The log's table gone: the owners' changes go on, and the operator is told once.
    QVERIFY(dm->ExecuteSQL(QStringLiteral("drop table OperationLog")));
    TuserInfoRec rec = OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1"));
    QVERIFY(AddUserInfo(*dm, rec));
    QVERIFY(TvexUserInfo::MarkLost(rec.idx));
    QVERIFY(TvexUserInfo::DeleteRow(rec.idx));
    QCOMPARE(ownerCount(), 0);
    QVERIFY(!FlushOperationLog(3000));
    QCoreApplication::processEvents();
    QCOMPARE(f.dialogs.shown.size(), 1);
    QVERIFY(f.dialogs.shown.first().text.startsWith(QStringLiteral("操作日志写不进数据库")));
    StopOperationLog();
}

QTEST_GUILESS_MAIN(TestActionLog)
#include "tst_actionlog.moc"
