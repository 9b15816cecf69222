#include "CardRecords.h"

#include "Digits.h"

#include <cstring>

std::array<uint8_t, UserCardWireSize> EncodeUserCard(const TUserCardRec& rec)
{
    std::array<uint8_t, UserCardWireSize> b{};
    b[0] = rec.Kind;
    PackDigits(&b[1], rec.RegionID, 4);
    b[5] = rec.UseExpiry;
    PackDigits(&b[6], rec.Expiry, 3);
    std::memcpy(&b[16], rec.Terminals, 32);
    return b;
}

void DecodeUserCard(const uint8_t* bytes, TUserCardRec& rec)
{
    rec.Kind = bytes[0];
    UnpackDigits(rec.RegionID, &bytes[1], 4);
    rec.UseExpiry = bytes[5];
    UnpackDigits(rec.Expiry, &bytes[6], 3);
    rec.CardSerial = Int32FromBytes(&bytes[10]);
    std::memcpy(rec.Terminals, &bytes[16], 32);
}

std::array<uint8_t, TerminalParamWireSize> EncodeTerminalParam(const TTerminalParamRec& rec)
{
    std::array<uint8_t, TerminalParamWireSize> b{};
    b[0] = rec.Kind;
    PackDigits(&b[1], rec.RegionID, 4);
    PackDigits(&b[6], rec.IssueTime, 4);
    return b;
}

void DecodeTerminalParam(const uint8_t* bytes, TTerminalParamRec& rec)
{
    rec.Kind = bytes[0];
    UnpackDigits(rec.RegionID, &bytes[1], 4);
    UnpackDigits(rec.IssueTime, &bytes[6], 4);
}

void SetBlackListSerial(BlackListEntry& entry, int32_t serial)
{
    const auto value = static_cast<uint32_t>(serial);
    entry.Serial24[0] = static_cast<uint8_t>(value & 0xFF);
    entry.Serial24[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
    entry.Serial24[2] = static_cast<uint8_t>((value >> 16) & 0xFF);
}

int32_t BlackListSerial(const BlackListEntry& entry)
{
    return static_cast<int32_t>(uint32_t(entry.Serial24[0]) | (uint32_t(entry.Serial24[1]) << 8) |
                                (uint32_t(entry.Serial24[2]) << 16));
}
