#include "AppPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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

TFolderChoice ChooseProgramFolder(const QString& executableFolder, const QString& optionFolder,
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

TFolderPreparation PrepareProgramFolder(const QString& folder, const QString& shippedFolder)
{
    TFolderPreparation result;
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
        result.reason = QStringLiteral("无法建立程序目录：%1").arg(QDir::toNativeSeparators(folder));
        return result;
    }
    if (!shippedFolder.isEmpty()) {
        for (const QString& name : ShippedFiles()) {
            const QString target = folder + QLatin1Char('/') + name;
            const QString source = shippedFolder + QLatin1Char('/') + name;
            if (QFileInfo::exists(target) || !QFileInfo(source).isFile())
                continue;
            // Copied beside the target and renamed into place, so that a copy cut short never
            // stands as the file itself.
            const QString part = target + QStringLiteral(".part");
            QFile::remove(part);
            if (!QFile::copy(source, part)) {
                result.reason =
                    QStringLiteral("无法复制 %1 到程序目录：%2").arg(name, QDir::toNativeSeparators(folder));
                return result;
            }
            // The shipped files are read-only where they are installed; the program writes its
            // settings back at exit.
            QFile::setPermissions(part,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
            if (!QFile::rename(part, target)) {
                QFile::remove(part);
                result.reason =
                    QStringLiteral("无法复制 %1 到程序目录：%2").arg(name, QDir::toNativeSeparators(folder));
                return result;
            }
            result.copied << name;
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
