#pragma once

#include "link/LinkHooks.h"
#include "link/ProgramState.h"
#include "store/OperationError.h"

#include <QString>
#include <QStringList>

// Stands in for every window the answer handler talks to (the debug log, the card initialisation
// window, the blacklist window, the owner list, the owner updates after a blacklist card) and
// records what it was told. It puts itself in the Current... pointers while it lives.
struct HookRecorder final : ResponseLog,
                            InitRunCounters,
                            BlackListWindowHook,
                            OwnerListHook,
                            BlackListOwnerMarks {
    QStringList events;   // in order: "log <line>", marks, "refresh", "reload <idx>"
    QStringList lines;    // the log lines alone
    QStringList marks;    // the owner marks alone: "blacklist <idx>", "release <idx>"
    QStringList failing;  // marks that fail
    QString refreshError; // thrown by refreshLists when set
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
        CurrentOwnerMarks = this;
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
        if (CurrentOwnerMarks == this)
            CurrentOwnerMarks = nullptr;
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
    bool markOwner(int idx, bool blacklisted) override
    {
        const QString mark =
            (blacklisted ? QStringLiteral("blacklist %1") : QStringLiteral("release %1")).arg(idx);
        events << mark;
        marks << mark;
        return !failing.contains(mark);
    }
};
