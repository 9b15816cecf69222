#pragma once

// The SQLite file: the program's own database file beside it, opened through Qt's SQLite driver
// and, for the runs over a whole community, through the SQLite library on the same handle.

#include "Engine.h"

// VACUUM INTO on a connection of its own: a consistent copy of the last committed state of a
// database file, whatever the program's own connection is reading at the time. The error text,
// empty when it worked.
QString VacuumInto(const QString& database, const QString& target);

class SqliteEngine final : public Engine {
public:
    QString DriverName() const override;
    bool ConnectionAlive(const QSqlDatabase& db) const override;
    void AimAtExisting(QSqlDatabase& db, const DatabaseTarget& target) const override;
    bool ConnectionMayStayOpen() const override;
    QString BoolLiteral(bool value) const override;
    QString BeginStatement() const override;
    bool SavepointPerStatement() const override;
    QString SchemaFolder() const override;
    std::optional<int> ReadSchemaVersion(QSqlQuery& q) const override;
    bool RecordSchemaVersion(QSqlQuery& q, int version) const override;
    void BeginSchemaChange(QSqlDatabase& db) const override;
    std::optional<QSqlError> HoldSchema(QSqlDatabase& db) const override;
    void ReleaseSchema(QSqlDatabase& db) const override;
    QString TablesQuery() const override;
    std::optional<int> QueryColumns(QSqlQuery& q, const QString& table) const override;
    std::unique_ptr<PreparedBackend> Prepare(const QSqlDatabase& db, const QString& sql) const override;
    void SetForwardOnly(QSqlQuery& query) const override;
    std::optional<qint64> KeyOfInsert(QSqlQuery& query) const override;
    qint64 LastInsertKey(QSqlDatabase& db) const override;
    SqlFailure FailureOf(const QSqlDatabase& db, const QSqlError& error,
                         const QString& detail) const override;
    SqlFailure NotOpenFailure(const QString& detail) const override;
    SqlFailure ReadFailure(const QSqlError& error) const override;
    QString PageQuery(const QString& columns, const QString& from, const QString& order) const override;
    bool NullsFirst() const override;
    QString ExportCountQuery(const QString& filterClause) const override;
    QString ExportQuery(const QString& statement, bool placeless) const override;
    bool ImportsByCopy() const override;
    int ImportLinesPerCommit() const override;
    std::unique_ptr<OwnerCopy> BeginOwnerCopy(const QSqlDatabase& db, qint64 newestBefore,
                                              ImportRunNotes& run, SqlFailure& failure) const override;
    QString ChangeMark(const QSqlDatabase& db) const override;
    QString IndexHint(const QString& index) const override;
    QString DatabaseFile(const DatabaseTarget& target) const override;
    QString BackupInto(const QSqlDatabase& db, const QString& file) const override;
    void LoadBackup(const QString& file, QSqlDatabase& db) const override;
    DatabaseCheck Check(const DatabaseTarget& target) const override;
    QString CardSerialLock() const override;
};
