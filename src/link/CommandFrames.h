#pragma once

#include "Frames.h"
#include "cards/CardRecords.h"
#include "store/SaveLoad.h"

#include <optional>

// Command codes of the card issuer.
enum CommandCode : uint8_t {
    CmdFormat = 0,
    CmdWriteDeviceCard = 1,
    CmdReadDeviceCard = 2,
    CmdWriteOwnerCard = 3,
    CmdReadOwnerCard = 4,
    CmdRestoreBlank = 5,
    CmdWriteBlackList = 6,
    CmdReadBlackList = 7,
    Cmd8 = 8,
    CmdStop = 9,
    Cmd10 = 10,
};

// The frame for a command code, built from the settings and the three records as they are now.
// No frame for codes above 10. A blacklist count above 10 is taken as 10.
std::optional<FrameBytes> BuildCommandFrame(uint8_t code, const TSystemInfo& info, const TUserCardRec& user,
                                            const TTerminalParamRec& terminal,
                                            const TBlackListRec& blackList);
