#pragma once

#include "Database.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The database schema, kept as numbered SQL resources (:/store/schema/<n>.sql, each taking the
// file from version n-1 to n) and recorded in PRAGMA user_version.

constexpr int SchemaVersion = 4;

// The tables the program needs, and the columns each must have.
struct RequiredTable {
    const char* name;
    QStringList columns;
};
const QList<RequiredTable>& RequiredTables();
// The tables that are the office's own rather than the community's: the operation log and the
// passwords (the first column is each one's key). A backup holds them; a restore and the emptying
// of the database leave them as they are.
const QList<RequiredTable>& OfficeTables();

// The statements of one schema step for an engine, comments left out. A server keeps its
// version in the one-row table SchemaInfo.
QStringList SchemaStatements(int version, DatabaseEngine engine = DatabaseEngine::SQLite);

// On a server, the advisory lock under which a desk puts the schema in (exclusive, until its change
// is committed) and under which a desk reads the schema to judge it (shared).
constexpr int SchemaLockKey = 0x1CCA4D01;

// Brings an open database from version `from` to SchemaVersion in one transaction (on a server,
// from the version it holds when the transaction has its lock). Throws OperationError (nothing
// changed) when a statement fails.
void ApplySchema(QSqlDatabase& db, int from);
// The steps from version `from` to SchemaVersion, and the version recorded, inside a transaction
// the caller holds (the restore's, on the file). Throws OperationError when a statement fails.
void ApplySchemaSteps(QSqlDatabase& db, int from);

struct DatabaseCheck {
    bool ok = false;
    bool empty = false; // ok, but holds nothing: no table, no version (the schema may go in)
    QString reason;     // why the file cannot be used, for the operator
    int version = 0;
};

// Judges an existing file: an SQLite database, not of a newer schema (nor of a version below 0),
// with the three tables and their columns; with integrity, also whole (its size is its page count
// times its page size) and passing the engine's whole check (every page, every index against its
// table). The reasons tell apart a file that is not a
// database, a damaged or incomplete one, another program's database and a newer version.
// The file is opened read-write, as the engine intends, so that a journal a crash left beside it
// is rolled back before it is judged; nothing else is written.
DatabaseCheck CheckDatabaseFile(const QString& path, bool integrity);

// Judges the database of an open connection the same way (tables of the current schema, their
// columns, the version), without its integrity: on a server that is the server's business; on the
// file, the restore judges the database it holds locked.
DatabaseCheck CheckOpenDatabase(QSqlDatabase& db);
