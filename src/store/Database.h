#pragma once

#include <QString>

class QSqlDatabase;

// Which database the program works on: the SQLite file QDR_DB.GRes in the program folder (the
// default, which needs nothing), or a PostgreSQL server that several desks share.
//
// A server is named by the settings file "database.ini" in the program folder:
//
//     [PostgreSQL]
//     host=192.168.1.20
//     port=5432
//     dbname=iccard
//     user=office
//
// or by --database on the command line, as a URL ("postgresql://office@192.168.1.20:5432/iccard")
// or as libpq's key=value text. The password is never written in either: libpq takes it from the
// user's ~/.pgpass (or PGPASSFILE), or the server authenticates the user by other means. A
// --database that is neither names an SQLite file.

enum class DatabaseEngine { SQLite, PostgreSQL };

struct DatabaseTarget {
    DatabaseEngine engine = DatabaseEngine::SQLite;
    QString file; // SQLite: the database file; empty for the program folder's QDR_DB.GRes
    // PostgreSQL: the server and the database on it. host may be a folder (a Unix socket).
    QString host;
    int port = 5432;
    QString dbname;
    QString user;
    QString options; // further libpq settings ("sslmode=require ..."), as key=value text

    bool IsServer() const { return engine == DatabaseEngine::PostgreSQL; }
    // The SQLite file (the program folder's when none was given).
    QString FilePath() const;
    // For the operator: "PostgreSQL office@192.168.1.20:5432/iccard", or the file's path.
    QString Describe() const;
    // A URL that names the same database (postgresql://..., or the file's path).
    QString Url() const;
    bool operator==(const DatabaseTarget&) const = default;
};

// "database.ini" in the program folder.
QString DatabaseSettingsPath();

// A --database value: a postgresql:// (or postgres://) URL or libpq key=value text names a server,
// anything else an SQLite file. Throws OperationError, in the operator's words, for a text libpq
// cannot read, for one that carries a password, and for a server without a database name.
DatabaseTarget ParseDatabaseUrl(const QString& text);

// The settings file, when there is one; the default target otherwise. Throws OperationError for a
// file that names no server properly or holds a password.
DatabaseTarget ReadDatabaseSettings(const QString& path);

// The database of this run: the one given with --database, else the settings file's, else the
// program folder's file. Throws OperationError as ReadDatabaseSettings does.
DatabaseTarget ConfiguredDatabase();
// --database of the command line (empty: none given).
void SetDatabaseOverride(const QString& text);
QString DatabaseOverride();

// Sets a QPSQL connection (not yet open) to the target's server, database and user, with the
// program's name and a time limit for a server that does not answer.
void ConfigureServerConnection(QSqlDatabase& db, const DatabaseTarget& target);
