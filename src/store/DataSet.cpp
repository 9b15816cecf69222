#include "DataSet.h"

#include "OperationError.h"
#include "engine/Engine.h"

#include <QSqlError>

DataSet::DataSet(StatementConnection& owner, QString name) : m_owner(owner), m_name(std::move(name)) {}

void DataSet::Open(const QString& sql, const SqlParams& params)
{
    Close();
    m_sql = sql;
    m_params = params;
    run();
}

void DataSet::run()
{
    m_query.reset();
    m_ahead.clear();
    m_current = QSqlRecord();
    m_done = false;
    m_onRow = false;
    m_position = 0;
    m_count = -1;
    QSqlDatabase db = m_owner.database();
    m_query.emplace(db);
    SetForwardOnlyOnFile(*m_query);
    try {
        if (!ExecBound(*m_query, m_sql, m_params))
            throw OperationError(m_query->lastError().text());
        m_record = m_query->record();
        // The rows of a lookup are read at once and the statement let go: a statement left
        // standing on a row of the file would keep another program from writing to it for as
        // long as the dataset stays open.
        while (m_ahead.size() < ReadAhead && m_query->next())
            m_ahead.push_back(m_query->record());
        if (m_ahead.size() < ReadAhead)
            finishRows();
    } catch (...) {
        m_query.reset();
        m_ahead.clear();
        throw;
    }
    m_onRow = pull();
    if (m_done)
        m_count = m_onRow ? int(m_ahead.size()) + 1 : 0;
}

void DataSet::finishRows()
{
    if (m_query->lastError().isValid())
        throw OperationError(m_query->lastError().text());
    m_done = true;
    m_query->finish();
}

bool DataSet::pull()
{
    if (!m_ahead.empty()) {
        m_current = std::move(m_ahead.front());
        m_ahead.pop_front();
        return true;
    }
    if (!m_done && m_query->next()) {
        m_current = m_query->record();
        return true;
    }
    if (!m_done)
        finishRows();
    m_current = QSqlRecord();
    return false;
}

void DataSet::Close()
{
    m_query.reset();
    m_ahead.clear();
    m_current = QSqlRecord();
    m_record = QSqlRecord();
    m_onRow = false;
    m_position = 0;
    m_count = -1;
}

void DataSet::First()
{
    if (!Active())
        throw OperationError(QStringLiteral("%1: 数据集没有打开").arg(m_name));
    run();
}

void DataSet::Next()
{
    if (!m_onRow)
        return;
    m_onRow = pull();
    if (m_onRow) {
        ++m_position;
        return;
    }
    m_count = m_position + 1;
}

int DataSet::RecordCount()
{
    if (!Active())
        throw OperationError(QStringLiteral("%1: 数据集没有打开").arg(m_name));
    if (m_count >= 0)
        return m_count;
    QSqlQuery q(m_owner.database());
    SetForwardOnlyOnFile(q);
    if (!ExecBound(q, CountStatement(m_sql), m_params) || !q.next())
        throw OperationError(q.lastError().text());
    m_count = q.value(0).toInt();
    return m_count;
}

bool DataSet::HasField(const QString& column) const
{
    return m_record.indexOf(column) >= 0;
}

QVariant DataSet::Field(const QString& column) const
{
    const int index = m_record.indexOf(column);
    if (index < 0)
        throw OperationError(QStringLiteral("%1: Field '%2' not found").arg(m_name, column));
    if (!m_onRow)
        throw OperationError(QStringLiteral("%1: 没有当前记录（读取 %2）").arg(m_name, column));
    return m_current.value(index);
}

StatementRunner::StatementRunner(StatementConnection& owner) : m_owner(owner) {}

void StatementRunner::Exec(const QString& sql, const SqlParams& params)
{
    m_sql = sql;
    m_rowsAffected = 0;
    // The statement is kept until the next one: a server refuses to let go of a prepared statement
    // while the transaction it failed in waits to be rolled back.
    m_query.reset();
    QSqlQuery& q = m_query.emplace(m_owner.database());
    if (!ExecBound(q, sql, params))
        throw OperationError(q.lastError().text());
    m_rowsAffected = q.numRowsAffected();
    // The key is read now where the engine gives it with the statement; a server is asked only when
    // it is wanted.
    m_lastInsertId = m_owner.SqlEngine().KeyOfInsert(q);
    if (m_lastInsertId)
        m_query.reset();
}

qint64 StatementRunner::LastInsertId() const
{
    if (m_lastInsertId)
        return *m_lastInsertId;
    QSqlDatabase connection = m_owner.CurrentConnection();
    return m_owner.SqlEngine().LastInsertKey(connection);
}

void StatementRunner::Close()
{
    m_sql.clear();
    m_query.reset();
}
