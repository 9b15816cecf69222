#pragma once

#include "cards/CardRecords.h"
#include "link/CommandWorker.h"
#include "link/Frames.h"
#include "link/Responses.h"

// Puts the program-wide link state back as it is at program start: idle command, no flags, the
// event clear, empty reassembly buffers and zeroed card records.
inline void ResetLinkState()
{
    PendingCommand = IdleCommand;
    CardDataReady = 0;
    CardResult = -1;
    BlackListReady = 0;
    CommandEvent.reset();
    ResetReceiveBuffers();
    UserCardRec = {};
    TerminalParamRec = {};
    BlackListRec = {};
}
