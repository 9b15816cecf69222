#pragma once

#include <QString>
#include <cstdint>

// Door terminal rows (table TerminalInfo), for the terminal registration screen. Plain
// functions without state, working through the data module dm.
// The functions through ExecuteSQL show "执行错误：" and the statement on failure and give
// false; the others throw OperationError (engine errors, and terminal numbers that are not
// whole numbers, in which case nothing is written).

// A terminal row in memory.
struct TTerminalRec {
    int32_t idx = 0;    // the row's key where the caller has one; not used by the functions
    QString TerminalID; // terminal number as decimal text
    QString TerminalName;
    QString Remark;
};

// Inserts a row, never marked. No duplicate check: delete the number first with DeleteTerminalByID.
void AddTerminal(const TTerminalRec& rec);
// Name and remark of the row(s) carrying the record's terminal number (not its idx); a number
// that is not registered changes nothing.
void UpdateTerminal(const TTerminalRec& rec);
// DeleteTerminalByID then AddTerminal, all or nothing: adding a registered number replaces the
// terminal (with a new idx). False (nothing changed) when the delete failed and reported itself;
// throws like AddTerminal (nothing changed then either).
bool ReplaceTerminal(const TTerminalRec& rec);
bool DeleteTerminal(int idx);
// Removes every row with the number. A text that is not a whole number fails like a statement
// the engine refuses ("执行错误：") and removes nothing.
bool DeleteTerminalByID(const QString& terminalId);
bool DeleteSelectedTerminals();
bool SelectAllTerminals();
bool SelectNoTerminals();
// value 1 marks the row, 0 unmarks it.
bool SetTerminalSelected(int idx, int value);
// False when the row's mark is Null or no row has the key.
bool IsTerminalSelected(int idx);
// The idx of the first row with the number, -1 when none.
int FindTerminalIdx(const QString& terminalId);
bool TerminalExists(int terminalId);
// The number of terminal rows; maxId gets the highest terminal number, 0 when there is none.
int GetMaxTerminalID(int& maxId);
