#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// What a refusal of the database engine is about. Either the values of the one row being written
// (a constraint, a text the engine cannot hold): a run of many rows reports that row and goes on.
// Or the database itself, its disk or its connection (read-only, full, held by another program, an
// I/O error, a lost server): nothing more can be written, and a run stops there and says why in
// words. Any thread (it only reads the codes it is given); FailureOf reads the connection it is
// given and is for the thread that uses that connection.
struct SqlFailure {
    bool aboutTheRow = false; // the row's own values; otherwise the database, the disk or the connection
    bool inUse = false;       // the database is held by another program (not damaged, not full)
    QString words;            // the database's trouble in words ("磁盘已满"); empty for a row's values
    QString detail;           // the engine's own text

    // words（detail）, or the detail alone for a row's values.
    QString Describe() const;
};

// SQLite: the result code of the failure (primary or extended) and the operating system's error
// number behind it (0 when none).
SqlFailure SqliteFailure(int code, int systemError, const QString& detail);
// PostgreSQL: the SQLSTATE of the failure and whether the connection is still there.
SqlFailure ServerFailure(const QString& sqlstate, bool connected, const QString& detail);
// (A failure Qt reported on a connection: FailureOf of engine/Engine.h, which reads the engine's
// own codes.)
