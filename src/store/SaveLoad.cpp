#include "SaveLoad.h"

#include "AppPath.h"
#include "FileSync.h"
#include "cards/Digits.h"
#include "cards/Gbk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
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

namespace {

// The name a save writes to before it takes the file's place.
QString partName(const QString& path)
{
    return path + QStringLiteral(".part");
}

// What a save cut short left beside the file: our own partial copy, and the temporary files of
// earlier versions: "<name>.XXXXXX", six random letters or digits (upper and lower case mixed,
// which a name chosen by hand, such as "<name>.backup", rarely is) holding nothing or beginning
// with the header of a data file.
void removeUnfinishedSaves(const QString& path)
{
    QFile::remove(partName(path));
    const QFileInfo info(path);
    const QDir folder = info.absoluteDir();
    const QRegularExpression temporary(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(info.fileName()) + QStringLiteral("\\.[A-Za-z0-9]{6}")));
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden)) {
        const QString suffix = name.right(6);
        const bool mixedCase = suffix != suffix.toLower() && suffix != suffix.toUpper();
        if (!temporary.match(name).hasMatch() || !mixedCase)
            continue;
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray head = file.read(DataFileSignatureSize);
        file.close();
        if (head.isEmpty() || head == QByteArray(DataFileSignature, DataFileSignatureSize))
            QFile::remove(folder.filePath(name));
    }
}

} // namespace

bool SaveDataFile(const QString& path, uint8_t kind, const void* record, qint64 size)
{
    if (TrimControls(path).isEmpty())
        return false;
    char header[DataFileHeaderSize] = {};
    std::memcpy(header, DataFileSignature, DataFileSignatureSize);
    header[DataFileKindOffset] = static_cast<char>(kind);
    // The new content goes to a file of its own, reaches the disk, and then takes the old file's
    // place in one step: a failure or a crash on the way leaves the previous file whole.
    const QString part = partName(path);
    QFile file(part);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    bool ok = file.write(header, DataFileHeaderSize) == DataFileHeaderSize &&
              file.write(static_cast<const char*>(record), size) == size && file.flush();
    file.close();
    if (ok && QFile::exists(path))
        QFile::setPermissions(part, QFile::permissions(path));
    ok = ok && SyncPath(part) && ReplaceFile(part, path);
    if (!ok)
        QFile::remove(part);
    return ok;
}

QString SettingsPath()
{
    return AppPath + QStringLiteral("SystemInfo.dat");
}

SettingsLoad LoadSettings()
{
    removeUnfinishedSaves(SettingsPath());
    if (!QFile::exists(SettingsPath()))
        return SettingsLoad::Missing;
    return LoadDataFile(SettingsPath(), SettingsFileKind, &SystemInfo, sizeof SystemInfo)
               ? SettingsLoad::Loaded
               : SettingsLoad::Failed;
}

bool SaveSettings()
{
    removeUnfinishedSaves(SettingsPath());
    if (!QFile::exists(SettingsPath()))
        return false;
    return SaveDataFile(SettingsPath(), SettingsFileKind, &SystemInfo, sizeof SystemInfo);
}

bool RegionIdSet()
{
    return !GbkToString(SystemInfo.RegionID, sizeof SystemInfo.RegionID).trimmed().isEmpty();
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
