#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// The settings record and the file routines that keep records behind a fixed header.

#pragma pack(push, 1)
struct TSystemInfo {
    uint8_t Reserved0[12];
    uint8_t Sector;   // card sector all card data lives in
    char RegionID[8]; // community identifier, GBK, no terminator
    uint8_t Command10Value;
    uint8_t PlainTitles; // 1 when the brand marker file is absent
    uint8_t Reserved1[65537];
};
#pragma pack(pop)

static_assert(sizeof(TSystemInfo) == 65560);
static_assert(offsetof(TSystemInfo, Sector) == 12);
static_assert(offsetof(TSystemInfo, RegionID) == 13);
static_assert(offsetof(TSystemInfo, Command10Value) == 21);
static_assert(offsetof(TSystemInfo, PlainTitles) == 22);
static_assert(offsetof(TSystemInfo, Reserved1) == 23);

extern TSystemInfo SystemInfo;

constexpr int DataFileHeaderSize = 513;
constexpr int DataFileSignatureSize = 19;
constexpr int DataFileKindOffset = 256;
constexpr uint8_t SettingsFileKind = 1;
extern const char DataFileSignature[DataFileSignatureSize];

// Reads a file written by SaveDataFile. Fails (record untouched) on an empty path, a file that
// cannot be opened, a wrong signature or kind. A short record part still succeeds: the bytes
// beyond the end of the file keep their previous content.
bool LoadDataFile(const QString& path, uint8_t kind, void* record, qint64 size);
// Writes header and record to a new file beside the old one and renames it into place, so a
// failure leaves the previous file whole. Returns false when anything failed.
bool SaveDataFile(const QString& path, uint8_t kind, const void* record, qint64 size);

// AppPath + "SystemInfo.dat".
QString SettingsPath();

enum class SettingsLoad { Missing, Failed, Loaded };
// The start-up load of SystemInfo: Missing when the file is not there (the program must end),
// Failed when it cannot be read (the program goes on with SystemInfo unchanged).
SettingsLoad LoadSettings();
// Saves SystemInfo at exit if the settings file still exists; errors are not shown.
bool SaveSettings();
// A stored sector above 16 becomes 7.
void CorrectSector(TSystemInfo& info);
// The community identifier of SystemInfo is set: not empty and not only spaces. Owner, blacklist
// and whitelist cards need it (the door terminals refuse a card of another community).
bool RegionIdSet();
// The default settings of a fresh install: sector 7, everything else zero.
void DefaultSystemInfo(TSystemInfo& info);
