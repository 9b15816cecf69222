#pragma once

#include <QString>
#include <QStringList>

// The program folder: where the settings file, the database, the photos and the backups live.
// Every file the program keeps is found through AppPath; tests point it at a folder of their own.
// The folder rule below is used by iccard and iccard-data alike, once, on the main thread, before
// anything reads AppPath.

// The program folder with a trailing '/'.
extern QString AppPath;

// Sets AppPath from a folder, adding the trailing separator.
void SetAppPath(const QString& folder);

// The environment variable that names the program folder when no --folder is given.
inline constexpr char FolderVariable[] = "ICCARD_FOLDER";

// Where the chosen program folder came from.
enum class FolderSource { Option, Environment, BesideExecutable, UserData };

struct FolderChoice {
    QString folder; // absolute, without a trailing separator
    FolderSource source = FolderSource::UserData;
};

// The program folder, first that applies: the folder given on the command line; the folder named
// by ICCARD_FOLDER; the executable's own folder when it holds SystemInfo.dat (the build tree, a
// copy of the program kept with its data); otherwise the user's data folder. Empty texts count as
// not given.
FolderChoice ChooseProgramFolder(const QString& executableFolder, const QString& optionFolder,
                                 const QString& environmentFolder, const QString& userDataFolder);

// The user's data folder for the program (~/.local/share/iccard): the same for iccard and
// iccard-data, whatever the name of the program asking.
QString UserDataFolder();

// The files the program ships for a new program folder: the settings file and the placeholder
// photo.
QStringList ShippedFiles();

// Where the shipped files are: share/iccard beside the executable's bin folder when installed
// (also in a package unpacked under another root), else the executable's own folder (build tree).
// Empty when neither holds them.
QString ShippedFilesFolder(const QString& executableFolder);

// Where the operator's guide is (the folder holding its index.md): share/doc/iccard/manual/zh_CN
// beside the executable's bin folder when installed (also under another root), else manual/zh_CN
// in the executable's own folder (the build tree's copy, kept up to date by the build). Empty when
// neither holds it.
QString ManualFolder(const QString& executableFolder);
// The folders ManualFolder looks in, in its order: what the operator is told when the guide is not
// found.
QStringList ManualFolderPlaces(const QString& executableFolder);

struct FolderPreparation {
    bool ok = false;
    QStringList copied; // the shipped files copied this time
    QString reason;     // why the folder could not be made ready (when not ok)
};

// Makes the folder (and its parents) if it is not there, and copies into it each shipped file it
// lacks. A file already in the folder is never replaced, whatever it holds. Programs that start at
// the same moment on a new folder may all run it: each file is copied once, whole, and every one
// of them finds the folder ready.
FolderPreparation PrepareProgramFolder(const QString& folder, const QString& shippedFolder);

// "程序目录" text of a source, for the messages that say which folder is in use.
QString FolderSourceText(FolderSource source);
