#include "AppPath.h"

#include "FileSync.h"
#include "System.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

QString AppPath;

void SetAppPath(const QString& folder)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    AppPath = path;
}

namespace {

QString absolute(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath());
}

bool holdsSettings(const QString& folder)
{
    return QFileInfo(folder + QStringLiteral("/SystemInfo.dat")).isFile();
}

} // namespace

FolderChoice ChooseProgramFolder(const QString& executableFolder, const QString& optionFolder,
                                 const QString& environmentFolder, const QString& userDataFolder)
{
    if (!optionFolder.isEmpty())
        return {absolute(optionFolder), FolderSource::Option};
    if (!environmentFolder.isEmpty())
        return {absolute(environmentFolder), FolderSource::Environment};
    if (!executableFolder.isEmpty() && holdsSettings(executableFolder))
        return {absolute(executableFolder), FolderSource::BesideExecutable};
    return {absolute(userDataFolder), FolderSource::UserData};
}

QString UserDataFolder()
{
    // Not AppDataLocation: that one is named after the program asking, and iccard-data must find
    // the folder of iccard.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/iccard");
}

QStringList ShippedFiles()
{
    return {QStringLiteral("SystemInfo.dat"), QStringLiteral("null.jpg")};
}

QString ShippedFilesFolder(const QString& executableFolder)
{
    const QString installed = absolute(executableFolder + QStringLiteral("/../share/iccard"));
    if (holdsSettings(installed))
        return installed;
    if (holdsSettings(executableFolder))
        return absolute(executableFolder);
    return {};
}

QStringList ManualFolderPlaces(const QString& executableFolder)
{
    return {absolute(executableFolder + QStringLiteral("/../share/doc/iccard/manual/zh_CN")),
            absolute(executableFolder + QStringLiteral("/manual/zh_CN"))};
}

QString ManualFolder(const QString& executableFolder)
{
    for (const QString& place : ManualFolderPlaces(executableFolder))
        if (QFileInfo(place + QStringLiteral("/index.md")).isFile())
            return place;
    return {};
}

namespace {

enum class Seeding { Copied, AlreadyThere, Failed };

// Puts a copy of a shipped file into the folder unless the folder has one. The copy is made in a
// temporary file of its own beside the target and pushed to the disk, then given the target's name
// in a step that fails rather than replaces when another program starting at the same moment put
// the file there first: that is as good. (Where the file system cannot refuse in that step, it is
// renamed into place instead, after one more look.)
Seeding seedFile(const QString& source, const QString& target)
{
    if (QFileInfo::exists(target))
        return Seeding::AlreadyThere;
    QFile shipped(source);
    QTemporaryFile copy(target + QStringLiteral(".XXXXXX.part"));
    if (!shipped.open(QIODevice::ReadOnly) || !copy.open())
        return Seeding::Failed;
    const QByteArray bytes = shipped.readAll();
    if (bytes.size() != shipped.size() || copy.write(bytes) != bytes.size() || !copy.flush())
        return Seeding::Failed;
    copy.close();
    if (!SyncPath(copy.fileName()))
        return Seeding::Failed;
    // The shipped files are read-only where they are installed; the program writes its settings
    // back at exit.
    copy.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (PlaceNewFile(copy.fileName(), target)) {
        copy.setAutoRemove(false);
        return Seeding::Copied;
    }
    if (QFileInfo::exists(target))
        return Seeding::AlreadyThere;
    if (!copy.rename(target))
        return QFileInfo::exists(target) ? Seeding::AlreadyThere : Seeding::Failed;
    copy.setAutoRemove(false);
    return Seeding::Copied;
}

} // namespace

FolderPreparation PrepareProgramFolder(const QString& folder, const QString& shippedFolder)
{
    FolderPreparation result;
    // Another program may be making the same folder at the same moment: it is there either way.
    if (!QDir().mkpath(folder) && !QFileInfo(folder).isDir()) {
        result.reason = QStringLiteral("无法建立程序目录：%1").arg(QDir::toNativeSeparators(folder));
        return result;
    }
    if (!shippedFolder.isEmpty()) {
        for (const QString& name : ShippedFiles()) {
            const QString source = shippedFolder + QLatin1Char('/') + name;
            if (!QFileInfo(source).isFile())
                continue;
            switch (seedFile(source, folder + QLatin1Char('/') + name)) {
            case Seeding::Copied:
                result.copied << name;
                break;
            case Seeding::AlreadyThere:
                break;
            case Seeding::Failed:
                result.reason =
                    QStringLiteral("无法复制 %1 到程序目录：%2").arg(name, QDir::toNativeSeparators(folder));
                return result;
            }
        }
    }
    result.ok = true;
    return result;
}

QString FolderSourceText(FolderSource source)
{
    switch (source) {
    case FolderSource::Option:
        return QStringLiteral("由 --folder 指定");
    case FolderSource::Environment:
        return QStringLiteral("由环境变量 ICCARD_FOLDER 指定");
    case FolderSource::BesideExecutable:
        return QStringLiteral("程序所在的目录");
    case FolderSource::UserData:
        return QStringLiteral("当前用户的数据目录");
    }
    return {};
}
