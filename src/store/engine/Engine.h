#pragma once

// The one place where the SQLite file and a PostgreSQL server differ. Everything else in the
// program runs the same statements on both, bound the same way: a difference between the two goes
// here, as one pure method that both engines provide (SqliteEngine, PgEngine), never as a test of
// which engine is in use. The engine is chosen once, from the settings: DatabaseTarget::IsServer()
// picks it (EngineFor) and names the target in texts; nothing else branches on it, and nothing
// outside this folder asks which engine it is on (tests/store/tst_layout.cpp looks).

#include "store/Schema.h"
#include "store/SqlFailure.h"
#include "store/SqlText.h"
#include "store/UserInfoRec.h"

#include <QByteArrayView>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// What an import run knows of its owners across its commits, so that a commit may leave out the
// passes that would find nothing: the delete of the rows its owners replace and the taking of the
// serials they bring from other owners. ImportBatch keeps it; a server's copy reads it and notes
// its commit in it.
struct ImportRunNotes {
    // The table held no owners when the run began, and as far as the batch can tell nothing but the
    // run has changed the database since: its rows are those the run added (a server's copy makes
    // sure from the rows themselves before it relies on this).
    bool onlyOwn = false;
    // An owner of the commit has the key (card number, building, unit) of an earlier owner of the
    // run, or a key that cannot be told apart from one.
    bool keyAgain = false;
    // An owner of the commit brings a serial that an owner of an earlier commit of the run brought,
    // or one that cannot be told apart from one.
    bool serialAgain = false;
    // The engine's names of the run's commits kept so far, and of the one under way once its copy
    // has finished (a server: the numbers of their transactions).
    QStringList commits;
    QString current;
};

// The owners of one commit of an import going to the server in one copy (Engine::BeginOwnerCopy).
// Dropped before Finish, it ends the copy unfinished: the transaction then keeps none of it.
class OwnerCopy {
public:
    virtual ~OwnerCopy() = default;
    // Sends one owner, in file order: the server takes them in while the next ones are read. False
    // when the connection no longer takes them (Finish then tells why).
    virtual bool Add(const TuserInfoRec& rec) = 0;
    // Ends the copy: each owner takes the place of the rows with its card number in its building
    // and unit (a later owner of the same key replacing an earlier one), so that the rows are those
    // of the owners imported one by one; then the card serials the copied owners that remain bring
    // are taken from the owners before the copy (ClearOtherHoldersStatement's rule, so the batch
    // need not run it).
    // False with what the failure was about.
    virtual bool Finish(SqlFailure& failure) = 0;
};

// A statement prepared once through the engine's own library (see PreparedStatement, which holds one).
class PreparedBackend {
public:
    virtual ~PreparedBackend() = default;
    virtual void Name(const QStringList& names) = 0;
    virtual void BindAt(int index, const QVariant& value) = 0; // index from Name, from 1
    // The same for a text (a null one binds an empty text) and a whole number, without a variant.
    virtual void BindTextAt(int index, QStringView text) = 0;
    virtual void BindIntAt(int index, qint64 value) = 0;
    virtual void Bind(const SqlParams& params) = 0;     // names already checked
    virtual int IndexOf(const QString& name) const = 0; // 0 when no parameter has the name
    virtual bool Exec() = 0;
    virtual bool Next() = 0;
    virtual void Reset() = 0;
    virtual bool IsNull(int column) const = 0;
    virtual QByteArrayView Text(int column) const = 0;
    virtual QByteArrayView Blob(int column) const = 0;
    virtual qint64 Int(int column) const = 0;
    virtual QString ErrorText() const = 0;
    virtual SqlFailure Failure() const = 0;
    virtual bool InTransaction() const = 0;
};

class Engine {
public:
    virtual ~Engine() = default;

    // ---- Connection -------------------------------------------------------------------------
    // The Qt driver of a connection to this engine.
    virtual QString DriverName() const = 0;
    // Whether an open connection still reaches its database (a server may have gone away; the file
    // is always there).
    virtual bool ConnectionAlive(const QSqlDatabase& db) const = 0;
    // Points a connection of its own (not yet open) at the target's database, such that opening it
    // never makes a database: a file that is not there stays absent and the open fails.
    virtual void AimAtExisting(QSqlDatabase& db, const DatabaseTarget& target) const = 0;
    // Whether a connection of its own may stay open between uses: it holds nothing a restore, an
    // emptying or a removal of the database needs (a server), rather than a file that a restore
    // puts another in the place of.
    virtual bool ConnectionMayStayOpen() const = 0;

    // ---- Literals ---------------------------------------------------------------------------
    // The literal of a yes/no column in statement text (where a partial index must match it).
    virtual QString BoolLiteral(bool value) const = 0;

    // ---- Transactions -----------------------------------------------------------------------
    // The statement that opens the outermost change (the file takes its write lock at once).
    virtual QString BeginStatement() const = 0;
    // Whether a statement of a batch needs a savepoint of its own to fail alone (a server drops
    // the whole transaction on a failed statement; the file undoes the statement by itself).
    virtual bool SavepointPerStatement() const = 0;

    // ---- Schema -----------------------------------------------------------------------------
    // The folder of this engine's schema steps under :/store/schema/ ("" or "pg/").
    virtual QString SchemaFolder() const = 0;
    // The schema version the database holds (0 for none); none when it cannot be read (q's error
    // says why).
    virtual std::optional<int> ReadSchemaVersion(QSqlQuery& q) const = 0;
    // Records the version after the steps; false when the engine refuses (q says why).
    virtual bool RecordSchemaVersion(QSqlQuery& q, int version) const = 0;
    // Opens the transaction in which the schema goes in, under the lock that keeps other desks
    // out until it is committed; throws OperationError.
    virtual void BeginSchemaChange(QSqlDatabase& db) const = 0;
    // Holds the schema still (shared) while it is judged, and lets it go: the error when it could
    // not be held.
    virtual std::optional<QSqlError> HoldSchema(QSqlDatabase& db) const = 0;
    virtual void ReleaseSchema(QSqlDatabase& db) const = 0;

    // ---- Catalog ----------------------------------------------------------------------------
    // The query of the names of the database's tables (first column).
    virtual QString TablesQuery() const = 0;
    // Runs the query of a table's columns on q; the column that holds their names comes back.
    virtual std::optional<int> QueryColumns(QSqlQuery& q, const QString& table) const = 0;

    // ---- Statements -------------------------------------------------------------------------
    // A statement prepared on an open connection of this engine; throws OperationError.
    virtual std::unique_ptr<PreparedBackend> Prepare(const QSqlDatabase& db, const QString& sql) const = 0;
    // Makes a query forward-only where the engine allows it with rows still to read.
    virtual void SetForwardOnly(QSqlQuery& query) const = 0;
    // The key the last insert gave, read right after it ran; none when it is asked for later
    // (LastInsertKey).
    virtual std::optional<qint64> KeyOfInsert(QSqlQuery& query) const = 0;
    virtual qint64 LastInsertKey(QSqlDatabase& db) const = 0;
    // What a refusal on the open connection was about, the detail in words.
    virtual SqlFailure FailureOf(const QSqlDatabase& db, const QSqlError& error,
                                 const QString& detail) const = 0;
    // The same for a connection that could not be opened.
    virtual SqlFailure NotOpenFailure(const QString& detail) const = 0;
    // The same for a read of a connection's own (the check of a database).
    virtual SqlFailure ReadFailure(const QSqlError& error) const = 0;

    // ---- Lists ------------------------------------------------------------------------------
    // The page query of a list: columns, from, order; :list_limit and :list_offset are bound.
    virtual QString PageQuery(const QString& columns, const QString& from, const QString& order) const = 0;
    // Whether Null sorts before every value in an ascending order.
    virtual bool NullsFirst() const = 0;

    // ---- Owner data files -------------------------------------------------------------------
    // The count before an export, on the owners the filter clause picks: their number, and how many
    // of them lack a building, unit or room where the engine's order needs to know it (a constant 0
    // where it does not), in one pass.
    virtual QString ExportCountQuery(const QString& filterClause) const = 0;
    // The export's query in the file's order (owners without a place first, owners of one room in
    // the order they were added), from the file's statement, knowing whether an owner lacks a place.
    virtual QString ExportQuery(const QString& statement, bool placeless) const = 0;

    // The bulk import: whether the owners of a commit go to the server in one copy (false: each
    // owner through the prepared delete and insert, as the file takes them fastest).
    virtual bool ImportsByCopy() const = 0;
    // Owner lines per commit of an import: a crash loses at most the lines since the last one. The
    // file waits for the disk at each commit; the server's checks of a commit (the rows its owners
    // replace, the serials they take) pass over every owner once, so it takes bigger commits.
    virtual int ImportLinesPerCommit() const = 0;
    // Where it does: a copy of one commit's owners begun inside the import's transaction, after the
    // newest owner's idx newestBefore was read; nothing else may run on the connection until the
    // copy is finished or dropped. The copy reads the run's notes when it finishes, and notes its
    // commit there. Null, with what the failure was about, when it could not begin.
    virtual std::unique_ptr<OwnerCopy> BeginOwnerCopy(const QSqlDatabase& db, qint64 newestBefore,
                                                      ImportRunNotes& run, SqlFailure& failure) const = 0;
    // A mark of what has been committed to the database: two equal marks read on one connection mean
    // that nothing was committed in between, on it or on any other connection. Empty where the
    // engine cannot tell this way (a server: its owner copy looks at the rows themselves).
    virtual QString ChangeMark(const QSqlDatabase& db) const = 0;
    // The hint that makes a statement use an index (the file's planner has no statistics to choose
    // by; a server keeps its own): text to put after the table's name.
    virtual QString IndexHint(const QString& index) const = 0;

    // ---- Backup, restore, check --------------------------------------------------------------
    // The file that holds the database; empty when a server keeps it.
    virtual QString DatabaseFile(const DatabaseTarget& target) const = 0;
    // Writes a backup file (an SQLite file of this system's schema, on either engine) of the
    // committed state of the database db is connected to; the error text, empty when it worked.
    virtual QString BackupInto(const QSqlDatabase& db, const QString& file) const = 0;
    // Puts the rows of a checked backup file of the current schema in place of those of the
    // database, in one transaction; throws OperationError (nothing changed). The file engine
    // restores by putting the file itself in place, and has nothing to do here.
    virtual void LoadBackup(const QString& file, QSqlDatabase& db) const = 0;
    // Judges the target's database as a whole (see CheckDatabaseFile, CheckOpenDatabase).
    virtual DatabaseCheck Check(const DatabaseTarget& target) const = 0;

    // ---- Locks ------------------------------------------------------------------------------
    // The statement that keeps other desks from registering the same card serial (:CardID, in
    // lower case) until the change ends; empty on the file, whose writer holds the whole file.
    virtual QString CardSerialLock() const = 0;
};

// The engine of a target, of a connection.
const Engine& EngineFor(const DatabaseTarget& target);
const Engine& EngineOf(const QSqlDatabase& db);
// A failure Qt reported on a connection of the engine (its engine's code is in the error), the
// connection read for what else it tells (still connected, the system's error number).
SqlFailure FailureOf(const QSqlDatabase& connection, const Engine& engine, const QSqlError& error);
// The engine of a database file: the program's file, and a backup on either engine.
const Engine& FileEngine();
