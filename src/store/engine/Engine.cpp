#include "Engine.h"

#include "PgEngine.h"
#include "SqliteEngine.h"
#include "store/Database.h"

#include <QSqlDriver>

namespace {

const SqliteEngine& fileEngine()
{
    static const SqliteEngine engine;
    return engine;
}

const PgEngine& serverEngine()
{
    static const PgEngine engine;
    return engine;
}

} // namespace

const Engine& EngineFor(const DatabaseTarget& target)
{
    if (target.IsServer())
        return serverEngine();
    return fileEngine();
}

const Engine& EngineOf(const QSqlDatabase& db)
{
    if (db.driverName() == serverEngine().DriverName())
        return serverEngine();
    return fileEngine();
}

const Engine& FileEngine()
{
    return fileEngine();
}

void SetForwardOnlyOnFile(QSqlQuery& query)
{
    const QSqlDriver* driver = query.driver();
    if (driver && driver->dbmsType() == QSqlDriver::PostgreSQL)
        serverEngine().SetForwardOnly(query);
    else
        fileEngine().SetForwardOnly(query);
}

SqlFailure FailureOf(const QSqlDatabase& connection, const Engine& engine, const QSqlError& error)
{
    const QString detail =
        error.databaseText().trimmed().isEmpty() ? error.text().trimmed() : error.databaseText().trimmed();
    if (!connection.isOpen())
        return engine.NotOpenFailure(detail);
    return engine.FailureOf(connection, error, detail);
}
