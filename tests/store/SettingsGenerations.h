#pragma once

#include "store/SaveLoad.h"

#include <QByteArray>
#include <cstring>
#include <optional>

// Settings records that tell their save apart, for the crash rounds' child and the test that
// checks what it left. Main thread only.

// Fills the whole settings record from one generation number, so that a file holding parts of two
// saves shows it: the number in the first four reserved bytes, every other byte derived from it.
inline void FillSettingsGeneration(TSystemInfo& info, quint32 generation)
{
    auto* bytes = reinterpret_cast<uint8_t*>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        bytes[i] = uint8_t((generation * 131u + i) % 251u);
    std::memcpy(info.Reserved1, &generation, sizeof generation);
}

// The generation a whole settings file holds (header and every byte of the record as that
// generation wrote them); nothing for a file that is short, long, or a mixture.
inline std::optional<quint32> SettingsGenerationOf(const QByteArray& file)
{
    if (file.size() != DataFileHeaderSize + qsizetype(sizeof(TSystemInfo)) ||
        std::memcmp(file.constData(), DataFileSignature, DataFileSignatureSize) != 0 ||
        uint8_t(file[DataFileKindOffset]) != SettingsFileKind)
        return std::nullopt;
    quint32 generation = 0;
    std::memcpy(&generation, file.constData() + DataFileHeaderSize + offsetof(TSystemInfo, Reserved1),
                sizeof generation);
    TSystemInfo expected;
    FillSettingsGeneration(expected, generation);
    if (std::memcmp(file.constData() + DataFileHeaderSize, &expected, sizeof expected) != 0)
        return std::nullopt;
    return generation;
}
