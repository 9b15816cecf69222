#include "CommandFrames.h"

#include "cards/Digits.h"

#include <algorithm>
#include <cstring>

std::optional<FrameBytes> BuildCommandFrame(uint8_t code, const TSystemInfo& info, const TUserCardRec& user,
                                            const TTerminalParamRec& terminal, const TBlackListRec& blackList)
{
    if (code > Cmd10)
        return std::nullopt;
    FrameBytes f{};
    f[0] = FrameHead;
    f[2] = code;
    int length = 0;
    const auto regionDigits = [&](int at) { PackDigits(&f[static_cast<size_t>(at)], info.RegionID, 4); };
    switch (code) {
    case CmdFormat:
    case CmdRestoreBlank:
        f[3] = info.Sector;
        std::fill(f.begin() + 4, f.begin() + 10, uint8_t(0xFF));
        length = 11;
        break;
    case CmdWriteDeviceCard: {
        f[3] = terminal.Sector;
        const auto payload = EncodeTerminalParam(terminal);
        std::copy(payload.begin(), payload.end(), f.begin() + 4);
        length = 16;
        break;
    }
    case CmdReadDeviceCard:
    case CmdReadOwnerCard:
    case CmdReadBlackList:
        f[3] = info.Sector;
        regionDigits(4);
        f[8] = code == CmdReadDeviceCard  ? DeviceCardKind
               : code == CmdReadOwnerCard ? OwnerCardKind
                                          : BlackListCardKind;
        length = 10;
        break;
    case CmdWriteOwnerCard: {
        f[3] = user.Sector;
        const auto payload = EncodeUserCard(user);
        std::copy(payload.begin(), payload.end(), f.begin() + 4);
        length = 53;
        break;
    }
    case CmdWriteBlackList: {
        const int count = std::min<int>(blackList.Count, BlackListMaxEntries);
        f[3] = info.Sector;
        f[4] = BlackListCardKind;
        std::memcpy(&f[5], blackList.RegionBCD, 4);
        f[9] = static_cast<uint8_t>(count);
        std::memcpy(&f[10], blackList.Entries, static_cast<size_t>(4 * count));
        length = 11 + 4 * count;
        break;
    }
    case Cmd8:
        length = 6;
        break;
    case CmdStop:
        length = 5;
        break;
    case Cmd10:
        f[4] = info.Command10Value;
        length = 6;
        break;
    }
    f[1] = static_cast<uint8_t>(length);
    f[static_cast<size_t>(length - 1)] = FrameTail;
    return f;
}
