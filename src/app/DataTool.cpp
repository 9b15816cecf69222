// iccard-data: the owner data files and the database maintenance of the office program, from the
// command line (for scripts and a nightly backup by cron). It runs the same store code as the
// windows, with the same files, rules and texts; messages go to standard error in Chinese, and it
// never asks: a question gets the answer No, and what a window would ask is given as an option.
// Main thread only.

#include "office/Lists.h"
#include "office/LogFile.h"
#include "office/Passwords.h"
#include "store/AppPath.h"
#include "store/DM.h"
#include "store/DbMaintenance.h"
#include "store/Dialogs.h"
#include "store/OfficeCopy.h"
#include "store/OperationError.h"
#include "store/OperationLog.h"
#include "store/OwnerExchange.h"
#include "store/Schema.h"
#include "store/Startup.h"
#include "store/System.h"
#include "store/engine/Engine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>

namespace {

// Exit statuses.
constexpr int Done = 0;
constexpr int Stopped = 1;     // the run stopped or failed; why is on standard error
constexpr int Usage = 2;       // a command or option that is not understood
constexpr int SomeRefused = 3; // an import went through, but the database refused some lines

void say(const QString& text)
{
    Os::WriteText(stderr, text + QLatin1Char('\n'));
}

// Every message of the store goes to standard error; a question is answered No (the command line
// never waits for anyone), and no file dialog is ever opened.
class ConsoleDialogs final : public Dialogs {
public:
    MsgAnswer message(MsgIcon, MsgButtons buttons, const QString& text) override
    {
        say(text);
        switch (buttons) {
        case MsgButtons::Ok:
            return MsgAnswer::Ok;
        case MsgButtons::Abort:
            return MsgAnswer::Abort;
        case MsgButtons::YesNo:
            break;
        }
        return MsgAnswer::No;
    }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
};

const char* const HelpText = R"(用法：iccard-data [--folder 目录] [--database 数据库] 命令 [参数]

命令：
  export 文件 [--building 栋号 --unit 单元号] [--force]
      把业主资料导出到对帐文件（GBK 编码，逗号分隔，与“导出业主资料”相同）。
      不给栋号和单元号时导出全部业主（包括已挂失的）；两者要么都给，要么都不给。
      文件已经存在时，只有加 --force 才覆盖。
  import 文件
      从对帐文件导入业主资料（与“导入业主资料”相同）：每一行替换同一栋、同一单元
      中卡编号相同的业主。遇到不能读取的行，或者数据库不能写入（只读、磁盘已满、
      正被其他程序使用）时就停止，报告已导入的行数和从哪一行起没有导入。
      程序目录中还没有数据库文件时，先新建数据库（与 IC卡脱机系统第一次启动相同）。
  backup [文件] [--force]
      备份数据库。不给文件时备份到程序目录的 dbBak/db_yymmdd_hhmmss.bak；
      给出的文件已经存在时，只有加 --force 才覆盖。备份先写到同目录的“文件.part”，
      写完才换上；以前被中断的备份留在这个目录中的 .part 文件会被清除。
  restore 文件
      用备份文件恢复数据库。先完整检查这个文件：不是本系统的数据库或检查不通过的，
      拒绝恢复，当前数据库不变。被替换的数据库另存一份在 dbBak 中，不覆盖已有的
      文件。其他程序正在修改数据库时（例如正在导入），恢复被拒绝，当前数据库不变；
      只是打开着数据库的 IC卡脱机系统不影响恢复，之后看到的是恢复后的数据。
  check
      检查数据库文件的完整性和版本。
      数据库服务器上的数据库：检查它的数据表和版本。
  where
      在标准输出上显示程序目录和数据库文件（两行）。
      使用数据库服务器时，第二行是服务器和数据库名。
  copy --to 数据库 [--force]
      把正在使用的数据库中的全部数据（业主、终端、楼栋单元，连同编号）复制到另一个
      数据库（数据库服务器，或 SQLite 数据库文件），例如把程序目录的数据库文件搬到
      数据库服务器上。目标数据库中已有数据时，只有加 --force 才替换。
      操作日志和密码也一起复制：目标数据库原有的操作日志保留（日志只能添加，
      加 --force 替换目标数据库中的数据时也一样），接着按原来的顺序添加正在使用
      的数据库中目标还没有的日志；目标数据库的管理员、维护员和物业管家密码换成
      正在使用的数据库的密码。
  log [--from 日期] [--to 日期] [--card 卡号] [--csv 文件] [--force]
      在标准输出上列出操作日志，一行一条，按时间从早到晚（最新的在最后），各项
      用制表符分隔：时间、电脑、系统用户、操作员级别、操作、结果、卡号、业主、详情。
      日期写作 yyyy-MM-dd，--to 那一天也包括在内；卡号可以按数据库中的写法，也可以
      按发卡器显示的数字。给出 --csv 时不列出，而是写到文件（GBK 编码，逗号分隔，
      与“操作日志”窗口的导出相同），文件已经存在时，只有加 --force 才覆盖。
  reset-passwords
      忘记了操作员密码时用：删除本单位在数据库维护窗口中设置的全部操作员密码，
      管理员和维护员恢复程序原来的密码，物业管家恢复为不用密码。在存放程序目录的
      电脑上运行；使用数据库服务器时，所有电脑的密码一起恢复。这一操作记入操作日志。

选项：
  --folder 目录                  程序目录（数据库 QDR_DB.GRes 所在的目录），
                                 这个目录必须已经存在
  --database 数据库              使用这个数据库，而不是程序目录的数据库文件或
                                 database.ini 中的数据库服务器：
                                 postgresql://用户@主机:端口/数据库名、
                                 libpq 的 key=value 写法，或 SQLite 数据库文件
  --to 数据库                    copy：目标数据库，写法同 --database
                                 log：只列出这一天和以前的日志
  --from 日期                    log：只列出这一天和以后的日志
  --card 卡号                    log：只列出这张卡的日志
  --csv 文件                     log：写到文件，不列出
  --building 栋号 --unit 单元号  export：只导出这一栋的这一个单元
  --force                        允许覆盖已经存在的文件（export、backup、log --csv），
                                 或替换目标数据库中已有的数据（copy）
  --version                      显示版本
  --help                         显示本说明

程序目录与 IC卡脱机系统（iccard）的相同，按这个顺序：--folder 给出的目录；
环境变量 ICCARD_FOLDER 给出的目录；本程序所在的目录，如果其中有 SystemInfo.dat；
否则当前用户的数据目录 %1。目录中缺少 SystemInfo.dat 或 null.jpg 时放入
安装的文件，已有的文件不会被替换。还没有数据库文件时，import 和 restore 新建
数据库；export、backup、check、copy、log 和 reset-passwords 不新建，并说明怎么办。

消息写到标准错误输出；标准错误是终端时显示进度。本程序从不提问。
退出码：0 完成；1 操作停止或失败（原因和行号见消息），或导入的文件中没有业主资料；
        2 命令或参数错误；
        3 导入完成，但数据库拒绝了其中的一些行（每一行都已报告）。)";

int usage(const QString& why)
{
    say(why);
    say(QStringLiteral("iccard-data --help 列出全部命令。"));
    return Usage;
}

// The progress of a run on the terminal, when standard error is one.
ExchangeProgress terminalProgress(const QString& what)
{
    if (!Os::StandardErrorIsTerminal())
        return {};
    return [what](int done, int total) {
        Os::WriteText(stderr, QStringLiteral("\r%1 %2/%3%4")
                                  .arg(what)
                                  .arg(done)
                                  .arg(total)
                                  .arg(done >= total ? QStringLiteral("\n") : QString()));
    };
}

// Whether the database file is there (a server makes its tables itself).
bool databaseFileThere(const DatabaseTarget& database)
{
    const QString file = EngineFor(database).DatabaseFile(database);
    return file.isEmpty() || QFileInfo(file).isFile();
}

QString databaseMissingText(const DatabaseTarget& database)
{
    return QStringLiteral("数据库文件不存在：%1\n先启动 IC卡脱机系统，或用 iccard-data import 导入业主资料。")
        .arg(QDir::toNativeSeparators(database.FilePath()));
}

// The commands that only read or copy the database need one: a folder without it is most likely
// the wrong folder, and an empty database made there would help no one. (The commands that write,
// import and restore, make it as the program does.)
bool databaseThere()
{
    if (databaseFileThere(dm->Target()))
        return true;
    say(databaseMissingText(dm->Target()));
    return false;
}

bool mayWrite(const QString& file, bool force)
{
    if (!QFileInfo::exists(file) || force)
        return true;
    say(QStringLiteral("文件已经存在：%1（要覆盖，请加 --force）").arg(QDir::toNativeSeparators(file)));
    return false;
}

int exportOwners(const QString& file, const QString& building, const QString& unit, bool force)
{
    // The command line gives everyone by giving no building and no unit: nothing to ask.
    const std::optional<ExportFilter> filter = ChooseExport(building, unit, false);
    if (!filter)
        return Stopped;
    if (!databaseThere() || !mayWrite(file, force))
        return Stopped;
    const ExchangeResult r = ExportOwners(file, *filter, terminalProgress(QStringLiteral("正在导出...")));
    ShowExchangeResult(r);
    if (!r.ok())
        return Stopped;
    say(QStringLiteral("已导出 %1 位业主：%2").arg(r.done).arg(QDir::toNativeSeparators(file)));
    return Done;
}

int importOwners(const QString& file)
{
    // A new program folder gets its database as the program's first start makes it.
    if (!databaseFileThere(dm->Target()) && QFileInfo(file).isFile())
        say(QStringLiteral("数据库文件不存在，新建：%1")
                .arg(QDir::toNativeSeparators(dm->Target().FilePath())));
    const ExchangeResult r = ImportOwners(file, terminalProgress(QStringLiteral("正在导入...")));
    ShowExchangeResult(r);
    if (!r.ok())
        return Stopped; // the message says how far it went
    say(QStringLiteral("已读取 %1 行（其中跳过 %2 行，数据库拒绝 %3 行）")
            .arg(r.done)
            .arg(r.skipped)
            .arg(r.refused));
    return r.refused > 0 ? SomeRefused : Done;
}

int backup(const QString& file, bool force)
{
    if (!databaseThere() || (!file.isEmpty() && !mayWrite(file, force)))
        return Stopped;
    const MaintenanceResult r = file.isEmpty() ? BackupDatabase() : BackupDatabaseTo(file);
    if (!r.ok) {
        if (!r.message.isEmpty())
            say(r.message);
        return Stopped;
    }
    say(QStringLiteral("备份完成：%1").arg(QDir::toNativeSeparators(r.file)));
    return Done;
}

int restore(const QString& file)
{
    const MaintenanceResult r = RestoreDatabase(file);
    if (!r.ok) {
        if (!r.message.isEmpty())
            say(r.message);
        return Stopped;
    }
    say(QStringLiteral("恢复完成"));
    if (!r.file.isEmpty())
        say(QStringLiteral("原来的数据库另存为：%1").arg(QDir::toNativeSeparators(r.file)));
    return Done;
}

int check(const DatabaseTarget& database)
{
    if (!databaseFileThere(database)) {
        say(databaseMissingText(database));
        return Stopped;
    }
    const DatabaseCheck c = CheckTarget(database);
    const QString path = database.Describe();
    if (!c.ok) {
        say(QStringLiteral("数据库有问题：%1\n%2").arg(path, c.reason));
        return Stopped;
    }
    if (c.empty && EngineFor(database).DatabaseFile(database).isEmpty())
        say(QStringLiteral("数据库是空的：%1（程序连接它时会建立数据表）").arg(path));
    else if (c.empty)
        say(QStringLiteral("数据库文件是空的：%1（程序打开它时会建立数据表）").arg(path));
    else if (c.version < SchemaVersion)
        say(QStringLiteral("数据库正常：%1，版本 %2（程序打开它时会升级到版本 %3）")
                .arg(path)
                .arg(c.version)
                .arg(SchemaVersion));
    else
        say(QStringLiteral("数据库正常：%1，版本 %2").arg(path).arg(c.version));
    return Done;
}

struct CommunityCount {
    int owners = 0;
    int terminals = 0;
    int units = 0;
    bool any() const { return owners + terminals + units > 0; }
};

// What the database of the data module holds; nullopt when it cannot be used (said already).
std::optional<CommunityCount> countCommunity()
{
    try {
        QSqlQuery q(dm->database());
        int counts[3] = {};
        const char* const tables[3] = {"UserInfo", "TerminalInfo", "BuildInfo"};
        for (int i = 0; i < 3; ++i) {
            if (!q.exec(QStringLiteral("select count(*) from ") + QLatin1String(tables[i])) || !q.next()) {
                say(q.lastError().text());
                return std::nullopt;
            }
            counts[i] = q.value(0).toInt();
        }
        return CommunityCount{counts[0], counts[1], counts[2]};
    } catch (const OperationError&) {
        return std::nullopt; // the data module has said why
    }
}

bool sameDatabase(const DatabaseTarget& a, const DatabaseTarget& b)
{
    const QString fileA = EngineFor(a).DatabaseFile(a);
    const QString fileB = EngineFor(b).DatabaseFile(b);
    if (fileA.isEmpty() || fileB.isEmpty())
        return a == b;
    const QFileInfo fa(fileA);
    const QFileInfo fb(fileB);
    return fa.absoluteFilePath() == fb.absoluteFilePath() ||
           (fa.exists() && fa.canonicalFilePath() == fb.canonicalFilePath());
}

// After the community's rows: the source's operation log and passwords, which a restore leaves
// where they are, into the copy.
bool copyOfficeTables(const DatabaseTarget& from, const DatabaseTarget& to)
{
    const OfficeCopyResult r = CopyOfficeTables(from, to);
    if (!r.ok) {
        say(r.message);
        return false;
    }
    say(QStringLiteral("已添加 %1 条操作日志，复制 %2 个密码").arg(r.entriesAdded).arg(r.passwords));
    return true;
}

// A copy is recorded in the log of the database it goes to (which gains the source's log), and in
// the source's when it stopped before the target was reached.
void recordCopy(const DatabaseTarget& where, const MaintenanceResult& r, const QString& details)
{
    LogEntry e;
    e.action = LogAction::CopyDatabase;
    e.outcome = r.ok ? LogSucceeded : r.message.section(QLatin1Char('\n'), 0, 0);
    if (e.outcome.isEmpty())
        e.outcome = QStringLiteral("失败");
    e.details = details;
    RecordOperation(where, e);
}

// The community of the database in use into another database, through a backup file: the same
// rows, keys and key sequences as a backup and a restore would give.
int copyDatabase(const QString& to, bool force)
{
    DatabaseTarget target;
    try {
        target = ParseDatabaseUrl(to);
    } catch (const OperationError& e) {
        return usage(e.message());
    }
    if (!databaseThere())
        return Stopped;
    if (sameDatabase(target, dm->Target())) {
        say(QStringLiteral("目标数据库就是正在使用的数据库：%1").arg(target.Describe()));
        return Stopped;
    }
    const QTemporaryDir temporary;
    if (!temporary.isValid()) {
        say(QStringLiteral("不能建立临时目录：%1").arg(temporary.errorString()));
        return Stopped;
    }
    const QString file = temporary.filePath(QStringLiteral("copy.bak"));
    const DatabaseTarget source = dm->Target();
    const QString details = QStringLiteral("来源=%1；目标=%2").arg(source.Describe(), target.Describe());
    FlushOperationLog();
    MaintenanceResult r = BackupDatabaseTo(file, false);
    if (!r.ok)
        recordCopy(source, r, details);
    if (!r.ok) {
        if (!r.message.isEmpty())
            say(r.message);
        return Stopped;
    }
    FlushOperationLog();

    delete dm;
    dm = StartDataModule(target);
    const std::optional<CommunityCount> there = countCommunity();
    if (!there)
        return Stopped;
    if (there->any() && !force) {
        say(QStringLiteral("目标数据库 %1 中已有 %2 位业主、%3 个终端、%4 个楼栋单元，没有复制"
                           "（要替换它们，请加 --force）")
                .arg(target.Describe())
                .arg(there->owners)
                .arg(there->terminals)
                .arg(there->units));
        return Stopped;
    }
    r = RestoreDatabase(file, false);
    recordCopy(target, r, details);
    if (!r.ok)
        recordCopy(source, r, details);
    if (!r.ok) {
        if (!r.message.isEmpty())
            say(r.message);
        return Stopped;
    }
    const std::optional<CommunityCount> copied = countCommunity();
    if (!copied)
        return Stopped;
    say(QStringLiteral("已复制 %1 位业主、%2 个终端、%3 个楼栋单元到 %4")
            .arg(copied->owners)
            .arg(copied->terminals)
            .arg(copied->units)
            .arg(target.Describe()));
    if (!r.file.isEmpty() && there->any())
        say(QStringLiteral("目标数据库原来的数据另存为：%1").arg(QDir::toNativeSeparators(r.file)));
    return copyOfficeTables(source, target) ? Done : Stopped;
}

// The day of --from or --to; nullopt (after saying why) for a text that is no date.
std::optional<QDate> logDay(const QString& option, const QString& text)
{
    const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid()) {
        usage(QStringLiteral("--%1 的日期要写作 yyyy-MM-dd：%2").arg(option, text));
        return std::nullopt;
    }
    return day;
}

// The log, oldest first: read like a log file, its latest entries come last (and `tail` shows
// them); the file of --csv is in the same order.
int listLog(const LogFilter& filter, const QString& csv, bool force)
{
    if (!databaseThere() || (!csv.isEmpty() && !mayWrite(csv, force)))
        return Stopped;
    if (!FlushOperationLog())
        say(QStringLiteral("还有操作日志没有写进数据库，列出的日志可能不全。"));
    try {
        const ListQuery query = OperationLogList(filter);
        if (!csv.isEmpty()) {
            const LogFileResult r = WriteLogFile(csv, query, true);
            if (!r.ok) {
                say(r.message);
                return Stopped;
            }
            say(QStringLiteral("已导出 %1 条操作日志到 %2")
                    .arg(r.entries)
                    .arg(QDir::toNativeSeparators(csv)));
            if (r.replaced > 0)
                say(QStringLiteral("其中 %1 个字符 GBK 编码不能表示，写成了“?”").arg(r.replaced));
            return Done;
        }
        ForEachLogLine(query, true,
                       [](const QString& line) { Os::WriteText(stdout, line + QLatin1Char('\n')); });
    } catch (const OperationError& e) {
        say(e.message());
        return Stopped;
    }
    return Done;
}

// Puts the written passwords back (for an office that forgot one): whoever may run this on the
// machine that holds the program folder may also replace its database, so it asks nothing more.
int resetPasswords()
{
    if (!databaseThere())
        return Stopped;
    SetLogOperatorLevel(LogLevelCommandLine);
    int levels = -1;
    try {
        levels = ResetPasswords();
    } catch (const OperationError& e) {
        if (!e.shown())
            say(e.message());
    }
    LogEntry entry;
    entry.action = LogAction::ResetPasswords;
    entry.outcome = levels >= 0 ? LogSucceeded : QStringLiteral("没有恢复");
    entry.details = QStringLiteral("恢复程序原来的密码");
    if (levels >= 0)
        RecordOperation(entry);
    StopOperationLog(); // the entry is in the database before the program ends
    if (levels < 0) {
        say(QStringLiteral("密码没有恢复。"));
        return Stopped;
    }
    say(QStringLiteral("已恢复程序原来的密码（管理员 %1，维护员 %2，物业管家不用密码）：%3")
            .arg(WrittenPassword(AdministratorLevel), WrittenPassword(MaintainerLevel),
                 dm->Target().Describe()));
    return Done;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iccard-data"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ICCARD_VERSION));

    QCommandLineParser parser;
    const QCommandLineOption folderOption(QStringLiteral("folder"), QString(), QStringLiteral("dir"));
    const QCommandLineOption buildingOption(QStringLiteral("building"), QString(), QStringLiteral("n"));
    const QCommandLineOption unitOption(QStringLiteral("unit"), QString(), QStringLiteral("n"));
    const QCommandLineOption forceOption(QStringLiteral("force"));
    const QCommandLineOption databaseOption(QStringLiteral("database"), QString(), QStringLiteral("url"));
    const QCommandLineOption toOption(QStringLiteral("to"), QString(), QStringLiteral("url"));
    const QCommandLineOption fromOption(QStringLiteral("from"), QString(), QStringLiteral("date"));
    const QCommandLineOption cardOption(QStringLiteral("card"), QString(), QStringLiteral("serial"));
    const QCommandLineOption csvOption(QStringLiteral("csv"), QString(), QStringLiteral("file"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOptions({folderOption, buildingOption, unitOption, forceOption, databaseOption, toOption,
                       fromOption, cardOption, csvOption, helpOption, versionOption});
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(helpOption)) {
        Os::WriteText(stdout, QString::fromUtf8(HelpText).arg(QDir::toNativeSeparators(UserDataFolder())) +
                                  QLatin1Char('\n'));
        return Done;
    }
    if (parser.isSet(versionOption)) {
        Os::WriteText(stdout, QStringLiteral("iccard-data %1\n").arg(QStringLiteral(ICCARD_VERSION)));
        return Done;
    }
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usage(QStringLiteral("缺少命令。"));
    const QString command = args.first();
    const QStringList rest = args.mid(1);

    // The same folder as the program's. A folder someone named must be there already: a mistyped
    // name makes no new folder. The user's data folder is made as the program makes it.
    const QString executableFolder = QCoreApplication::applicationDirPath();
    const FolderChoice folder = ChooseProgramFolder(executableFolder, parser.value(folderOption),
                                                    qEnvironmentVariable(FolderVariable), UserDataFolder());
    if (folder.source != FolderSource::UserData && !QFileInfo(folder.folder).isDir())
        return usage(QStringLiteral("程序目录不存在：%1").arg(QDir::toNativeSeparators(folder.folder)));
    const FolderPreparation prepared =
        PrepareProgramFolder(folder.folder, ShippedFilesFolder(executableFolder));
    if (!prepared.ok) {
        say(prepared.reason);
        return Stopped;
    }
    SetAppPath(folder.folder);
    if ((parser.isSet(buildingOption) || parser.isSet(unitOption)) && command != QLatin1String("export"))
        return usage(QStringLiteral("--building 和 --unit 只用于 export。"));
    const bool logCommand = command == QLatin1String("log");
    if (parser.isSet(forceOption) && command != QLatin1String("export") &&
        command != QLatin1String("backup") && command != QLatin1String("copy") &&
        !(logCommand && parser.isSet(csvOption)))
        return usage(QStringLiteral("--force 只用于 export、backup、copy 和 log --csv。"));
    if (!parser.isSet(toOption) && command == QLatin1String("copy"))
        return usage(QStringLiteral("copy 需要 --to 数据库。"));
    if (parser.isSet(toOption) && command != QLatin1String("copy") && !logCommand)
        return usage(QStringLiteral("--to 只用于 copy 和 log。"));
    if ((parser.isSet(fromOption) || parser.isSet(cardOption) || parser.isSet(csvOption)) && !logCommand)
        return usage(QStringLiteral("--from、--card 和 --csv 只用于 log。"));
    LogFilter logFilter;
    if (logCommand) {
        for (const auto& [option, day] :
             {std::pair{&fromOption, &logFilter.from}, std::pair{&toOption, &logFilter.to}}) {
            if (!parser.isSet(*option))
                continue;
            const std::optional<QDate> given = logDay(option->names().first(), parser.value(*option));
            if (!given)
                return Usage;
            *day = *given;
        }
        logFilter.card = parser.value(cardOption);
    }
    // The database of this run: --database, else database.ini, else the folder's file.
    if (parser.isSet(databaseOption)) {
        try {
            ParseDatabaseUrl(parser.value(databaseOption));
        } catch (const OperationError& e) {
            return usage(e.message());
        }
        SetDatabaseOverride(parser.value(databaseOption));
    }
    DatabaseTarget database;
    try {
        database = ConfiguredDatabase();
    } catch (const OperationError& e) {
        say(e.message());
        return Stopped;
    }

    auto arguments = [&](int least, int most) { return rest.size() >= least && rest.size() <= most; };
    if (command == QLatin1String("where")) {
        if (!arguments(0, 0))
            return usage(QStringLiteral("where 不带参数。"));
        Os::WriteText(stdout, QDir::toNativeSeparators(folder.folder) + QLatin1Char('\n') +
                                  database.Describe() + QLatin1Char('\n'));
        // Where the database would be is still the answer; that it is not there yet is said apart.
        if (!databaseFileThere(database))
            say(databaseMissingText(database));
        return Done;
    }
    if (command == QLatin1String("check")) {
        if (!arguments(0, 0))
            return usage(QStringLiteral("check 不带参数。"));
        const int rc = check(database);
        say(QStringLiteral("程序目录：%1（%2）")
                .arg(QDir::toNativeSeparators(folder.folder), FolderSourceText(folder.source)));
        return rc;
    }

    ConsoleDialogs console;
    setDialogs(&console);
    SetLogOperatorLevel(LogLevelCommandLine);
    dm = StartDataModule();
    PrepareOperationLog(dm->Target()); // every command records itself at its end
    int rc = Usage;
    if (command == QLatin1String("export") && arguments(1, 1))
        rc = exportOwners(rest[0], parser.value(buildingOption), parser.value(unitOption),
                          parser.isSet(forceOption));
    else if (command == QLatin1String("import") && arguments(1, 1))
        rc = importOwners(rest[0]);
    else if (command == QLatin1String("backup") && arguments(0, 1))
        rc = backup(rest.value(0), parser.isSet(forceOption));
    else if (command == QLatin1String("restore") && arguments(1, 1))
        rc = restore(rest[0]);
    else if (logCommand && arguments(0, 0))
        rc = listLog(logFilter, parser.value(csvOption), parser.isSet(forceOption));
    else if (command == QLatin1String("copy") && arguments(0, 0))
        rc = copyDatabase(parser.value(toOption), parser.isSet(forceOption));
    else if (command == QLatin1String("reset-passwords") && arguments(0, 0))
        rc = resetPasswords();
    else
        rc = usage(QStringLiteral("不认识的命令或参数：%1").arg(args.join(QLatin1Char(' '))));
    // Every entry of the run is written (or said to be lost) before the program ends.
    StopOperationLog();
    QCoreApplication::processEvents(); // the warning of a log that could not be written
    delete dm;
    dm = nullptr;
    setDialogs(nullptr);
    return rc;
}
