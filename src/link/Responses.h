#pragma once

#include "Frames.h"
#include "LinkHooks.h"
#include "cards/CardRecords.h"

#include <QString>
#include <cstdint>

// What happens to a complete answer of the card issuer: it is logged, then handled by the value of
// PendingCommand at that moment.

// Raised for the windows that poll; they clear them. Results are the low seven bits of the result
// byte: bit 7, which the card issuer may set, is dropped before anything looks at them.
extern uint8_t CardDataReady;  // answer to 2 with result 0, any answer to 3 or 4 stored
extern int32_t CardResult;     // result of the last answer to 3 or 4
extern uint8_t BlackListReady; // a blacklist card was read into BlackListRec

// Appends the answer's line to the debug memo (nothing when there is none).
void LogResponse(ResponseLog* memo, const TResponseFrame& answer);

// Handles an answer that passed the frame checks. Main thread.
void HandleResponse(const TResponseFrame& answer);

// The statement that marks an owner after a blacklist card with the entry was written.
QString BlackListOwnerUpdate(const TBlackListTarget& target);

// Shown (warning box) when a blacklist card read back claims more entries than a card holds; the
// first ten are kept.
inline constexpr const char* BlackListTooManyText = "黑名单卡记录数超过10条，只读取前10条";
