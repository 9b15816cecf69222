#pragma once

// The card commands in the operation log: each command issued and its answer (or that none came),
// with the card's contents in the words of the windows: the owner, the card serial, the
// terminals and the expiry of an owner card; the kind and contents of a device card; the entries
// of a blacklist or whitelist card; the cards of a format or blank run and how many failed. The
// records are read from the card records of ProgramState.h as they stand when the call is made.
// Main thread.

#include <QString>
#include <cstdint>

// The answer to a device card or blacklist command (1, 2, 6, 7); HandleResponse calls it.
void RecordCardAnswer(uint8_t command, int result);

// How the answer to an owner card command was taken by its window.
enum class OwnerCardUse {
    Written, // command 3: the card was written for ownerIdx (0: for no one)
    Read,    // command 4: the card was read to see whose it is
    Bound,   // command 4: the card read was registered to ownerIdx
};
// The answer to an owner card command (UserCardRec holds the card), as its window took it over.
void RecordOwnerCardAnswer(OwnerCardUse use, int result, int ownerIdx);

// A card command whose answer never came: its window closed (or gave up) while it was pending.
void RecordUnanswered(uint8_t command);

// The end of a format (command 0) or blank (5) run: the cards answered and how many failed.
void RecordCardRun(uint8_t command, int cards, int failed);

// The outcome of a result code as the operator read it (LogSucceeded for 0).
QString CardOutcome(int result);
