#include "SqliteEngine.h"

#include "store/Database.h"
#include "store/OperationError.h"
#include "store/OwnConnection.h"
#include "store/System.h"

#include <QSqlDriver>
#include <QStringEncoder>
#include <QUrl>
#include <atomic>
#include <sqlite3.h>
#include <stdexcept>
#include <vector>

namespace {

sqlite3* fileHandle(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

// A statement on the SQLite library, on the handle under Qt's connection.
class SqlitePrepared final : public PreparedBackend {
public:
    SqlitePrepared(const QSqlDatabase& db, const QString& sql) : m_sql(sql)
    {
        const QVariant handle = db.driver()->handle();
        if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
            throw OperationError(QStringLiteral("数据库驱动不是 SQLite"));
        m_db = *static_cast<sqlite3* const*>(handle.constData());
        if (!m_db)
            throw OperationError(QStringLiteral("数据库没有打开"));
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &m_stmt, nullptr) != SQLITE_OK) {
            const QString error = ErrorText();
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            throw OperationError(QStringLiteral("%1：%2").arg(error, sql));
        }
        m_texts.resize(size_t(sqlite3_bind_parameter_count(m_stmt)));
    }
    ~SqlitePrepared() override { sqlite3_finalize(m_stmt); }

    int IndexOf(const QString& name) const override
    {
        return sqlite3_bind_parameter_index(m_stmt, (QLatin1Char(':') + name).toUtf8().constData());
    }

    void Name(const QStringList& names) override
    {
        m_indexes.clear();
        for (const QString& name : names) {
            const int index = IndexOf(name);
            if (index == 0)
                throw OperationError(QStringLiteral("语句没有参数 :%1：%2").arg(name, m_sql));
            m_indexes.append(index);
        }
        if (m_indexes.size() != sqlite3_bind_parameter_count(m_stmt))
            throw OperationError(QStringLiteral("语句参数不匹配：%1").arg(m_sql));
    }

    void BindAt(int i, const QVariant& value) override { bind(m_indexes.at(i), value); }
    void BindTextAt(int i, QStringView text) override
    {
        const int index = m_indexes.at(i);
        QByteArray& utf8 = m_texts[size_t(index - 1)];
        utf8.resize(m_encoder.requiredSpace(text.size()));
        const char* end = m_encoder.appendToBuffer(utf8.data(), text);
        sqlite3_bind_text(m_stmt, index, utf8.constData(), int(end - utf8.constData()), SQLITE_STATIC);
    }
    void BindIntAt(int i, qint64 value) override { sqlite3_bind_int64(m_stmt, m_indexes.at(i), value); }

    void Bind(const SqlParams& params) override
    {
        for (const auto& p : params)
            bind(IndexOf(p.first), p.second);
    }

    bool Exec() override
    {
        const int rc = sqlite3_step(m_stmt);
        const bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
        m_failureCode = ok ? SQLITE_OK : rc;
        m_systemError = ok ? 0 : Os::ErrnoFromSystem(sqlite3_system_errno(m_db));
        // The error stays readable after the reset: sqlite3_reset gives the same code back.
        sqlite3_reset(m_stmt);
        return ok;
    }

    bool Next() override
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        const QString error = ErrorText();
        sqlite3_reset(m_stmt);
        throw OperationError(error);
    }

    void Reset() override { sqlite3_reset(m_stmt); }

    bool IsNull(int column) const override { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

    QByteArrayView Text(int column) const override
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QByteArrayView(text, text ? sqlite3_column_bytes(m_stmt, column) : 0);
    }

    QByteArrayView Blob(int column) const override
    {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
        return QByteArrayView(bytes, bytes ? sqlite3_column_bytes(m_stmt, column) : 0);
    }

    qint64 Int(int column) const override { return sqlite3_column_int64(m_stmt, column); }

    QString ErrorText() const override { return QString::fromUtf8(sqlite3_errmsg(m_db)); }

    SqlFailure Failure() const override { return SqliteFailure(m_failureCode, m_systemError, ErrorText()); }

    bool InTransaction() const override { return sqlite3_get_autocommit(m_db) == 0; }

private:
    void bind(int index, const QVariant& value)
    {
        if (value.isNull()) {
            sqlite3_bind_null(m_stmt, index);
            return;
        }
        switch (value.typeId()) {
        // A null text or byte array binds NULL, as the SQL layer binds it.
        case QMetaType::QString: {
            const QString& text = *static_cast<const QString*>(value.constData());
            if (text.isNull()) {
                sqlite3_bind_null(m_stmt, index);
                break;
            }
            // As UTF-8, the database's own text: the engine then stores it without a conversion
            // of its own. The buffer of each parameter is kept for the next row.
            QByteArray& utf8 = m_texts[size_t(index - 1)];
            utf8.resize(m_encoder.requiredSpace(text.size()));
            const char* end = m_encoder.appendToBuffer(utf8.data(), text);
            sqlite3_bind_text(m_stmt, index, utf8.constData(), int(end - utf8.constData()), SQLITE_STATIC);
            break;
        }
        case QMetaType::QByteArray: {
            const QByteArray& bytes = *static_cast<const QByteArray*>(value.constData());
            if (bytes.isNull()) {
                sqlite3_bind_null(m_stmt, index);
                break;
            }
            sqlite3_bind_blob(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_STATIC);
            break;
        }
        case QMetaType::Bool:
            sqlite3_bind_int(m_stmt, index, value.toBool() ? 1 : 0);
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        default:
            sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        }
    }

    QString m_sql;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    QVector<int> m_indexes;
    std::vector<QByteArray> m_texts; // the UTF-8 of each parameter's text
    QStringEncoder m_encoder{QStringEncoder::Utf8};
    // The last failure of Exec: the engine's code, and the operating system's error number behind it.
    int m_failureCode = 0;
    int m_systemError = 0;
};

} // namespace

QString SqliteEngine::DriverName() const
{
    return QStringLiteral("QSQLITE");
}

void SqliteEngine::AimAtExisting(QSqlDatabase& db, const DatabaseTarget& target) const
{
    // "mode=rw" opens the file for writing without ever creating it.
    QUrl url = QUrl::fromLocalFile(target.FilePath());
    url.setQuery(QStringLiteral("mode=rw"));
    db.setDatabaseName(url.toString(QUrl::FullyEncoded));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
}

bool SqliteEngine::ConnectionMayStayOpen() const
{
    return false; // a restore puts another file in its place
}

bool SqliteEngine::ConnectionAlive(const QSqlDatabase&) const
{
    return true; // a file does not go away under an open connection
}

QString SqliteEngine::BoolLiteral(bool value) const
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

QString SqliteEngine::BeginStatement() const
{
    return QStringLiteral("BEGIN IMMEDIATE");
}

bool SqliteEngine::SavepointPerStatement() const
{
    return false; // a failed statement is undone alone by the engine
}

QString SqliteEngine::SchemaFolder() const
{
    return QString();
}

std::optional<int> SqliteEngine::ReadSchemaVersion(QSqlQuery& q) const
{
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return std::nullopt;
    return q.value(0).toInt();
}

bool SqliteEngine::RecordSchemaVersion(QSqlQuery& q, int version) const
{
    return q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version));
}

void SqliteEngine::BeginSchemaChange(QSqlDatabase& db) const
{
    // The transaction takes the write lock at once: another program putting the schema in at the
    // same moment is waited for.
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
        throw OperationError(begin.lastError().text());
}

std::optional<QSqlError> SqliteEngine::HoldSchema(QSqlDatabase&) const
{
    return std::nullopt; // one read on the file sees one state
}

void SqliteEngine::ReleaseSchema(QSqlDatabase&) const {}

QString SqliteEngine::TablesQuery() const
{
    return QStringLiteral("select name from sqlite_master where type='table'");
}

std::optional<int> SqliteEngine::QueryColumns(QSqlQuery& q, const QString& table) const
{
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return std::nullopt;
    return 1;
}

std::unique_ptr<PreparedBackend> SqliteEngine::Prepare(const QSqlDatabase& db, const QString& sql) const
{
    return std::make_unique<SqlitePrepared>(db, sql);
}

void SqliteEngine::SetForwardOnly(QSqlQuery& query) const
{
    query.setForwardOnly(true);
}

std::optional<qint64> SqliteEngine::KeyOfInsert(QSqlQuery& query) const
{
    return query.lastInsertId().toLongLong();
}

qint64 SqliteEngine::LastInsertKey(QSqlDatabase&) const
{
    return 0; // the file's key comes with its statement (KeyOfInsert)
}

SqlFailure SqliteEngine::FailureOf(const QSqlDatabase& db, const QSqlError& error,
                                   const QString& detail) const
{
    int systemError = 0;
    if (sqlite3* handle = fileHandle(db))
        systemError = Os::ErrnoFromSystem(sqlite3_system_errno(handle));
    bool known = false;
    const int code = error.nativeErrorCode().toInt(&known);
    return SqliteFailure(known ? code : SQLITE_ERROR, systemError, detail);
}

SqlFailure SqliteEngine::NotOpenFailure(const QString& detail) const
{
    return SqliteFailure(SQLITE_CANTOPEN, 0, detail);
}

SqlFailure SqliteEngine::ReadFailure(const QSqlError& error) const
{
    return SqliteFailure(error.nativeErrorCode().toInt(), 0, error.text());
}

QString SqliteEngine::PageQuery(const QString& columns, const QString& from, const QString& order) const
{
    return QStringLiteral("select %1 from %2 order by %3 limit :list_limit offset :list_offset")
        .arg(columns, from, order);
}

bool SqliteEngine::NullsFirst() const
{
    return true;
}

QString SqliteEngine::ExportCountQuery(const QString& filterClause) const
{
    return QStringLiteral("select count(*), 0 from UserInfo") + filterClause; // Null sorts first anyway
}

QString SqliteEngine::ExportQuery(const QString& statement, bool) const
{
    return statement; // the file's own order
}

QString SqliteEngine::CardSerialLock() const
{
    return QString();
}

QString VacuumInto(const QString& database, const QString& target)
{
    OwnConnection own(FileEngine().DriverName(), "backup");
    own.db().setDatabaseName(database);
    own.db().setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!own.db().open())
        return own.db().lastError().text();
    QSqlQuery q(own.db());
    if (!q.prepare(QStringLiteral("VACUUM INTO :file")))
        return q.lastError().text();
    q.bindValue(QStringLiteral(":file"), target);
    return q.exec() ? QString() : q.lastError().text();
}

QString SqliteEngine::DatabaseFile(const DatabaseTarget& target) const
{
    return target.FilePath();
}

QString SqliteEngine::BackupInto(const QSqlDatabase& db, const QString& file) const
{
    return VacuumInto(db.databaseName(), file);
}

void SqliteEngine::LoadBackup(const QString&, QSqlDatabase&) const
{
    throw std::logic_error("the database file is restored by putting the backup file in its place");
}

DatabaseCheck SqliteEngine::Check(const DatabaseTarget& target) const
{
    return CheckDatabaseFile(target.FilePath(), true);
}

std::unique_ptr<OwnerCopy> SqliteEngine::BeginOwnerCopy(const QSqlDatabase&, qint64, ImportRunNotes&,
                                                        SqlFailure& failure) const
{
    failure =
        SqliteFailure(SQLITE_MISUSE, 0, QStringLiteral("the file takes owners through prepared statements"));
    return nullptr;
}

QString SqliteEngine::ChangeMark(const QSqlDatabase& db) const
{
    // The file's data version moves when another connection commits a change; the connection's own
    // changes are counted apart (also those undone).
    sqlite3* handle = fileHandle(db);
    QSqlQuery q(db);
    if (!handle || !q.exec(QStringLiteral("PRAGMA data_version")) || !q.next()) {
        static std::atomic<qint64> unknown{0};
        return QStringLiteral("?%1").arg(++unknown); // not known: equal to no other mark
    }
    return QStringLiteral("%1/%2").arg(q.value(0).toLongLong()).arg(sqlite3_total_changes64(handle));
}

int SqliteEngine::ImportLinesPerCommit() const
{
    return 10000;
}

bool SqliteEngine::ImportsByCopy() const
{
    return false;
}

QString SqliteEngine::IndexHint(const QString& index) const
{
    return QStringLiteral(" indexed by ") + index;
}
