#pragma once

#include "Frames.h"

#include <QString>
#include <optional>

// Result codes of the card issuer and the texts the operator reads.

enum ResultCode : uint8_t {
    ResultOk = 0,
    ResultKeyError = 1,
    ResultReadError = 2,
    ResultWriteError = 3,
    ResultSelectError = 4,
    ResultKindError = 5,
    ResultForeignCommunity = 6,
};

// The card issuer may set bit 7 of the result byte; the result is the low seven bits.
inline constexpr uint8_t ResultMask = 0x7F;

// Caller types of ShowResult.
enum ResultCaller : int {
    CallerBlackList = 0,
    CallerWriteDeviceCard = 1,
    CallerReadDeviceCard = 3,
};

// Where a result is shown. All read one table of texts; some uses read another text for a code.
enum class ResultUse {
    Notice,            // ShowResult for the blacklist commands (and any other caller type)
    DeviceCardWritten, // ShowResult after command 1: success tells the operator what comes next
    DeviceCardRead,    // ShowResult after command 2: a kind error hints at an owner card
    OwnerCardLine,     // ResultText: the owner card windows' result line; the code is not masked
    CardRun,           // the card initialisation window's result row: its own texts for 1, 4, 6
};

// The text of a result code where it is shown; empty where that use shows nothing. Every use but
// OwnerCardLine looks at the low seven bits of the code only.
QString ResultTextFor(ResultUse use, int code);

// The debug log line of an answer: head, length, command, result, payload, tail in hexadecimal,
// joined with ",".
QString LogResponseLine(const ReceivedFrame& answer);
// What ShowResult shows for a code (reduced to its low seven bits) and caller type; nothing for
// codes 7 and above. Reads ResultTextFor.
std::optional<QString> ShowResultText(int code, int callerType);
// Shows the outcome of a command in a notice box (nothing for codes without a text).
void ShowResult(int code, int callerType);
// The text of a result code, without reduction; empty for unknown codes. ResultTextFor with
// OwnerCardLine.
QString ResultText(int code);
// What the owner card windows show for a card operation that did not succeed: the code's text
// (ResultText), or, for a code without one, the code itself, so that a failure never shows as
// an empty line.
QString CardFailureText(int code);
