#include "Prepared.h"

#include "DM.h"
#include "OperationError.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace {

constexpr Oid ByteaOid = 17;

// Qt names libpq's connection by the structure under the typedef.
bool isServerHandle(const QVariant& handle)
{
    return handle.isValid() &&
           (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0);
}

} // namespace

PGconn* ServerConnection(Tdm& module)
{
    QSqlDatabase db = module.database();
    const QVariant handle = db.driver()->handle();
    if (!isServerHandle(handle))
        throw OperationError(QStringLiteral("数据库驱动不是 PostgreSQL"));
    PGconn* connection = *static_cast<PGconn* const*>(handle.constData());
    if (!connection || PQstatus(connection) != CONNECTION_OK)
        throw OperationError(QStringLiteral("数据库没有打开"));
    // A query of Qt's whose rows are still coming holds the connection: Qt finishes it before it
    // sends the next statement of its own, so one is sent.
    if (PQtransactionStatus(connection) == PQTRANS_ACTIVE) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("select 1"));
    }
    return connection;
}

TPrepared::TPrepared(Tdm& module, const QString& sql) : m_sql(sql)
{
    const QVariant handle = module.database().driver()->handle();
    if (isServerHandle(handle)) {
        m_pg = ServerConnection(module);
        m_pgSql = NumberedParameters(sql, &m_pgNames).toUtf8();
        const size_t count = size_t(m_pgNames.size());
        m_values.resize(count);
        m_nulls.assign(count, 1);
        m_formats.assign(count, 0);
        return;
    }
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

TPrepared::~TPrepared()
{
    if (m_pg)
        finishServerRows();
    sqlite3_finalize(m_stmt);
}

void TPrepared::Name(const QStringList& names)
{
    m_indexes.clear();
    if (m_pg) {
        for (const QString& name : names) {
            const qsizetype at = m_pgNames.indexOf(name);
            if (at < 0)
                throw OperationError(QStringLiteral("语句没有参数 :%1：%2").arg(name, m_sql));
            m_indexes.append(int(at) + 1);
        }
        if (m_indexes.size() != m_pgNames.size())
            throw OperationError(QStringLiteral("语句参数不匹配：%1").arg(m_sql));
        return;
    }
    for (const QString& name : names) {
        const int index =
            sqlite3_bind_parameter_index(m_stmt, (QLatin1Char(':') + name).toUtf8().constData());
        if (index == 0)
            throw OperationError(QStringLiteral("语句没有参数 :%1：%2").arg(name, m_sql));
        m_indexes.append(index);
    }
    if (m_indexes.size() != sqlite3_bind_parameter_count(m_stmt))
        throw OperationError(QStringLiteral("语句参数不匹配：%1").arg(m_sql));
}

void TPrepared::BindAt(int i, const QVariant& value)
{
    bind(m_indexes.at(i), value);
}

void TPrepared::BindTextAt(int i, QStringView text)
{
    const int index = m_indexes.at(i);
    if (m_pg) {
        bindServer(index, QVariant(text.isNull() ? QString(QLatin1String("")) : text.toString()));
        return;
    }
    QByteArray& utf8 = m_texts[size_t(index - 1)];
    utf8.resize(m_encoder.requiredSpace(text.size()));
    const char* end = m_encoder.appendToBuffer(utf8.data(), text);
    sqlite3_bind_text(m_stmt, index, utf8.constData(), int(end - utf8.constData()), SQLITE_STATIC);
}

void TPrepared::BindIntAt(int i, qint64 value)
{
    const int index = m_indexes.at(i);
    if (m_pg)
        bindServer(index, QVariant(value));
    else
        sqlite3_bind_int64(m_stmt, index, value);
}

void TPrepared::Bind(const SqlParams& params)
{
    const QString mismatch = ParameterMismatch(m_sql, params);
    if (!mismatch.isEmpty())
        throw OperationError(QStringLiteral("语句参数不匹配（%1）：%2").arg(mismatch, m_sql));
    if (m_pg) {
        for (const auto& p : params)
            bindServer(int(m_pgNames.indexOf(p.first)) + 1, p.second);
        return;
    }
    for (const auto& p : params)
        bind(sqlite3_bind_parameter_index(m_stmt, (QLatin1Char(':') + p.first).toUtf8().constData()),
             p.second);
}

void TPrepared::bind(int index, const QVariant& value)
{
    if (m_pg) {
        bindServer(index, value);
        return;
    }
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
        // As UTF-8, the database's own text: the engine then stores it without a conversion of
        // its own. The buffer of each parameter is kept for the next row.
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

void TPrepared::bindServer(int index, const QVariant& value)
{
    const size_t i = size_t(index - 1);
    QByteArray& text = m_values[i];
    m_formats[i] = 0;
    m_nulls[i] = value.isNull() ? 1 : 0;
    if (m_nulls[i])
        return;
    switch (value.typeId()) {
    case QMetaType::QString: {
        const QString& s = *static_cast<const QString*>(value.constData());
        m_nulls[i] = s.isNull() ? 1 : 0;
        text = s.toUtf8();
        // A text value is sent as a C string, which would end at a NUL character: such a text
        // goes with its length (the binary form of a text), and the server refuses it, as it
        // refuses a NUL in any text.
        if (text.contains('\0'))
            m_formats[i] = 1;
        break;
    }
    case QMetaType::QByteArray: {
        const QByteArray& bytes = *static_cast<const QByteArray*>(value.constData());
        m_nulls[i] = bytes.isNull() ? 1 : 0;
        text = bytes; // shares the bytes, which stay alive until the statement has run
        m_formats[i] = 1;
        break;
    }
    case QMetaType::Bool:
        text = value.toBool() ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        text = QByteArray::number(value.toDouble(), 'g', 17);
        break;
    default:
        text = QByteArray::number(value.toLongLong());
        break;
    }
}

void TPrepared::finishServerRows()
{
    PQclear(m_row);
    m_row = nullptr;
    if (!m_running)
        return;
    // The rows not read are passed over: the connection is free again after the last result.
    while (PGresult* rest = PQgetResult(m_pg))
        PQclear(rest);
    m_running = false;
}

bool TPrepared::Exec()
{
    if (m_pg) {
        finishServerRows();
        std::vector<const char*> values(m_values.size());
        std::vector<int> lengths(m_values.size());
        for (size_t i = 0; i < m_values.size(); ++i) {
            values[i] = m_nulls[i] ? nullptr : m_values[i].constData();
            lengths[i] = int(m_values[i].size());
        }
        PGresult* result = PQexecParams(m_pg, m_pgSql.constData(), int(values.size()), nullptr, values.data(),
                                        lengths.data(), m_formats.data(), 0);
        const ExecStatusType status = PQresultStatus(result);
        const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        m_error = ok ? QString() : QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
        const char* state = ok || !result ? nullptr : PQresultErrorField(result, PG_DIAG_SQLSTATE);
        m_sqlstate = state ? QString::fromLatin1(state) : QString();
        PQclear(result);
        return ok;
    }
    const int rc = sqlite3_step(m_stmt);
    const bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
    m_failureCode = ok ? SQLITE_OK : rc;
    m_systemError = ok ? 0 : sqlite3_system_errno(m_db);
    // The error stays readable after the reset: sqlite3_reset gives the same code back.
    sqlite3_reset(m_stmt);
    return ok;
}

bool TPrepared::Next()
{
    if (m_pg) {
        if (!m_running) {
            std::vector<const char*> values(m_values.size());
            std::vector<int> lengths(m_values.size());
            for (size_t i = 0; i < m_values.size(); ++i) {
                values[i] = m_nulls[i] ? nullptr : m_values[i].constData();
                lengths[i] = int(m_values[i].size());
            }
            if (!PQsendQueryParams(m_pg, m_pgSql.constData(), int(values.size()), nullptr, values.data(),
                                   lengths.data(), m_formats.data(), 0))
                throw OperationError(QString::fromUtf8(PQerrorMessage(m_pg)).trimmed());
            m_running = true;
            PQsetSingleRowMode(m_pg);
        }
        PQclear(m_row);
        m_row = PQgetResult(m_pg);
        const ExecStatusType status = m_row ? PQresultStatus(m_row) : PGRES_FATAL_ERROR;
        if (status == PGRES_SINGLE_TUPLE) {
            for (QByteArray& blob : m_blobs)
                blob = QByteArray();
            return true;
        }
        m_error =
            status == PGRES_TUPLES_OK
                ? QString()
                : QString::fromUtf8(m_row ? PQresultErrorMessage(m_row) : PQerrorMessage(m_pg)).trimmed();
        finishServerRows();
        if (!m_error.isEmpty())
            throw OperationError(m_error);
        return false;
    }
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const QString error = ErrorText();
    sqlite3_reset(m_stmt);
    throw OperationError(error);
}

void TPrepared::Reset()
{
    if (m_pg) {
        finishServerRows();
        return;
    }
    sqlite3_reset(m_stmt);
}

bool TPrepared::IsNull(int column) const
{
    if (m_pg)
        return !m_row || PQgetisnull(m_row, 0, column);
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

QByteArrayView TPrepared::Text(int column) const
{
    if (m_pg) {
        if (!m_row || PQgetisnull(m_row, 0, column))
            return {};
        return QByteArrayView(PQgetvalue(m_row, 0, column), PQgetlength(m_row, 0, column));
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QByteArrayView(text, text ? sqlite3_column_bytes(m_stmt, column) : 0);
}

QByteArrayView TPrepared::Blob(int column) const
{
    if (m_pg) {
        const QByteArrayView text = Text(column);
        if (!m_row || PQftype(m_row, column) != ByteaOid)
            return text;
        // The server's text of bytes, in the form the connection asked for (Qt asks for the
        // escape form).
        if (m_blobs.size() <= size_t(column))
            m_blobs.resize(size_t(column) + 1);
        QByteArray& bytes = m_blobs[size_t(column)];
        if (bytes.isNull() && !text.isNull()) {
            size_t length = 0;
            unsigned char* raw = PQunescapeBytea(
                reinterpret_cast<const unsigned char*>(PQgetvalue(m_row, 0, column)), &length);
            bytes = raw ? QByteArray(reinterpret_cast<const char*>(raw), qsizetype(length)) : QByteArray("");
            PQfreemem(raw);
        }
        return bytes;
    }
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    return QByteArrayView(bytes, bytes ? sqlite3_column_bytes(m_stmt, column) : 0);
}

qint64 TPrepared::Int(int column) const
{
    if (m_pg)
        return Text(column).toLongLong();
    return sqlite3_column_int64(m_stmt, column);
}

QString TPrepared::ErrorText() const
{
    if (m_pg)
        return m_error.isEmpty() ? QString::fromUtf8(PQerrorMessage(m_pg)).trimmed() : m_error;
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

TSqlFailure TPrepared::Failure() const
{
    if (m_pg)
        return ServerFailure(m_sqlstate, PQstatus(m_pg) == CONNECTION_OK, ErrorText());
    return SqliteFailure(m_failureCode, m_systemError, ErrorText());
}

bool TPrepared::InTransaction() const
{
    if (m_pg) {
        const PGTransactionStatusType status = PQtransactionStatus(m_pg);
        return status == PQTRANS_INTRANS || status == PQTRANS_INERROR;
    }
    return sqlite3_get_autocommit(m_db) == 0;
}
