#include "DataSet.h"

#include "DM.h"
#include "OperationError.h"

#include <QDebug>
#include <QSqlError>

bool ExecBound(QSqlQuery& query, const QString& sql, const SqlParams& params)
{
    const QString mismatch = ParameterMismatch(sql, params);
    if (!mismatch.isEmpty()) {
        qWarning().noquote() << "SQL statement refused:" << mismatch << "in:" << sql;
        throw OperationError(QStringLiteral("语句参数不匹配（%1）：%2").arg(mismatch, sql));
    }
    if (params.isEmpty())
        return query.exec(sql);
    if (!query.prepare(sql))
        return false;
    for (const auto& p : params)
        query.bindValue(QLatin1Char(':') + p.first, p.second);
    return query.exec();
}

TDataSet::TDataSet(Tdm& owner, QString name) : m_owner(owner), m_name(std::move(name)) {}

void TDataSet::Open(const QString& sql, const SqlParams& params)
{
    Close();
    m_sql = sql;
    m_params = params;
    run();
}

void TDataSet::run()
{
    m_query.reset();
    m_onRow = false;
    m_position = 0;
    m_count = -1;
    QSqlDatabase db = m_owner.database();
    m_query.emplace(db);
    // On a server Qt reads a forward-only query's rows as they come, and drops the rest when another
    // statement runs on the connection: a dataset stays open while others run (the building tree
    // reads the units of each building while it goes through the buildings), so there it takes
    // its rows whole.
    m_query->setForwardOnly(!m_owner.IsServer());
    try {
        if (!ExecBound(*m_query, m_sql, m_params))
            throw OperationError(m_query->lastError().text());
    } catch (...) {
        m_query.reset();
        throw;
    }
    m_record = m_query->record();
    m_onRow = m_query->next();
    if (!m_onRow) {
        if (m_query->lastError().isValid()) {
            const QString error = m_query->lastError().text();
            m_query.reset();
            throw OperationError(error);
        }
        m_count = 0;
    }
}

void TDataSet::Close()
{
    m_query.reset();
    m_record = QSqlRecord();
    m_onRow = false;
    m_position = 0;
    m_count = -1;
}

void TDataSet::First()
{
    if (!Active())
        throw OperationError(QStringLiteral("%1: 数据集没有打开").arg(m_name));
    run();
}

void TDataSet::Next()
{
    if (!m_onRow)
        return;
    m_onRow = m_query->next();
    if (m_onRow) {
        ++m_position;
        return;
    }
    if (m_query->lastError().isValid())
        throw OperationError(m_query->lastError().text());
    m_count = m_position + 1;
}

int TDataSet::RecordCount()
{
    if (!Active())
        throw OperationError(QStringLiteral("%1: 数据集没有打开").arg(m_name));
    if (m_count >= 0)
        return m_count;
    QSqlQuery q(m_owner.database());
    q.setForwardOnly(true);
    if (!ExecBound(q, CountStatement(m_sql), m_params) || !q.next())
        throw OperationError(q.lastError().text());
    m_count = q.value(0).toInt();
    return m_count;
}

bool TDataSet::HasField(const QString& column) const
{
    return m_record.indexOf(column) >= 0;
}

QVariant TDataSet::Field(const QString& column) const
{
    const int index = m_record.indexOf(column);
    if (index < 0)
        throw OperationError(QStringLiteral("%1: Field '%2' not found").arg(m_name, column));
    if (!m_onRow)
        throw OperationError(QStringLiteral("%1: 没有当前记录（读取 %2）").arg(m_name, column));
    return m_query->value(index);
}

TQuery::TQuery(Tdm& owner) : m_owner(owner) {}

void TQuery::Exec(const QString& sql, const SqlParams& params)
{
    m_sql = sql;
    m_rowsAffected = 0;
    QSqlQuery q(m_owner.database());
    if (!ExecBound(q, sql, params))
        throw OperationError(q.lastError().text());
    m_rowsAffected = q.numRowsAffected();
    // On a server Qt asks for it with "select lastval()", which fails in a session that has not
    // added a row yet and so aborts the change that is running: it is asked there after an insert
    // alone (every table takes its key from a sequence).
    if (!m_owner.IsServer() || sql.trimmed().startsWith(QLatin1String("insert"), Qt::CaseInsensitive))
        m_lastInsertId = q.lastInsertId().toLongLong();
}

void TQuery::Close()
{
    m_sql.clear();
}
