#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The database schema, kept as numbered SQL resources (:/store/schema/<n>.sql, each taking the
// file from version n-1 to n) and recorded in PRAGMA user_version.

constexpr int SchemaVersion = 1;

// The tables the program needs, and the columns each must have.
struct TRequiredTable {
    const char* name;
    QStringList columns;
};
const QList<TRequiredTable>& RequiredTables();

// The statements of one schema step, comments removed.
QStringList SchemaStatements(int version);

// Brings an open database from version `from` to SchemaVersion in one transaction.
// Throws OperationError (nothing changed) when a statement fails.
void ApplySchema(QSqlDatabase& db, int from);

struct TDatabaseCheck {
    bool ok = false;
    QString reason; // why the file cannot be used, for the operator
    int version = 0;
};

// Looks at an existing file without changing it (read-only connection): an SQLite database,
// not of a newer schema, with the three tables and their columns; with integrity, also the
// engine's quick check of every page.
TDatabaseCheck CheckDatabaseFile(const QString& path, bool integrity);
