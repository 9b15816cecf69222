#include "Prepared.h"

#include "DM.h"
#include "OperationError.h"
#include "engine/Engine.h"

TPrepared::TPrepared(Tdm& module, const QString& sql) : m_sql(sql)
{
    const QSqlDatabase db = module.database();
    m_backend = EngineOf(db).Prepare(db, sql);
}

TPrepared::~TPrepared() = default;

void TPrepared::Name(const QStringList& names)
{
    m_backend->Name(names);
}

void TPrepared::BindAt(int i, const QVariant& value)
{
    m_backend->BindAt(i, value);
}

void TPrepared::BindTextAt(int i, QStringView text)
{
    m_backend->BindTextAt(i, text);
}

void TPrepared::BindIntAt(int i, qint64 value)
{
    m_backend->BindIntAt(i, value);
}

void TPrepared::Bind(const SqlParams& params)
{
    const QString mismatch = ParameterMismatch(m_sql, params);
    if (!mismatch.isEmpty())
        throw OperationError(QStringLiteral("语句参数不匹配（%1）：%2").arg(mismatch, m_sql));
    m_backend->Bind(params);
}

bool TPrepared::Exec()
{
    return m_backend->Exec();
}

bool TPrepared::Next()
{
    return m_backend->Next();
}

void TPrepared::Reset()
{
    m_backend->Reset();
}

bool TPrepared::IsNull(int column) const
{
    return m_backend->IsNull(column);
}

QByteArrayView TPrepared::Text(int column) const
{
    return m_backend->Text(column);
}

QByteArrayView TPrepared::Blob(int column) const
{
    return m_backend->Blob(column);
}

qint64 TPrepared::Int(int column) const
{
    return m_backend->Int(column);
}

QString TPrepared::ErrorText() const
{
    return m_backend->ErrorText();
}

TSqlFailure TPrepared::Failure() const
{
    return m_backend->Failure();
}

bool TPrepared::InTransaction() const
{
    return m_backend->InTransaction();
}
