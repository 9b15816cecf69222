#pragma once

#include "SqlFailure.h"
#include "SqlText.h"

#include <QByteArrayView>
#include <QString>
#include <QStringEncoder>
#include <QStringList>
#include <QVector>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct pg_conn;
struct pg_result;
class Tdm;

// A statement prepared once on the data module's connection and run many times over, for the runs
// that go through a whole community at once (the owner data import and export): there, preparing
// each time and turning every value into a variant would cost more than the work itself. Values
// are bound by name, never pasted into the text. User-interface thread only, and only while the
// connection stays open (the run owns its statements and finishes them before it returns).
//
// On a PostgreSQL server the statement goes through libpq on the same connection: the ":name"
// parameters become "$n", the values are sent apart from the text (bytes as binary), and the rows
// of a query come one at a time as the server sends them, so that a community is never held in
// memory whole. While a query's rows are being read nothing else may run on the connection.
// The libpq connection under the data module's connection to a server, free for a statement of
// its own. Throws OperationError when the database cannot be used or is not a server.
pg_conn* ServerConnection(Tdm& module);

class TPrepared {
public:
    // Throws OperationError when the database cannot be used or the statement not prepared.
    TPrepared(Tdm& module, const QString& sql);
    ~TPrepared();
    TPrepared(const TPrepared&) = delete;
    TPrepared& operator=(const TPrepared&) = delete;

    const QString& Sql() const { return m_sql; }

    // The parameters of the statement in a fixed order, for BindAt: names as in SqlParams.
    void Name(const QStringList& names);
    // Binds value i to the i-th name given to Name (a null variant, or a null text, binds NULL).
    // Bytes are not copied: they must stay alive until the statement has run.
    void BindAt(int i, const QVariant& value);
    // The same for a text (a null one binds an empty text, as TextValue gives it) and a whole
    // number, without a variant: an import binds a community's values one by one.
    void BindTextAt(int i, QStringView text);
    void BindIntAt(int i, qint64 value);
    // Binds the values to the parameters they name.
    void Bind(const SqlParams& params);

    // Runs a statement that returns no rows; false when the engine refuses it (ErrorText says why).
    bool Exec();
    // Steps a query: true on a row, false at the end; throws OperationError on an engine error.
    bool Next();
    // Makes the statement ready to run again (the bound values stay).
    void Reset();

    // Columns of the current row, from 0. Text is the engine's UTF-8; Null gives IsNull.
    bool IsNull(int column) const;
    QByteArrayView Text(int column) const;
    QByteArrayView Blob(int column) const;
    qint64 Int(int column) const;

    // The engine's text for the last failure.
    QString ErrorText() const;
    // What the last failure of Exec was about: the row's values, or the database, its disk or its
    // connection.
    TSqlFailure Failure() const;
    // Whether the connection is inside a transaction (false after the engine dropped one).
    bool InTransaction() const;

private:
    void bind(int index, const QVariant& value);
    void bindServer(int index, const QVariant& value);
    void finishServerRows();

    QString m_sql;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    QVector<int> m_indexes;
    std::vector<QByteArray> m_texts; // the UTF-8 of each parameter's text
    QStringEncoder m_encoder{QStringEncoder::Utf8};

    // A server's statement: its text and names, the values of its parameters, the current row.
    pg_conn* m_pg = nullptr;
    QByteArray m_pgSql;
    QStringList m_pgNames;
    std::vector<QByteArray> m_values;
    std::vector<char> m_nulls;
    std::vector<int> m_formats;
    pg_result* m_row = nullptr;
    bool m_running = false; // a query's rows are coming
    QString m_error;
    // The last failure of Exec: the engine's code (SQLite) or SQLSTATE (server), and the operating
    // system's error number behind a SQLite one.
    int m_failureCode = 0;
    int m_systemError = 0;
    QString m_sqlstate;
    mutable std::vector<QByteArray> m_blobs; // bytea columns of the row, from the server's hex text
};
