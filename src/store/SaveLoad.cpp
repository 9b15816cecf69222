#include "SaveLoad.h"

#include "AppPath.h"
#include "cards/Digits.h"

#include <QFile>
#include <QSaveFile>
#include <cstring>

TSystemInfo SystemInfo = {};

const char DataFileSignature[DataFileSignatureSize] = {'N', 'o', 'r', 'v', 'e', 'l', 'A', 'c', 'c',   'e',
                                                       's', 's', 'L', 'e', 'd', 'g', 'e', 'r', '\x01'};

bool LoadDataFile(const QString& path, uint8_t kind, void* record, qint64 size)
{
    if (TrimControls(path).isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    char header[DataFileHeaderSize] = {};
    file.read(header, DataFileHeaderSize);
    if (std::memcmp(header, DataFileSignature, DataFileSignatureSize) != 0 ||
        static_cast<uint8_t>(header[DataFileKindOffset]) != kind)
        return false;
    const QByteArray bytes = file.read(size);
    std::memcpy(record, bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

bool SaveDataFile(const QString& path, uint8_t kind, const void* record, qint64 size)
{
    if (TrimControls(path).isEmpty())
        return false;
    char header[DataFileHeaderSize] = {};
    std::memcpy(header, DataFileSignature, DataFileSignatureSize);
    header[DataFileKindOffset] = static_cast<char>(kind);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(header, DataFileHeaderSize) != DataFileHeaderSize ||
        file.write(static_cast<const char*>(record), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString SettingsPath()
{
    return AppPath + QStringLiteral("SystemInfo.dat");
}

SettingsLoad LoadSettings()
{
    if (!QFile::exists(SettingsPath()))
        return SettingsLoad::Missing;
    return LoadDataFile(SettingsPath(), SettingsFileKind, &SystemInfo, sizeof SystemInfo)
               ? SettingsLoad::Loaded
               : SettingsLoad::Failed;
}

bool SaveSettings()
{
    if (!QFile::exists(SettingsPath()))
        return false;
    return SaveDataFile(SettingsPath(), SettingsFileKind, &SystemInfo, sizeof SystemInfo);
}

void CorrectSector(TSystemInfo& info)
{
    if (info.Sector > 16)
        info.Sector = 7;
}

void DefaultSystemInfo(TSystemInfo& info)
{
    std::memset(&info, 0, sizeof info);
    info.Sector = 7;
}
