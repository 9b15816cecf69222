#pragma once

#include <array>
#include <cstdint>

// The three card records, their wire layouts, and the companion list of a blacklist write. The
// program's one instance of each: link/ProgramState.h.

enum CardKind : uint8_t { OwnerCardKind = 0, DeviceCardKind = 1, BlackListCardKind = 2 };

struct TUserCardRec {
    uint8_t Kind = 0;
    uint8_t Sector = 0;
    char RegionID[8] = {};  // GBK text, no terminator
    uint8_t UseExpiry = 0;  // 1 when the card expires
    char Expiry[9] = {};    // yymmdd and a NUL
    int32_t CardSerial = 0; // as the card issuer reports it
    uint8_t Terminals[32] = {};
};

struct TTerminalParamRec {
    uint8_t Kind = 0;
    uint8_t Sector = 0;
    char RegionID[8] = {};
    char IssueTime[8] = {}; // yymmddhh
};

struct BlackListEntry {
    uint8_t Flag = 0;         // 1 blacklisted ("黑"), 0 cleared ("白")
    uint8_t Serial24[3] = {}; // low 24 bits of the card serial, least significant byte first
};

// Memory and wire agree byte for byte.
struct TBlackListRec {
    uint8_t Kind = 0;
    uint8_t RegionBCD[4] = {};
    uint8_t Count = 0;
    BlackListEntry Entries[10] = {};
};
static_assert(sizeof(BlackListEntry) == 4);
static_assert(sizeof(TBlackListRec) == 46);

struct BlackListTarget {
    uint8_t Flag = 0;
    int32_t idx = 0;
};

constexpr int UserCardWireSize = 48;
constexpr int TerminalParamWireSize = 11;
constexpr int BlackListMaxEntries = 10;

std::array<uint8_t, UserCardWireSize> EncodeUserCard(const TUserCardRec& rec);
// Sector is left unchanged.
void DecodeUserCard(const uint8_t* bytes, TUserCardRec& rec);
std::array<uint8_t, TerminalParamWireSize> EncodeTerminalParam(const TTerminalParamRec& rec);
// Sector is left unchanged.
void DecodeTerminalParam(const uint8_t* bytes, TTerminalParamRec& rec);

// Blacklist entry helpers: the serial travels as its low 24 bits, least significant byte first.
void SetBlackListSerial(BlackListEntry& entry, int32_t serial);
int32_t BlackListSerial(const BlackListEntry& entry);
// Size of a blacklist card's content for a count (kind, region, count and the entries).
constexpr int BlackListWireSize(int count)
{
    return 6 + 4 * count;
}
