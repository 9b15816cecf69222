#include "Prepared.h"

#include "DM.h"
#include "OperationError.h"
#include "engine/Engine.h"

PreparedStatement::PreparedStatement(Tdm& module, const QString& sql) : m_sql(sql)
{
    const QSqlDatabase db = module.database();
    m_backend = EngineOf(db).Prepare(db, sql);
}

PreparedStatement::~PreparedStatement() = default;

void PreparedStatement::Name(const QStringList& names)
{
    m_backend->Name(names);
}

void PreparedStatement::BindAt(int i, const QVariant& value)
{
    m_backend->BindAt(i, value);
}

void PreparedStatement::BindTextAt(int i, QStringView text)
{
    m_backend->BindTextAt(i, text);
}

void PreparedStatement::BindIntAt(int i, qint64 value)
{
    m_backend->BindIntAt(i, value);
}

void PreparedStatement::Bind(const SqlParams& params)
{
    const QString mismatch = ParameterMismatch(m_sql, params);
    if (!mismatch.isEmpty())
        throw OperationError(QStringLiteral("语句参数不匹配（%1）：%2").arg(mismatch, m_sql));
    m_backend->Bind(params);
}

bool PreparedStatement::Exec()
{
    return m_backend->Exec();
}

bool PreparedStatement::Next()
{
    return m_backend->Next();
}

void PreparedStatement::Reset()
{
    m_backend->Reset();
}

bool PreparedStatement::IsNull(int column) const
{
    return m_backend->IsNull(column);
}

QByteArrayView PreparedStatement::Text(int column) const
{
    return m_backend->Text(column);
}

QByteArrayView PreparedStatement::Blob(int column) const
{
    return m_backend->Blob(column);
}

qint64 PreparedStatement::Int(int column) const
{
    return m_backend->Int(column);
}

QString PreparedStatement::ErrorText() const
{
    return m_backend->ErrorText();
}

SqlFailure PreparedStatement::Failure() const
{
    return m_backend->Failure();
}

bool PreparedStatement::InTransaction() const
{
    return m_backend->InTransaction();
}
