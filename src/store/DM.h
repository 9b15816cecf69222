#pragma once

#include "DataSet.h"
#include "Database.h"
#include "SqlFailure.h"
#include "SqlText.h"
#include "UserInfoRec.h"
#include "Values.h"

#include <QByteArray>
#include <QDate>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// The data module: the one connection to the database (the file beside the program, or the
// PostgreSQL server the desks share), the shared datasets, the statement runner with its error box,
// the field readers and the changes (transactions, savepoints, batches). The owner statements are
// in OwnerStatements.h, the building tree in BuildTree.h, stored values in Values.h.

class Tdm : public StatementConnection {
public:
    // On the database of this run (ConfiguredDatabase); a settings file that cannot be used is
    // reported at the first use.
    Tdm();
    explicit Tdm(const DatabaseTarget& target);
    ~Tdm() override;
    Tdm(const Tdm&) = delete;
    Tdm& operator=(const Tdm&) = delete;

    // AppPath + "QDR_DB.GRes".
    static QString DatabasePath();
    // The database this module works on.
    const DatabaseTarget& Target() const { return m_target; }
    // The engine of the database: where the file and a server differ (engine/Engine.h).
    const Engine& SqlEngine() const override;
    bool IsServer() const { return m_target.IsServer(); } // for texts and tests; the code asks SqlEngine()
    // The literal of a yes/no value in statement text: 1 and 0 on the file (where the indexes on
    // marks are written with them), true and false on a server (boolean columns).
    QString BoolLiteral(bool value) const;

    // The open connection. Opens it on first use: a missing (or empty) file is created with the
    // schema; an existing file is used only when it is an SQLite database with the three tables,
    // and is otherwise left untouched. A server database gets the schema when it holds none of
    // the tables. When the database cannot be used, the first failure shows a message naming the
    // file or the server and the reason, and every use throws OperationError; the program goes
    // on, and each use tries again (a server may come back). A server connection that was lost is
    // opened anew at the next use outside a change.
    QSqlDatabase database() override;
    QSqlDatabase CurrentConnection() const override { return con1; }
    bool IsOpen() const;
    // Opens like database() but shows nothing: failures only throw.
    void OpenConnection();
    // Closes the parameter query and the connection, so that the file stands alone on disk.
    // Returns false (connection left open) when a change is still running or another user of the
    // file prevents it.
    bool CloseConnection();
    // Finishes the parameter query. (Lookups and lists read on datasets of their own, which
    // close when they go.)
    void CloseDataSets();

    // Runs one changing statement on qry1. On failure an error box shows "执行错误：" and the
    // statement with its values written in (the names in placeholders stay as placeholders), and
    // the result is false; nothing is thrown. Inside a change that has already failed
    // (Transaction) the statement does not run and the result is false, without a message.
    bool ExecuteSQL(const QString& sql, const SqlParams& params = {}, const QStringList& placeholders = {});
    // The key of the row the last insert of ExecuteSQL made.
    qint64 LastInsertId() const { return qry1.LastInsertId(); }

    // Opens ds on a statement that changes data and returns rows (a delete with "returning"), with
    // the error box and the rules of ExecuteSQL (but no savepoint of its own inside a batch).
    bool OpenSQL(DataSet& ds, const QString& sql, const SqlParams& params);

    // Fields of a dataset's current row. Text: empty for Null. Int: 0 for Null or empty text,
    // a conversion error (OperationError) for anything that is not a whole number.
    // Bool: false for Null, otherwise non-zero. Date: the stored date; Null or text that is not
    // a date throws.
    QString FieldAsText(const DataSet& ds, const QString& column) const;
    int FieldAsInt(const DataSet& ds, const QString& column) const;
    bool FieldAsBool(const DataSet& ds, const QString& column) const;
    QDate FieldAsDate(const DataSet& ds, const QString& column) const;

    // Groups the statements that follow into one commit, until CommitBatch: for runs of many
    // writes (the import), which otherwise wait for the disk once per statement. A statement or a
    // Transaction that fails inside a batch is undone alone, as outside one. False when it
    // cannot begin or commit (the batch is then undone as a whole). A refusal of the engine to
    // commit is shown in an error box, unless the caller takes it (failure), to say it in its own
    // words; failure also receives why a batch could not begin.
    bool BeginBatch(SqlFailure* failure = nullptr);
    bool CommitBatch(SqlFailure* failure = nullptr);
    // Undoes the innermost batch as a whole and ends it.
    void UndoBatch();

    // Whether a change (Transaction or batch) is running.
    bool InTransaction() const { return !m_levels.empty(); }

private:
    friend class Transaction;
    explicit Tdm(std::optional<DatabaseTarget> target);
    void openServer();
    struct Level {
        QString savepoint;
        bool allOrNothing;
        bool failed;
    };
    void beginLevel(bool allOrNothing);
    // Keeps (keep true and nothing failed) or undoes the innermost level; false when it was undone
    // or the engine refused. The engine's refusal goes to refusal when given, else to an error box.
    bool endLevel(bool keep, SqlFailure* refusal = nullptr);
    void markFailed();
    bool inFailedChange() const;

    // The connection, under a connection name of its own; reached through database(), which
    // opens it on first use.
    QSqlDatabase con1;
    StatementRunner qry1; // statements that change data (ExecuteSQL)
    QString m_connectionName;
    DatabaseTarget m_target;
    QString m_targetError; // the settings could not be read: every open fails with this
    bool m_openFailureShown = false;
    std::vector<Level> m_levels;
    SqlFailure m_beginError; // why the last level could not begin
};

// The data module of the program; created at start-up (and by tests).
extern Tdm* dm;

// For the operator: the database a data module works on ("本机文件 " and the file's path, or
// the server).
QString DatabaseInUse(const Tdm& module);

// One change made of several statements, all or nothing:
//
//     Transaction change;
//     dm->ExecuteSQL(first...);
//     dm->ExecuteSQL(second...);   // does not run when the first failed
//     return change.Commit();
//
// The first statement that fails reports itself; the ones after it do not run, and Commit undoes
// everything and returns false. An exception that leaves the scope before Commit undoes everything
// too. Changes nest (a savepoint each); inside a batch, a failed change is undone alone.
// User-interface thread only; no message box may wait for the operator while one is running.
class Transaction {
public:
    // Throws OperationError when the database cannot be used or the change cannot begin.
    explicit Transaction(Tdm& module);
    Transaction();
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Keeps the change when every statement of it succeeded (true); otherwise undoes it (false).
    // A refusal of the engine to keep it is reported here.
    bool Commit();

private:
    Tdm& m_dm;
    bool m_open = true;
};
