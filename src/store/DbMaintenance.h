#pragma once

#include "Schema.h"

#include <QDateTime>
#include <QString>

// Backup, restore and emptying of the database, for the maintenance window. Each returns what
// the window needs: ok, and on failure the text to show (empty when the failure has already
// been shown, as ExecuteSQL shows its own). The window shows "备份完成", "恢复完成" or
// "初始化完成" only when ok is true.
struct MaintenanceResult {
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
// Each backup, restore and emptying is recorded in the operation log (the copy of the command line
// records its own entry: `logged` false). Entries waiting to be written are flushed first, so
// that a backup holds the log up to its time; a restore's entry comes after the restore.
MaintenanceResult BackupDatabase();
// The same copy under the name given (the command line's "backup FILE"): it is made in a part file
// beside the target (locked while it is written) and takes the target's place whole, replacing a
// file of that name. Part files a killed backup left in that folder go first.
MaintenanceResult BackupDatabaseTo(const QString& target, bool logged = true);

// Replaces the database with the chosen file. First a copy of it beside the database is checked:
// an SQLite database with the three tables, of a version from 0 to this program's, whole and
// passing the engine's whole check (every page, every index against its table); a copy of an
// earlier version is brought up to date. Nothing else is touched before that.
// On the file, a connection of its own then takes the database's write lock (another program in the
// middle of a change makes the restore give up after a short wait, saying so), keeps a copy of the
// database in the backup folder under that lock, and in one transaction puts the checked copy's rows,
// with their keys, in place of the database's; each key sequence goes on above every key either
// ever gave. The database stays the same file, so programs that have it open read the restored rows
// at their next read. A database file the program cannot use at all is replaced as a whole instead.
// The program's own connection is closed for it and opened again. Any failure leaves the database as
// it was.
// On a server: the same check, a backup of the server's data in the backup folder, then in one
// transaction the file's rows, with their keys, take the place of the server's, and each key
// sequence goes on above every key the file or the server ever gave. Any failure leaves the
// server's data as it was.
// The copy kept gets the first of the names db_<time>_before_restore.bak, …_2.bak, …_3.bak … that
// no file has: it never takes another file's place.
MaintenanceResult RestoreDatabase(const QString& chosenFile, bool logged = true);

// Removes what a backup or restore that was cut short (the program killed, the power lost) left
// behind: part files in the backup folder, and the incoming copy of a restore beside the database
// file given (the one in use, which --database may have put outside the program folder). A part
// file that a backup or restore running at this moment (in any program) holds stays. Runs when the
// run starts (StartDataModule) and before every backup and restore.
void RemoveMaintenanceLeftovers(const QString& database);

// Empties UserInfo, TerminalInfo and BuildInfo, in that order, each through ExecuteSQL (a failing
// delete reports itself and the next one still runs). ok only when all three succeeded.
MaintenanceResult InitDatabase();

// The whole check of the database file beside the program (the command line's "check"): what
// CheckDatabaseFile judges with integrity (with the engine's whole check of every page and every
// index against its table). Changes nothing (a journal a crash left is rolled back, as at every
// start).
DatabaseCheck CheckDatabase();
// The same check of another SQLite file (the command line's --database FILE).
DatabaseCheck CheckDatabase(const QString& path);
// The check of a target's database (the command line's "check"): a file as CheckDatabase(path)
// does; a server's on a connection of its own (its tables, their columns and its version).
// Changes nothing.
DatabaseCheck CheckTarget(const DatabaseTarget& target);
