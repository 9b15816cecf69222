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

// The debug log line of an answer: head, length, command, result, payload, tail in hexadecimal,
// joined with ",".
QString LogResponseLine(const TResponseFrame& answer);
// What ShowResult shows for a code (reduced to its low seven bits) and caller type; nothing for
// codes 7 and above.
std::optional<QString> ShowResultText(int code, int callerType);
// Shows the outcome of a command in a notice box (nothing for codes without a text).
void ShowResult(int code, int callerType);
// The text of a result code, without reduction; empty for unknown codes.
QString ResultText(int code);
