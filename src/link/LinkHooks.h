#pragma once

#include <QString>
#include <cstdint>

// What the answer handler needs from the windows. Each window that plays a part implements the
// interface and sets the matching Current... pointer (ProgramState.h) while it is open (nullptr
// otherwise); the handler skips a part whose window is not there. A part may throw (a reload whose
// lookup fails): the error is shown and the answer is dealt with all the same.

// The main window's debug memo mmo1: one line per answer of the card issuer.
class ResponseLog {
public:
    virtual ~ResponseLog() = default;
    virtual void appendLine(const QString& line) = 0;
};

// The card initialisation window during a format or blank run: for every answer that arrives while
// PendingCommand is 0 or 5 it stores result (bit 7 already dropped) as the last result and counts a
// success (result 0) or a failure (anything else).
class InitRunCounters {
public:
    virtual ~InitRunCounters() = default;
    virtual void cardAnswered(uint8_t result) = 0;
};

// The blacklist window: reloads its two lists after a blacklist card was written.
class BlackListWindowHook {
public:
    virtual ~BlackListWindowHook() = default;
    virtual void refreshLists() = 0;
};

// The owner list: reloads itself and moves to the owner with row number idx.
class OwnerListHook {
public:
    virtual ~OwnerListHook() = default;
    virtual void reloadAt(int idx) = 0;
};

// Marks an owner a written blacklist card named: blacklisted (an entry of flag 1) or released (flag
// 0), and reports a failure itself. Set by the program at start-up (the office's
// SetOwnerBlackListed).
class BlackListOwnerMarks {
public:
    virtual ~BlackListOwnerMarks() = default;
    virtual bool markOwner(int idx, bool blacklisted) = 0;
};
