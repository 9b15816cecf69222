#pragma once

// The operation log: one entry per operator action (when, at which desk, at which operator level,
// what, with which outcome, about which card and which owner), kept in the database's table
// OperationLog beside the community's rows but not among them: a restore and the emptying of the
// database leave it as it is, a backup holds it, and the program only appends to it.
//
// Recording never stops the action it records and never waits for the disk: the entry is stamped
// with the clock's time, the desk and the level, and a writer of its own (a thread with a
// connection of its own, open only while it writes) appends it moments later, many entries in one
// commit when many come at once. An entry is in the log whole or not at all. When the log cannot
// be written, the entries wait in memory (up to a limit) for the next try, and the operator is
// told once, on the main thread, until a write succeeds again.

#include "Database.h"

#include <QString>
#include <QStringList>

// What an entry records; the time, the desk and the level are added by RecordOperation.
struct LogEntry {
    QString action;    // one of LogActions()
    QString outcome;   // LogSucceeded, or what went wrong in the words the operator saw
    QString cardId;    // the card serial as UserInfo.CardID stores it, when the action was about a card
    int ownerIdx = 0;  // the owner it was about (0: none)
    QString ownerName; // that owner's name (and place), as it stood then
    QString details;   // the rest, in words: "栋号=3; 单元=1; 房号=0502", "读 1200 行，拒绝 0 行"
};

// The outcome of an action that did what it was asked.
inline const QString LogSucceeded = QStringLiteral("成功");

// The actions the log records, in the order the log window offers them as a filter.
namespace LogAction {
inline const QString ProgramStart = QStringLiteral("启动程序");
inline const QString ProgramEnd = QStringLiteral("退出程序");
inline const QString LogIn = QStringLiteral("登录");
inline const QString SwitchOperator = QStringLiteral("切换操作员");
inline const QString WriteOwnerCard = QStringLiteral("写业主卡");
inline const QString ReadOwnerCard = QStringLiteral("读业主卡");
inline const QString BindOwnerCard = QStringLiteral("登记业主卡");
inline const QString WriteDeviceCard = QStringLiteral("写设备卡");
inline const QString ReadDeviceCard = QStringLiteral("读设备卡");
inline const QString WriteBlackList = QStringLiteral("写黑名单卡");
inline const QString WriteWhiteList = QStringLiteral("写白名单卡");
inline const QString ReadBlackList = QStringLiteral("读黑名单卡");
inline const QString FormatCards = QStringLiteral("格式化卡");
inline const QString BlankCards = QStringLiteral("恢复空白卡");
inline const QString AddOwner = QStringLiteral("添加业主");
inline const QString ChangeOwner = QStringLiteral("修改业主");
inline const QString DeleteOwner = QStringLiteral("删除业主");
inline const QString ReportLost = QStringLiteral("挂失");
inline const QString CancelLoss = QStringLiteral("解挂");
inline const QString AddUnit = QStringLiteral("添加楼栋单元");
inline const QString ChangeUnit = QStringLiteral("修改楼栋单元");
inline const QString DeleteUnit = QStringLiteral("删除楼栋单元");
inline const QString AddTerminal = QStringLiteral("添加终端");
inline const QString ChangeTerminal = QStringLiteral("修改终端");
inline const QString DeleteTerminal = QStringLiteral("删除终端");
inline const QString ImportOwners = QStringLiteral("导入业主资料");
inline const QString ExportOwners = QStringLiteral("导出业主资料");
inline const QString Backup = QStringLiteral("备份数据库");
inline const QString Restore = QStringLiteral("恢复数据库");
inline const QString EmptyDatabase = QStringLiteral("清空数据库");
inline const QString CopyDatabase = QStringLiteral("复制数据库");
inline const QString SaveRegionId = QStringLiteral("保存小区标识");
inline const QString SaveSettings = QStringLiteral("保存设置");
inline const QString ChangePassword = QStringLiteral("修改密码");
inline const QString ResetPasswords = QStringLiteral("重置密码");
} // namespace LogAction
const QStringList& LogActions();

// The operator level an entry records: 0 物业管家, 1 管理员, 2 维护员 as logged in; the command line
// and a program not yet logged in have levels of their own.
constexpr int LogLevelCommandLine = -1;
constexpr int LogLevelNotLoggedIn = -2;
QString LogLevelName(int level);

// The desk: this computer's name and the system user running the program (read once).
QString LogComputer();
QString LogSystemUser();

// The level the next entries record; the login window sets it, the command line sets
// LogLevelCommandLine. Starts as LogLevelNotLoggedIn.
void SetLogOperatorLevel(int level);
int LogOperatorLevel();

// Records an action on the database the data module works on at this moment (opening it first,
// on the main thread, when this is its first use), or on `target` (any thread). Returns at once;
// never throws.
void RecordOperation(const LogEntry& entry);
void RecordOperation(const DatabaseTarget& target, const LogEntry& entry);

// Waits until every entry recorded so far is in its database, or until the wait or a failure
// ends it; false when entries are still waiting. The log window and the command line call it before
// they read the log, the maintenance before it replaces or copies the database, the program at
// its end. Main thread.
bool FlushOperationLog(int waitMs = 10000);

// Opens the writer's connection to the database ahead of the first entry where the engine lets a
// connection stay open (a server), so that the program's last entry waits for no new connection;
// nothing on a file. Main thread.
void PrepareOperationLog(const DatabaseTarget& target);

// Flushes, then ends the writer; the entries it could not write are lost (the warning was shown).
// Recording after this starts a new writer. Called at the end of the program and of each test.
void StopOperationLog();

// Entries waiting to be written (for the warning, tests and benchmarks).
int PendingLogEntries();
