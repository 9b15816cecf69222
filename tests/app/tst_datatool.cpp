// The command line iccard-data, run as the real program on a program folder of its own: what it
// writes and reads, what it says on standard error, and its exit status.

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
    QString said; // standard error
};

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
    void commandsOnANewFolder();

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
    QTest::newRow("copy without a target") << QStringList{"copy"} << 2;
    QTest::newRow("--to for a backup") << QStringList{"backup", "--to", "x.db"} << 2;
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
    QCOMPARE(r.said, QStringLiteral("已复制 3 位业主、0 个终端、1 个楼栋单元到 %1\n").arg(file));
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
            .arg(database);
    const QList<QStringList> readers = {{QStringLiteral("check")},
                                        {QStringLiteral("export"), path("out.csv")},
                                        {QStringLiteral("backup")},
                                        {QStringLiteral("copy"), QStringLiteral("--to"), path("copy.db")}};
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
             folder + QLatin1Char('\n') + database + QLatin1Char('\n'));

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

QTEST_GUILESS_MAIN(TestDataTool)
#include "tst_datatool.moc"
