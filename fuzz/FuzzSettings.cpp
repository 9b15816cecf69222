// The settings file loader on any bytes and any length, as SystemInfo.dat in a program folder of
// its own. Checks that a file with the wrong signature or kind leaves SystemInfo untouched, that a
// loaded one fills SystemInfo with the file's bytes after the header and keeps the rest, and that
// the start-up correction always leaves a sector the cards can have.

#include "store/AppPath.h"
#include "store/SaveLoad.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_settings: %s\n", what);
        std::abort();
    }
}

QTemporaryDir* folder = nullptr;

// The record before a load: a pattern no file byte has to match.
void FillCanary(TSystemInfo& info)
{
    auto* bytes = reinterpret_cast<uint8_t*>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        bytes[i] = uint8_t(i * 7 + 3);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    folder = new QTemporaryDir;
    if (!folder->isValid())
        return 1;
    SetAppPath(folder->path());
    std::atexit([] { delete folder; }); // the program folder goes when the run ends
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        QFile file(SettingsPath());
        Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the settings file");
        Check(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size),
              "cannot write the settings file");
    }
    static auto before = std::make_unique<TSystemInfo>();
    FillCanary(*before);
    std::memcpy(&SystemInfo, before.get(), sizeof SystemInfo);

    const SettingsLoad load = LoadSettings();
    Check(load != SettingsLoad::Missing, "a file that is there was reported missing");
    const auto* now = reinterpret_cast<const uint8_t*>(&SystemInfo);
    const auto* old = reinterpret_cast<const uint8_t*>(before.get());
    // The header is read as far as the file goes: the signature and the kind byte decide.
    const bool ours = size > size_t(DataFileKindOffset) &&
                      std::memcmp(data, DataFileSignature, DataFileSignatureSize) == 0 &&
                      data[DataFileKindOffset] == SettingsFileKind;
    Check((load == SettingsLoad::Loaded) == ours,
          "loaded a file that is not a settings file, or refused one");
    if (load == SettingsLoad::Loaded) {
        const size_t record = size > size_t(DataFileHeaderSize)
                                  ? std::min(size - size_t(DataFileHeaderSize), sizeof SystemInfo)
                                  : 0;
        Check(record == 0 || std::memcmp(now, data + DataFileHeaderSize, record) == 0,
              "the record is not the file's bytes");
        Check(std::memcmp(now + record, old + record, sizeof SystemInfo - record) == 0,
              "bytes beyond the end of the file were changed");
    } else {
        Check(std::memcmp(now, old, sizeof SystemInfo) == 0, "a refused file changed the settings");
    }
    CorrectSector(SystemInfo);
    Check(SystemInfo.Sector <= 16, "a sector above 16 after the correction");
    return 0;
}
