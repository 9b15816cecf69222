// The command line iccard-data, run as the real program on a program folder of its own: what it
// writes and reads, what it says on standard error, and its exit status.

#include "office/Passwords.h"
#include "store/OperationLog.h"
#include "store/OwnerExchange.h"
#include "store/OwnerStatements.h"
#include "store/Schema.h"
#include "store/StoreFixture.h"
#include "store/TvexTerminalInfo.h"

#include "cards/Gbk.h"
#include "support/Files.h"
#include "support/OwnerRecords.h"

#include <QProcess>

namespace {

struct ToolRun {
    int status = -1;
    QString said;    // standard error
    QString printed; // standard output
};

// Appends a log entry as the log's writer would (the test's own statement).
void addEntry(const QString& time, const QString& action, const QString& cardId = QString(),
              const QString& owner = QString(), const QString& computer = QStringLiteral("PC1"),
              const QString& details = QStringLiteral("栋号=3,单元=2"))
{
    QSqlQuery q(dm->database());
    q.prepare(QStringLiteral(
        "insert into OperationLog (LogTime, Computer, SystemUser, OperatorLevel, Action, "
        "Outcome, CardID, OwnerName, Details) values (?, ?, 'office', 1, ?, '成功', ?, ?, ?)"));
    q.addBindValue(time);
    q.addBindValue(computer);
    q.addBindValue(action);
    q.addBindValue(cardId.isEmpty() ? QVariant() : QVariant(cardId));
    q.addBindValue(owner.isEmpty() ? QVariant() : QVariant(owner));
    q.addBindValue(details);
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
}

// The log of the database in use as "time|computer|action", in the order it was appended.
QVariantList logEntries()
{
    return column(
        QStringLiteral("select LogTime || '|' || Computer || '|' || Action from OperationLog order by idx"));
}

// The log and the office's passwords of another database.
QVariantList officeRowsIn(const DatabaseTarget& target)
{
    Tdm* const ours = dm;
    dm = new Tdm(target);
    // The copy's own entry aside (each copy records itself in its target).
    QVariantList rows;
    for (const QVariant& entry : logEntries())
        if (!entry.toString().endsWith(QLatin1Char('|') + LogAction::CopyDatabase))
            rows << entry;
    rows << column(
        QStringLiteral("select OperatorLevel || '/' || Iterations || '/' || ChangedAt from OfficePassword"));
    delete dm;
    dm = ours;
    return rows;
}

QVariantList owners()
{
    const QString hex = dm->IsServer() ? QStringLiteral("upper(encode(VaildTerminal, 'hex'))")
                                       : QStringLiteral("hex(VaildTerminal)");
    return column(
        QStringLiteral("select UserName || '/' || CardNo || '/' || DongHao || '/' || DanYuan || '/' || "
                       "FangHao || '/' || %1 from UserInfo order by CardNo")
            .arg(hex));
}

// The owners of another database, and how many terminals and building units it has.
QVariantList ownersIn(const DatabaseTarget& target)
{
    Tdm* const ours = dm;
    dm = new Tdm(target);
    const QVariantList list = owners() << column(QStringLiteral("select idx from UserInfo order by idx"))
                                       << countRows(QStringLiteral("TerminalInfo"))
                                       << countRows(QStringLiteral("BuildInfo"));
    delete dm;
    dm = ours;
    return list;
}

} // namespace

class TestDataTool : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { f.tearDown(); }

    void exportAndImportRoundTrip();
    void importStopsWithTheLineNumber();
    void backupThenRestore();
    void restoreOfAnotherFileIsRefused();
    void restoreWhileAnotherProgramChanges();
    void checkFindsDamage_data();
    void checkFindsDamage();
    void commandsNotUnderstood_data();
    void commandsNotUnderstood();
    void copyIntoAnotherDatabase();
    void copyCarriesTheLog();
    void logListsAndWrites();
    void commandsOnANewFolder();
    void resetPasswords();

private:
    QString path(const QString& name) const { return f.folder() + QLatin1Char('/') + name; }
    // Runs iccard-data on the test's folder; the test's own connection lets go of the database
    // meanwhile, and is opened again afterwards.
    ToolRun run(const QStringList& args);
    // Starts iccard-data on another program folder.
    static void start(QProcess& p, const QString& folder, const QStringList& args);
    static ToolRun finish(QProcess& p);

    StoreFixture f;
};

void TestDataTool::init()
{
    f.setUp();
    TuserInfoRec a = OwnerRecord(QStringLiteral("张三"), QStringLiteral("A1"), 3, 2, QStringLiteral("101"));
    a.VaildTerminal[0] = 0x90;
    QVERIFY(InsertUserInfo(*dm, a));
    QVERIFY(InsertUserInfo(
        *dm, OwnerRecord(QStringLiteral("李四"), QStringLiteral("B2"), 3, 2, QStringLiteral("102"))));
    QVERIFY(InsertUserInfo(
        *dm, OwnerRecord(QStringLiteral("王五"), QStringLiteral("C3"), 1, 1, QStringLiteral("201"))));
}

ToolRun TestDataTool::run(const QStringList& args)
{
    delete dm;
    dm = nullptr;
    QProcess p;
    QStringList common{QStringLiteral("--folder"), f.folder()};
    if (f.onServer())
        common << QStringLiteral("--database") << f.target.Url();
    p.start(QStringLiteral(ICCARD_DATA_TOOL), common + args);
    ToolRun r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.said = QString::fromUtf8(p.readAllStandardError());
    r.printed = QString::fromUtf8(p.readAllStandardOutput());
    dm = f.onServer() ? new Tdm(f.target) : new Tdm;
    return r;
}

void TestDataTool::start(QProcess& p, const QString& folder, const QStringList& args)
{
    p.start(QStringLiteral(ICCARD_DATA_TOOL), QStringList{QStringLiteral("--folder"), folder} + args);
}

ToolRun TestDataTool::finish(QProcess& p)
{
    ToolRun r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.said = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void TestDataTool::exportAndImportRoundTrip()
{
    const QVariantList before = owners();
    ToolRun r = run({QStringLiteral("export"), path("all.csv")});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.said.startsWith(QStringLiteral("操作完成\n")), qPrintable(r.said));
    QVERIFY(ReadFile(path("all.csv")).startsWith(StringToGbk(QString::fromUtf8(OwnerFileHeader)) + "\r\n"));

    // An existing file is replaced only when asked for; a building without its unit is refused.
    r = run({QStringLiteral("export"), path("all.csv")});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.said.contains(QStringLiteral("文件已经存在")), qPrintable(r.said));
    r = run({QStringLiteral("export"), path("unit.csv"), QStringLiteral("--building"), QStringLiteral("3")});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.said, QStringLiteral("栋号，单元号输入错误．操作终止\n"));
    QVERIFY(!QFileInfo::exists(path("unit.csv")));
    r = run({QStringLiteral("export"), path("all.csv"), QStringLiteral("--building"), QStringLiteral("3"),
             QStringLiteral("--unit"), QStringLiteral("2"), QStringLiteral("--force")});
    QCOMPARE(r.status, 0);
    QCOMPARE(ReadFile(path("all.csv")).count("\r\n"), 3); // the header and the unit's two owners

    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo where DongHao = 3")));
    r = run({QStringLiteral("import"), path("all.csv")});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.said.startsWith(QStringLiteral("操作完成\n")), qPrintable(r.said));
    QCOMPARE(owners(), before);
}

void TestDataTool::importStopsWithTheLineNumber()
{
    QByteArray file = StringToGbk(QString::fromUtf8(OwnerFileHeader)) + "\r\n";
    file += StringToGbk(QStringLiteral("5,1,101,_,赵六,,否,2026/1/2,男,用户卡,_D4,null.jpg,\r\n"));
    file += StringToGbk(QStringLiteral("5,1,102,_,钱七,,否,2026/13/2,男,用户卡,_E5,null.jpg,\r\n"));
    WriteFile(path("in.csv"), file);
    const ToolRun r = run({QStringLiteral("import"), path("in.csv")});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.said.startsWith(
                 QStringLiteral("操作错误：文件正在被使用，请关闭文件后再操作\n第 3 行：有效期“2026/13/2”")),
             qPrintable(r.said));
    QCOMPARE(column(QStringLiteral("select UserName from UserInfo where DongHao = 5")),
             QVariantList{QStringLiteral("赵六")});

    const ToolRun missing = run({QStringLiteral("import"), path("none.csv")});
    QCOMPARE(missing.status, 1);
    QVERIFY2(missing.said.startsWith(QStringLiteral("数据文件不存在,操作终止\n")), qPrintable(missing.said));

    // A file without an owner line (the header alone, CR its only line end) is most likely the
    // wrong file: it says so and ends as a stopped run.
    WriteFile(path("header.csv"), StringToGbk(QString::fromUtf8(OwnerFileHeader)) + "\r");
    const ToolRun empty = run({QStringLiteral("import"), path("header.csv")});
    QCOMPARE(empty.status, 1);
    QVERIFY2(empty.said.startsWith(QStringLiteral("文件中没有业主资料")), qPrintable(empty.said));

    // Each run is one entry of the log, written before the tool ended, at the command line's level,
    // with what stopped it.
    const QVariantList logged =
        column(QStringLiteral("select Action || '|' || OperatorLevel || '|' || Outcome || '|' || Details "
                              "from OperationLog order by idx"));
    QCOMPARE(logged.size(), 3);
    const QString level = QStringLiteral("导入业主资料|%1|").arg(LogLevelCommandLine);
    QVERIFY2(logged[0].toString().startsWith(level + QStringLiteral("有效期“2026/13/2”")),
             qPrintable(logged[0].toString()));
    QVERIFY2(logged[0].toString().endsWith(
                 QStringLiteral("|文件=%1；读入 1 行；跳过 0 行；拒绝 0 行；从第 3 行起没有导入")
                     .arg(QDir::toNativeSeparators(path("in.csv")))),
             qPrintable(logged[0].toString()));
    QVERIFY2(logged[1].toString().startsWith(level + QStringLiteral("数据文件不存在,操作终止|")),
             qPrintable(logged[1].toString()));
    QVERIFY2(logged[2].toString().startsWith(level + QStringLiteral("文件中没有业主资料")),
             qPrintable(logged[2].toString()));
}

void TestDataTool::backupThenRestore()
{
    const QVariantList before = owners();
    ToolRun r = run({QStringLiteral("backup")});
    QCOMPARE(r.status, 0);
    QCOMPARE(QDir(path("dbBak")).entryList({QStringLiteral("db_*.bak")}).size(), 1);
    r = run({QStringLiteral("backup"), path("nightly.bak")});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.said.contains(QStringLiteral("备份完成")), qPrintable(r.said));
    QCOMPARE(run({QStringLiteral("backup"), path("nightly.bak")}).status, 1); // no --force

    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo")));
    r = run({QStringLiteral("restore"), path("nightly.bak")});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.said.startsWith(QStringLiteral("恢复完成\n")), qPrintable(r.said));
    QCOMPARE(owners(), before);
}

void TestDataTool::restoreOfAnotherFileIsRefused()
{
    const QVariantList before = owners();
    WriteFile(path("notes.bak"), "栋号,单元号\r\n1,2\r\n");
    const ToolRun r = run({QStringLiteral("restore"), path("notes.bak")});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.said.startsWith(QStringLiteral("恢复失败")), qPrintable(r.said));
    QCOMPARE(owners(), before);
    QCOMPARE(run({QStringLiteral("check")}).status, 0);
}

void TestDataTool::restoreWhileAnotherProgramChanges()
{
    SKIP_ON_SERVER();
    QCOMPARE(run({QStringLiteral("backup"), path("before.bak")}).status, 0);
    const QVariantList before = owners();
    {
        // The office program in the middle of saving an owner.
        QSqlDatabase office = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("office"));
        office.setDatabaseName(Tdm::DatabasePath());
        QVERIFY(office.open());
        QSqlQuery q(office);
        QVERIFY(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QVERIFY(q.exec(QStringLiteral("delete from UserInfo where CardNo = 'C3'")));
        const ToolRun r = run({QStringLiteral("restore"), path("before.bak")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.said.startsWith(QStringLiteral("恢复失败")) &&
                     r.said.contains(QStringLiteral("数据库正被其他程序使用")),
                 qPrintable(r.said));
        QVERIFY(QDir(path("dbBak")).entryList(QDir::Files).isEmpty()); // no copy kept
        QVERIFY(q.exec(QStringLiteral("COMMIT")));
        q.finish();
        office.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("office"));
    QCOMPARE(owners().size(), before.size() - 1);
}

void TestDataTool::checkFindsDamage_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("whole") << "";
    QTest::newRow("cut short") << "cut";
    QTest::newRow("a page overwritten") << "overwrite";
}

void TestDataTool::checkFindsDamage()
{
    QFETCH(QString, damage);
    SKIP_ON_SERVER();
    // Enough owners for pages of their own beyond the first ones.
    QVERIFY(dm->BeginBatch());
    for (int i = 0; i < 400; ++i)
        QVERIFY(
            InsertUserInfo(*dm, OwnerRecord(QStringLiteral("业主%1").arg(i), QStringLiteral("N%1").arg(i))));
    QVERIFY(dm->CommitBatch());
    delete dm;
    dm = nullptr;
    QFile file(Tdm::DatabasePath());
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    if (damage == QLatin1String("cut")) {
        QVERIFY(file.resize(size - 1000));
    } else if (damage == QLatin1String("overwrite")) {
        QVERIFY(file.seek(size / 2 / 4096 * 4096));
        QCOMPARE(file.write(QByteArray(4096, '\x5A')), 4096);
    }
    file.close();

    const ToolRun r = run({QStringLiteral("check")});
    QCOMPARE(r.status, damage.isEmpty() ? 0 : 1);
    QVERIFY2(
        r.said.startsWith(damage.isEmpty() ? QStringLiteral("数据库正常") : QStringLiteral("数据库有问题")),
        qPrintable(r.said));
    if (damage.isEmpty())
        QVERIFY(r.said.contains(QStringLiteral("版本 %1").arg(SchemaVersion)));
}

void TestDataTool::commandsNotUnderstood_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::newRow("no command") << QStringList{} << 2;
    QTest::newRow("unknown command") << QStringList{"merge"} << 2;
    QTest::newRow("import without a file") << QStringList{"import"} << 2;
    QTest::newRow("unknown option") << QStringList{"check", "--quick"} << 2;
    QTest::newRow("--force where nothing is written") << QStringList{"restore", "x.bak", "--force"} << 2;
    QTest::newRow("building for an import") << QStringList{"import", "x.csv", "--building", "1"} << 2;
    QTest::newRow("reset with an argument") << QStringList{"reset-passwords", "1"} << 2;
    QTest::newRow("copy without a target") << QStringList{"copy"} << 2;
    QTest::newRow("--to for a backup") << QStringList{"backup", "--to", "x.db"} << 2;
    QTest::newRow("--card for an export") << QStringList{"export", "x.csv", "--card", "1"} << 2;
    QTest::newRow("a log day that is no date") << QStringList{"log", "--from", "2026-02-30"} << 2;
    QTest::newRow("a log day in another form") << QStringList{"log", "--to", "2026/02/01"} << 2;
    QTest::newRow("--force for the log on the terminal") << QStringList{"log", "--force"} << 2;
    QTest::newRow("a server text libpq cannot read") << QStringList{"--database", "host='x", "check"} << 2;
}

void TestDataTool::commandsNotUnderstood()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    const QVariantList before = owners();
    const ToolRun r = run(args);
    QCOMPARE(r.status, status);
    QVERIFY2(r.said.contains(QStringLiteral("iccard-data --help")), qPrintable(r.said));
    QCOMPARE(owners(), before);
}

void TestDataTool::copyIntoAnotherDatabase()
{
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("三栋二单元"));
    const DatabaseTarget source = f.onServer() ? f.target : DatabaseTarget();
    const QVariantList before = ownersIn(source);
    // On the server: the server into a file, that file into another database of the server.
    const QString file = path("copy.db");
    ToolRun r = run({QStringLiteral("copy"), QStringLiteral("--to"), file});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.said.startsWith(QStringLiteral("已复制 3 位业主、0 个终端、1 个楼栋单元到 %1\n")
                                   .arg(QDir::toNativeSeparators(file))),
             qPrintable(r.said));
    QCOMPARE(ownersIn(ParseDatabaseUrl(file)), before);
    const DatabaseTarget other =
        f.onServer() ? TestServer::Fresh(QStringLiteral("_copy")) : ParseDatabaseUrl(path("other.db"));
    r = run(
        {QStringLiteral("--database"), file, QStringLiteral("copy"), QStringLiteral("--to"), other.Url()});
    QCOMPARE(r.status, 0);
    QCOMPARE(ownersIn(other), before);

    // A database that holds a community is replaced only when asked for.
    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo where CardNo = 'C3'")));
    r = run({QStringLiteral("copy"), QStringLiteral("--to"), other.Url()});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.said.contains(QStringLiteral("已有 3 位业主、0 个终端、1 个楼栋单元，没有复制")),
             qPrintable(r.said));
    QCOMPARE(ownersIn(other), before);
    r = run({QStringLiteral("copy"), QStringLiteral("--to"), other.Url(), QStringLiteral("--force")});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.said.startsWith(QStringLiteral("已复制 2 位业主")), qPrintable(r.said));
    QCOMPARE(ownersIn(other), ownersIn(source));
}

void TestDataTool::copyCarriesTheLog()
{
    addEntry(QStringLiteral("2026-03-01 09:00:00"), LogAction::WriteOwnerCard, QStringLiteral("0000001234"));
    addEntry(QStringLiteral("2026-03-01 09:05:00"), LogAction::DeleteOwner);
    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("insert into OfficePassword (OperatorLevel, Salt, Hash, Iterations, "
                       "ChangedAt) values (1, :s, :h, 120000, '2026-03-01 08:00:00')"),
        {{QStringLiteral("s"), QByteArray("salt\0\xff", 6)}, {QStringLiteral("h"), QByteArray(32, '\x5a')}}));
    const QVariantList source = officeRowsIn(f.onServer() ? f.target : DatabaseTarget());
    QCOMPARE(source.size(), 3);

    const QString file = path("copy.db");
    ToolRun r = run({QStringLiteral("copy"), QStringLiteral("--to"), file});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.said.contains(QStringLiteral("已添加 2 条操作日志，复制 1 个密码")), qPrintable(r.said));
    QCOMPARE(officeRowsIn(ParseDatabaseUrl(file)), source);
    {
        // The copy is recorded in its target, at the command line's level, naming both databases.
        Tdm* const ours = dm;
        dm = new Tdm(ParseDatabaseUrl(file));
        const QVariantList copies = column(
            QStringLiteral("select OperatorLevel || '|' || Outcome || '|' || Details from OperationLog "
                           "where Action = '复制数据库'"));
        delete dm;
        dm = ours;
        QCOMPARE(copies.size(), 1);
        QVERIFY2(copies.first().toString().startsWith(QStringLiteral("-1|成功|来源=")),
                 qPrintable(copies.first().toString()));
    }

    // A target with a log of its own keeps it and gains, after it, the entries it does not have;
    // the ones it has already are not added twice. Its passwords become the source's.
    addEntry(QStringLiteral("2026-03-02 10:00:00"), LogAction::Restore);
    {
        Tdm* const ours = dm;
        dm = new Tdm(ParseDatabaseUrl(file));
        addEntry(QStringLiteral("2026-03-01 18:00:00"), LogAction::Backup, QString(), QString(),
                 QStringLiteral("PC2"));
        QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from OfficePassword")));
        QVERIFY(dm->ExecuteSQL(
            QStringLiteral("insert into OfficePassword (OperatorLevel, Salt, Hash, Iterations, "
                           "ChangedAt) values (2, :s, :s2, 1, '2026-03-01 19:00:00')"),
            {{QStringLiteral("s"), QByteArray(1, '\0')}, {QStringLiteral("s2"), QByteArray(1, '\0')}}));
        delete dm;
        dm = ours;
    }
    r = run({QStringLiteral("copy"), QStringLiteral("--to"), file, QStringLiteral("--force")});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.said.contains(QStringLiteral("已添加 1 条操作日志，复制 1 个密码")), qPrintable(r.said));
    QCOMPARE(officeRowsIn(ParseDatabaseUrl(file)),
             (QVariantList{QStringLiteral("2026-03-01 09:00:00|PC1|写业主卡"),
                           QStringLiteral("2026-03-01 09:05:00|PC1|删除业主"),
                           QStringLiteral("2026-03-01 18:00:00|PC2|备份数据库"),
                           QStringLiteral("2026-03-02 10:00:00|PC1|恢复数据库"),
                           QStringLiteral("1/120000/2026-03-01 08:00:00")}));
}

void TestDataTool::logListsAndWrites()
{
    // A card serial with its top bit set is stored signed; the card issuer shows it unsigned.
    const QString stored = QStringLiteral("-380917942");
    addEntry(QStringLiteral("2026-03-01 23:59:59"), LogAction::WriteOwnerCard, stored,
             QStringLiteral("张三"));
    addEntry(QStringLiteral("2026-03-02 00:00:00"), LogAction::ReportLost, stored, QStringLiteral("张三"));
    addEntry(QStringLiteral("2026-03-02 08:00:00"), LogAction::ImportOwners);
    addEntry(QStringLiteral("2026-03-03 00:00:00"), LogAction::WriteOwnerCard, QStringLiteral("0000001234"),
             QStringLiteral("李四"));

    // Oldest first, a line each, tab-separated fields; --to includes its whole day.
    ToolRun r = run({QStringLiteral("log"), QStringLiteral("--from"), QStringLiteral("2026-03-02"),
                     QStringLiteral("--to"), QStringLiteral("2026-03-02")});
    QCOMPARE(r.status, 0);
    QCOMPARE(
        r.printed,
        QStringLiteral("2026-03-02 00:00:00\tPC1\toffice\t管理员\t挂失\t成功\t-380917942\t张三\t"
                       "栋号=3,单元=2\n"
                       "2026-03-02 08:00:00\tPC1\toffice\t管理员\t导入业主资料\t成功\t\t\t栋号=3,单元=2\n"));
    // A line break or a tab inside a value keeps the entry on its line, its fields apart.
    addEntry(QStringLiteral("2026-03-04 00:00:00"), LogAction::SaveSettings, QString(), QString(),
             QStringLiteral("PC1"), QStringLiteral("扇区=7\r\n小区\t标识"));
    r = run({QStringLiteral("log"), QStringLiteral("--from"), QStringLiteral("2026-03-04")});
    QCOMPARE(
        r.printed,
        QStringLiteral("2026-03-04 00:00:00\tPC1\toffice\t管理员\t保存设置\t成功\t\t\t扇区=7  小区 标识\n"));
    r = run({QStringLiteral("log"), QStringLiteral("--card"), QStringLiteral("3914049354")});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.printed.count(QLatin1Char('\n')), 2);
    QVERIFY(r.printed.startsWith(QStringLiteral("2026-03-01 23:59:59")));

    // The file: GBK, the header first, commas and line breaks within a value made "，" and spaces;
    // kept unless --force.
    const QString csv = path("log.csv");
    r = run({QStringLiteral("log"), QStringLiteral("--csv"), csv, QStringLiteral("--from"),
             QStringLiteral("2026-03-03")});
    QCOMPARE(r.status, 0);
    QVERIFY(r.printed.isEmpty());
    const QByteArray expected = StringToGbk(QStringLiteral(
        "时间,电脑,系统用户,操作员级别,操作,结果,卡号,业主,详情\r\n"
        "2026-03-03 00:00:00,PC1,office,管理员,写业主卡,成功,0000001234,李四,栋号=3，单元=2\r\n"
        "2026-03-04 00:00:00,PC1,office,管理员,保存设置,成功,,,扇区=7  小区\t标识\r\n"));
    QCOMPARE(ReadFile(csv), expected);
    r = run({QStringLiteral("log"), QStringLiteral("--csv"), csv});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.said.contains(QStringLiteral("文件已经存在")), qPrintable(r.said));
    QCOMPARE(ReadFile(csv), expected);
    r = run({QStringLiteral("log"), QStringLiteral("--csv"), csv, QStringLiteral("--force")});
    QCOMPARE(r.status, 0);
    QCOMPARE(ReadFile(csv).count("\r\n"), 6);
}

void TestDataTool::commandsOnANewFolder()
{
    // A program folder the program has never started in (on the file; a server's tables are made
    // by the server connection). The commands that only read or copy make no database and say what
    // to do; two imports started at the same moment each make the folder ready and the owners go in
    // once.
    SKIP_ON_SERVER();
    const QString folder = path("new");
    QVERIFY(QDir().mkpath(folder));
    const QString database = folder + QStringLiteral("/QDR_DB.GRes");
    const QString what =
        QStringLiteral("数据库文件不存在：%1\n先启动 IC卡脱机系统，或用 iccard-data import 导入业主资料。\n")
            .arg(QDir::toNativeSeparators(database));
    const QList<QStringList> readers = {{QStringLiteral("check")},
                                        {QStringLiteral("export"), path("out.csv")},
                                        {QStringLiteral("backup")},
                                        {QStringLiteral("copy"), QStringLiteral("--to"), path("copy.db")},
                                        {QStringLiteral("reset-passwords")}};
    for (const QStringList& args : readers) {
        QProcess p;
        start(p, folder, args);
        const ToolRun r = finish(p);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.said.startsWith(what), qPrintable(args.first() + QLatin1Char(':') + r.said));
        QVERIFY(!QFileInfo::exists(database));
    }
    QVERIFY(!QFileInfo::exists(path("out.csv")));
    QVERIFY(!QFileInfo::exists(path("copy.db")));
    QProcess where;
    start(where, folder, {QStringLiteral("where")});
    QVERIFY(where.waitForFinished(60000));
    QCOMPARE(where.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(where.readAllStandardOutput()),
             QDir::toNativeSeparators(folder) + QLatin1Char('\n') + QDir::toNativeSeparators(database) +
                 QLatin1Char('\n'));

    QByteArray file = StringToGbk(QString::fromUtf8(OwnerFileHeader)) + "\r\n";
    file += StringToGbk(QStringLiteral("5,1,101,_,赵六,,否,2026/1/2,男,用户卡,_D4,null.jpg,1|\r\n"));
    file += StringToGbk(QStringLiteral("5,1,102,_,钱七,,否,2026/1/2,男,用户卡,_E5,null.jpg,\r\n"));
    WriteFile(path("in.csv"), file);
    QProcess first;
    QProcess second;
    start(first, folder, {QStringLiteral("import"), path("in.csv")});
    start(second, folder, {QStringLiteral("import"), path("in.csv")});
    for (QProcess* p : {&first, &second}) {
        const ToolRun r = finish(*p);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.said.contains(QStringLiteral("操作完成\n")), qPrintable(r.said));
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{QStringLiteral("QDR_DB.GRes"), QStringLiteral("SystemInfo.dat"),
                          QStringLiteral("null.jpg")}));
    const QVariantList imported = ownersIn(ParseDatabaseUrl(database));
    QCOMPARE(imported.mid(0, 2),
             (QVariantList{
                 QStringLiteral(
                     "赵六/D4/5/1/101/4000000000000000000000000000000000000000000000000000000000000000"),
                 QStringLiteral(
                     "钱七/E5/5/1/102/0000000000000000000000000000000000000000000000000000000000000000")}));
    QProcess check;
    start(check, folder, {QStringLiteral("check")});
    QCOMPARE(finish(check).status, 0);
}

// A forgotten password: the command puts the written ones back for every level, says them, and is
// recorded at the command line's level.
void TestDataTool::resetPasswords()
{
    QVERIFY(SetPassword(AdministratorLevel, QStringLiteral("own1")));
    QVERIFY(SetPassword(StewardLevel, QStringLiteral("own0")));
    const ToolRun r = run({QStringLiteral("reset-passwords")});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.said.startsWith(
                 QStringLiteral("已恢复程序原来的密码（管理员 470925，维护员 639104，物业管家不用密码）")),
             qPrintable(r.said));
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("470925")));
    QVERIFY(!CheckPassword(AdministratorLevel, QStringLiteral("own1")));
    QVERIFY(CheckPassword(StewardLevel, QString()));
    QCOMPARE(
        column(QStringLiteral("select OperatorLevel || '|' || Action || '|' || Outcome from OperationLog")),
        QVariantList{QStringLiteral("%1|重置密码|成功").arg(LogLevelCommandLine)});
}

QTEST_GUILESS_MAIN(TestDataTool)
#include "tst_datatool.moc"
