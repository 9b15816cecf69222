#pragma once

#include "Frames.h"
#include "LinkHooks.h"
#include "ProgramState.h"
#include "cards/CardRecords.h"

#include <QString>
#include <cstdint>

// What happens to a complete answer of the card issuer: it is logged, then handled by the value of
// PendingCommand at that moment. The flags and records it fills: ProgramState.h.

// Appends the answer's line to the debug memo (nothing when there is none).
void LogResponse(ResponseLog* memo, const ReceivedFrame& answer);

// Handles an answer that passed the frame checks. Main thread only (checked).
void HandleResponse(const ReceivedFrame& answer);

// Shown (warning box) when a blacklist card read back claims more entries than a card holds; the
// first ten are kept.
inline constexpr const char* BlackListTooManyText = "黑名单卡记录数超过10条，只读取前10条";
