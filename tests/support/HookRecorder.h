#pragma once

#include "link/LinkHooks.h"
#include "link/ProgramState.h"
#include "store/OperationError.h"

#include <QString>
#include <QStringList>

// Stands in for every window the answer handler talks to (the debug log, the card initialisation
// window, the blacklist window, the owner list, the data module's statement runner) and records
// what it was told. It puts itself in the Current... pointers while it lives.
struct HookRecorder final : ResponseLog, InitRunCounters, BlackListWindowHook, OwnerListHook, SqlExecutor {
    QStringList events;     // in order: "log <line>", statements, "refresh", "reload <idx>"
    QStringList lines;      // the log lines alone
    QStringList statements; // the statements alone
    QStringList failing;    // statements that fail
    QString refreshError;   // thrown by refreshLists when set
    int successes = 0;
    int failures = 0;
    int lastResult = -1;
    int refreshed = 0;

    HookRecorder()
    {
        CurrentResponseLog = this;
        CurrentInitRunCounters = this;
        CurrentBlackListWindow = this;
        CurrentOwnerList = this;
        CurrentSqlExecutor = this;
    }
    ~HookRecorder() override
    {
        if (CurrentResponseLog == this)
            CurrentResponseLog = nullptr;
        if (CurrentInitRunCounters == this)
            CurrentInitRunCounters = nullptr;
        if (CurrentBlackListWindow == this)
            CurrentBlackListWindow = nullptr;
        if (CurrentOwnerList == this)
            CurrentOwnerList = nullptr;
        if (CurrentSqlExecutor == this)
            CurrentSqlExecutor = nullptr;
    }
    HookRecorder(const HookRecorder&) = delete;
    HookRecorder& operator=(const HookRecorder&) = delete;

    void appendLine(const QString& line) override
    {
        events << QStringLiteral("log ") + line;
        lines << line;
    }
    void cardAnswered(uint8_t result) override
    {
        lastResult = result;
        (result == 0 ? successes : failures) += 1;
    }
    void refreshLists() override
    {
        events << QStringLiteral("refresh");
        ++refreshed;
        if (!refreshError.isEmpty())
            throw OperationError(refreshError);
    }
    void reloadAt(int idx) override { events << QStringLiteral("reload %1").arg(idx); }
    bool executeSql(const QString& statement) override
    {
        events << statement;
        statements << statement;
        return !failing.contains(statement);
    }
};
