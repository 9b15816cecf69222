#pragma once

#include "SqlText.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <deque>
#include <optional>

// What datasets and statements run on: the data module's connection (Tdm).
class Engine;

class StatementConnection {
public:
    virtual ~StatementConnection() = default;
    // The open connection, opened on first use; throws OperationError when it cannot be.
    virtual QSqlDatabase database() = 0;
    // The connection as it stands, without opening it.
    virtual QSqlDatabase CurrentConnection() const = 0;
    // The engine the connection is to.
    virtual const Engine& SqlEngine() const = 0;
};

// A dataset driven by a command text on the connection of the data module: close, set the
// statement, open; then the record count and the fields of the current row by column name
// (names compared without regard to case). Engine errors throw OperationError; so does a
// statement whose parameters and values do not match (see ParameterMismatch).
class DataSet {
public:
    DataSet(StatementConnection& owner, QString name);
    DataSet(const DataSet&) = delete;
    DataSet& operator=(const DataSet&) = delete;

    // Runs the statement and stands on its first row (Eof when it returned none).
    void Open(const QString& sql, const SqlParams& params = {});
    void Close();
    bool Active() const { return m_query.has_value(); }
    const QString& Name() const { return m_name; }
    const QString& CommandText() const { return m_sql; }

    // True when there is no current row: the result was empty or Next went past its last row.
    bool Eof() const { return !m_onRow; }
    void Next();
    // Rewinds to the first row (runs the statement again).
    void First();
    // The number of rows the statement returns.
    int RecordCount();

    // The column of the current row; Null when the value is Null. No current row, or no
    // column of that name, throws OperationError.
    QVariant Field(const QString& column) const;
    bool HasField(const QString& column) const;

private:
    // Rows read ahead when the statement runs; a result of no more rows is read whole.
    static constexpr size_t ReadAhead = 64;

    void run();
    // The next row into m_current; false at the end.
    bool pull();
    void finishRows();

    StatementConnection& m_owner;
    QString m_name;
    QString m_sql;
    SqlParams m_params;
    std::optional<QSqlQuery> m_query;
    QSqlRecord m_record;  // the columns
    QSqlRecord m_current; // the current row
    std::deque<QSqlRecord> m_ahead;
    bool m_done = false; // every row has been read from the statement
    bool m_onRow = false;
    int m_position = 0; // rows passed since the first one
    int m_count = -1;
};

// The parameter query for statements that change data: a statement with named, typed values.
class StatementRunner {
public:
    explicit StatementRunner(StatementConnection& owner);
    StatementRunner(const StatementRunner&) = delete;
    StatementRunner& operator=(const StatementRunner&) = delete;

    // Runs one statement; throws OperationError with the engine's text when it fails, and
    // refuses (throws) a statement whose parameters and values do not match.
    void Exec(const QString& sql, const SqlParams& params = {});
    void Close();
    int RowsAffected() const { return m_rowsAffected; }
    // The key of the row the last insert made.
    qint64 LastInsertId() const;
    const QString& CommandText() const { return m_sql; }

private:
    StatementConnection& m_owner;
    QString m_sql;
    int m_rowsAffected = 0;
    std::optional<qint64> m_lastInsertId; // none when the engine tells it only when asked
    std::optional<QSqlQuery> m_query;
};
