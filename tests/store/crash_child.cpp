// The program the crash test kills: runs one action of the data store on a program folder and
// kills itself (SIGKILL, as a power cut or the task manager would) after the given number of
// microseconds. It prints a line for every change once it has been committed, so that the test
// knows what must have survived.
//
// Usage: crash_child <folder> <action> <kill after µs, -1 for never> [argument] [lines per commit]
// Actions: create, writes <first number>, backup <first second>, restore <file> [µs to wait before
// it starts], empty, journal, import <owner data file> [lines per commit, 500 when not given],
// settings <first generation>, logged <first number>. A restore says "restored" and "kept <file>", or
// "refused <why>". Without a kill, it ends after a few rounds and prints "done <µs>": how long the action
// took.

#include "LoggedRounds.h"
#include "SettingsGenerations.h"
#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "store/DbMaintenance.h"
#include "store/OperationLog.h"
#include "store/OwnerExchange.h"
#include "store/OwnerStatements.h"
#include "store/SaveLoad.h"
#include "store/Startup.h"
#include "store/TvexUserInfo.h"
#include "support/OwnerRecords.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

TuserInfoRec owner(const QString& cardNo)
{
    return OwnerRecord(QStringLiteral("业主") + cardNo, cardNo, 1, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer elapsed;
    elapsed.start();
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4)
        return 2;
    const QString action = args[2];
    const long long killAfter = args[3].toLongLong();
    const QString argument = args.value(4);
    if (killAfter >= 0) {
        std::thread([killAfter] {
            std::this_thread::sleep_for(std::chrono::microseconds(killAfter));
            ::kill(::getpid(), SIGKILL);
        }).detach();
    }
    const int rounds = killAfter >= 0 ? 1000000 : 12;

    SetAppPath(args[1]);
    FixedClock clock(QDateTime(QDate(2024, 3, 5), QTime(0, 0)).addSecs(argument.toLongLong()));
    setClock(&clock);
    dm = StartDataModule();

    if (action == QLatin1String("create")) {
        TuserInfoRec r = owner(QStringLiteral("created"));
        if (InsertUserInfo(*dm, r))
            say(QStringLiteral("created"));
    } else if (action == QLatin1String("writes")) {
        // Owners one at a time (each a change of its own) and in batches of twenty.
        const int first = argument.toInt();
        for (int k = 0; k < rounds; ++k) {
            const int n = first + k;
            if (k % 2 == 0) {
                TuserInfoRec r = owner(QStringLiteral("s%1").arg(n));
                if (AddUserInfo(*dm, r))
                    say(QStringLiteral("single s%1").arg(n));
            } else {
                dm->BeginBatch();
                for (int j = 0; j < 20; ++j)
                    ImportUserInfo(*dm, owner(QStringLiteral("b%1-%2").arg(n).arg(j)));
                if (dm->CommitBatch())
                    say(QStringLiteral("batch b%1-").arg(n));
            }
        }
    } else if (action == QLatin1String("backup")) {
        for (int k = 0; k < rounds; ++k) {
            clock.advanceSeconds(1);
            const MaintenanceResult r = BackupDatabase();
            if (r.ok)
                say(QStringLiteral("backup ") + r.file);
        }
    } else if (action == QLatin1String("restore")) {
        if (args.size() > 5)
            std::this_thread::sleep_for(std::chrono::microseconds(args[5].toLongLong()));
        const MaintenanceResult r = RestoreDatabase(argument);
        if (r.ok) {
            say(QStringLiteral("restored"));
            say(QStringLiteral("kept ") + r.file);
        } else {
            say(QStringLiteral("refused ") + QString(r.message).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        }
    } else if (action == QLatin1String("empty")) {
        if (InitDatabase().ok)
            say(QStringLiteral("emptied"));
    } else if (action == QLatin1String("import")) {
        ImportOptions options;
        options.linesPerCommit = args.size() > 5 ? args[5].toInt() : 500;
        options.committed = [](int line) { say(QStringLiteral("committed %1").arg(line)); };
        if (!ImportOwners(argument, options).ok())
            return 1;
    } else if (action == QLatin1String("settings")) {
        // The settings saved again and again, each save a new generation of the whole record.
        const quint32 first = argument.toUInt();
        for (int k = 0; k < rounds; ++k) {
            FillSettingsGeneration(SystemInfo, first + quint32(k));
            if (SaveSettings())
                say(QStringLiteral("saved %1").arg(first + quint32(k)));
        }
    } else if (action == QLatin1String("logged")) {
        // Owners added and deleted, each recorded by the store, with an entry of the child's own
        // between them whose details it can check (LoggedRoundDetails); every third round the log
        // is flushed and "flushed <n>" said: every entry up to round n is in the database.
        const int first = argument.toInt();
        for (int k = 0; k < rounds; ++k) {
            const int n = first + k;
            TuserInfoRec r = owner(QStringLiteral("L%1").arg(n));
            AddUserInfo(*dm, r);
            RecordOperation({LogAction::SaveSettings, LogSucceeded, {}, 0, {}, LoggedRoundDetails(n)});
            TvexUserInfo::DeleteRow(r.idx);
            if (k % 3 == 2 && FlushOperationLog())
                say(QStringLiteral("flushed %1").arg(n));
        }
        StopOperationLog();
    } else if (action == QLatin1String("journal")) {
        // Dies in the middle of a change that has already reached the file (a cache of two pages
        // spills at once), with the journal beside it.
        QSqlQuery(dm->database()).exec(QStringLiteral("PRAGMA cache_size = 2"));
        Transaction change;
        dm->ExecuteSQL(QStringLiteral("delete from UserInfo"));
        dm->ExecuteSQL(QStringLiteral("update TerminalInfo set TerminalName = 'half'"));
        ::kill(::getpid(), SIGKILL);
    } else {
        return 2;
    }
    say(QStringLiteral("done %1").arg(elapsed.nsecsElapsed() / 1000));
    delete dm;
    return 0;
}
