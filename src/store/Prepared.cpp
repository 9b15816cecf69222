#include "Prepared.h"

#include "DM.h"
#include "OperationError.h"

#include <QSqlDriver>
#include <sqlite3.h>

namespace {

sqlite3* handleOf(Tdm& module)
{
    const QVariant handle = module.database().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw OperationError(QStringLiteral("数据库驱动不是 SQLite"));
    sqlite3* db = *static_cast<sqlite3* const*>(handle.constData());
    if (!db)
        throw OperationError(QStringLiteral("数据库没有打开"));
    return db;
}

} // namespace

TPrepared::TPrepared(Tdm& module, const QString& sql) : m_sql(sql), m_db(handleOf(module))
{
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
    sqlite3_finalize(m_stmt);
}

void TPrepared::Name(const QStringList& names)
{
    m_indexes.clear();
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

void TPrepared::Bind(const SqlParams& params)
{
    const QString mismatch = ParameterMismatch(m_sql, params);
    if (!mismatch.isEmpty())
        throw OperationError(QStringLiteral("语句参数不匹配（%1）：%2").arg(mismatch, m_sql));
    for (const auto& p : params)
        bind(sqlite3_bind_parameter_index(m_stmt, (QLatin1Char(':') + p.first).toUtf8().constData()),
             p.second);
}

void TPrepared::bind(int index, const QVariant& value)
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

bool TPrepared::Exec()
{
    const int rc = sqlite3_step(m_stmt);
    const bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
    // The error stays readable after the reset: sqlite3_reset gives the same code back.
    sqlite3_reset(m_stmt);
    return ok;
}

bool TPrepared::Next()
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

void TPrepared::Reset()
{
    sqlite3_reset(m_stmt);
}

bool TPrepared::IsNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

QByteArrayView TPrepared::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QByteArrayView(text, text ? sqlite3_column_bytes(m_stmt, column) : 0);
}

QByteArrayView TPrepared::Blob(int column) const
{
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    return QByteArrayView(bytes, bytes ? sqlite3_column_bytes(m_stmt, column) : 0);
}

qint64 TPrepared::Int(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

QString TPrepared::ErrorText() const
{
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

bool TPrepared::InTransaction() const
{
    return sqlite3_get_autocommit(m_db) == 0;
}
