#pragma once

#include <QString>
#include <cstdint>
#include <cstdio>

// What the operating system offers that Qt does not: a file pushed to the disk, a name replaced or
// placed in one step, a lock that a killed process lets go, who is logged in. One implementation
// per system (SystemPosix.cpp, SystemWindows.cpp), chosen by the build; nothing else in the program
// asks which system it runs on. Errors are errno values on every system (ENOSPC, EACCES, EBUSY…).

namespace Os {

// An open file of the system.
using Handle = std::intptr_t;
inline constexpr Handle NoHandle = -1;

// Opens the file for reading and writing (creating it when `create`) and takes its lock without
// waiting. The lock keeps other writers of part files out, not the database engine, which opens
// the same file while the lock is held. NoHandle when it cannot be opened (error says why) or
// another holds the lock (held is then true).
Handle OpenLocked(const QString& path, bool create, bool& held, int& error);
// Creates the file anew (an existing one is emptied) for writing.
Handle CreateForWriting(const QString& path, int& error);
bool Truncate(Handle file, int& error);
bool WriteAll(Handle file, const char* data, qsizetype size, int& error);
// Up to size bytes from the offset; -1 when the read fails.
qsizetype ReadAt(Handle file, char* data, qsizetype size, qint64 offset);
// Pushes what was written to the disk.
bool Sync(Handle file, int& error);
bool Close(Handle file, int& error);
// Gives the file the permissions of another file (where the system keeps them on the file).
void CopyPermissions(Handle file, const QString& from);

// Pushes a file, or a folder's entries, to the disk (where the system lets a folder be pushed).
bool SyncPath(const QString& path);
// Replaces `to` with `from` in one step.
bool Replace(const QString& from, const QString& to, int& error);
// Gives `from` the name `to` in one step, only when no file has that name (EEXIST when one has).
bool PlaceNew(const QString& from, const QString& to, int& error);
// Whether a file may be replaced while a handle has it open (not on Windows).
bool OpenFilesMayBeReplaced();
// Whether a file that exists may be written; true when there is none.
bool MayWrite(const QString& path, int& error);

// An error code of the system's own (what the database engine reports) as an errno value.
int ErrnoFromSystem(int systemError);
// The system's text for an errno value.
QString ErrorText(int error);

// The name of the account the program runs under, "?" when the system does not say.
QString AccountName();
// Whether standard error is a terminal (a console window on Windows).
bool StandardErrorIsTerminal();
// Writes text to standard output or standard error, at once: as UTF-8 bytes, exactly as given (no
// line ends added or changed), except into a console window on Windows, which gets the characters
// themselves whatever its code page.
void WriteText(std::FILE* stream, const QString& text);

} // namespace Os
