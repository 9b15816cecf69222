#pragma once

#include "Schema.h"

#include <QDateTime>
#include <QString>

// Backup, restore and emptying of the database, for the maintenance window. Each returns what
// the window needs: ok, and on failure the text to show (empty when the failure has already
// been shown, as ExecuteSQL shows its own). The window shows "备份完成", "恢复完成" or
// "初始化完成" only when ok is true.
struct TMaintenanceResult {
    bool ok = false;
    QString message; // on failure: the text for an error box; may be empty (already shown)
    QString file;    // the backup written (BackupDatabase), or the copy of the replaced
                     // database kept in the backup folder (RestoreDatabase)
};

// AppPath + "dbBak" (no trailing separator).
QString BackupFolder();
// BackupFolder() + "/db_" + yymmdd_hhnnss of t + ".bak".
QString BackupFilePath(const QDateTime& t);

// A consistent copy of the open database under the name of the current time (from the clock
// seam) in the backup folder, created when missing; an existing file of that name is replaced.
// On a server the copy is the same kind of file: an SQLite database of this system's schema
// holding the server's rows and key sequences as they stood at one moment, so that a backup
// restores on either engine.
TMaintenanceResult BackupDatabase();
// The same copy under the name given (the command line's "backup FILE"): it is made beside the
// target and takes its place whole, replacing a file of that name.
TMaintenanceResult BackupDatabaseTo(const QString& target);

// Replaces the database with the chosen file: checks that it is an SQLite database with the
// three tables, whole and with intact pages (a backup of an earlier schema version is brought up
// to date when it is opened), keeps a copy of the current database in the backup folder,
// closes the connection, puts a copy of the chosen file in place (copy, then rename) and opens
// it. Any failure leaves the previous database in place and working.
// On a server: the same check (an earlier version is brought up to date on a copy), a backup of
// the server's data in the backup folder, then in one transaction the file's rows, with their
// keys, take the place of the server's, and each key sequence goes on above every key the file or
// the server ever gave. Any failure leaves the server's data as it was.
TMaintenanceResult RestoreDatabase(const QString& chosenFile);

// Removes what a backup or restore that was cut short (the program killed, the power lost) left
// behind: partial copies in the backup folder, and the incoming or previous copy of the database
// file given (the one in use, which --database may have put outside the program folder) beside it. Runs when
// the data module is created (at start-up) and before every backup and restore.
void RemoveMaintenanceLeftovers(const QString& database);

// Empties UserInfo, TerminalInfo and BuildInfo, in that order, each through ExecuteSQL (a failing
// delete reports itself and the next one still runs). ok only when all three succeeded.
TMaintenanceResult InitDatabase();

// The whole check of the database file beside the program (the command line's "check"): what
// CheckDatabaseFile judges with integrity (with the engine's whole check of every page and every
// index against its table). Changes nothing (a journal a crash left is rolled back, as at every
// start).
TDatabaseCheck CheckDatabase();
// The same check of another SQLite file (the command line's --database FILE).
TDatabaseCheck CheckDatabase(const QString& path);
// The check of a server's database on a connection of its own (the command line's "check" with
// --database URL): its tables, their columns and its version. Changes nothing.
TDatabaseCheck CheckServer(const TDatabaseTarget& target);
