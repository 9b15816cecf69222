#include "DM.h"

#include "AppPath.h"
#include "Dialogs.h"
#include "OperationError.h"
#include "Schema.h"
#include "SqlFailure.h"
#include "engine/Engine.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <cmath>

Tdm* dm = nullptr;

namespace {

QString nextConnectionName()
{
    static std::atomic<int> serial{0};
    const int n = ++serial;
    return n == 1 ? QStringLiteral("iccard.con1") : QStringLiteral("iccard.con1.%1").arg(n);
}

QString unusableMessage(const QString& path, const QString& reason)
{
    return QStringLiteral(
               "数据库文件不能使用：%1\n%2\n程序没有改动这个文件，将在没有数据库的情况下继续运行。")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString unreachableMessage(const DatabaseTarget& target, const QString& reason)
{
    return QStringLiteral("数据库服务器不能使用：%1\n%2\n程序将在没有数据库的情况下继续运行。")
        .arg(target.Describe(), reason.trimmed());
}

// The engine's words for a failed connection, without Qt's own heading.
QString connectionError(const QSqlDatabase& db)
{
    const QSqlError e = db.lastError();
    const QString text = e.databaseText().trimmed().isEmpty() ? e.text() : e.databaseText();
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.simplified();
    return lines.join(QLatin1Char('\n'));
}

int variantToInt(const QVariant& v)
{
    if (v.isNull())
        return 0;
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Bool: {
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok || n > 2147483647LL || n < -2147483648LL)
            ThrowNotAnInteger(v.toString());
        return int(n);
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (std::floor(d) != d || d > 2147483647.0 || d < -2147483648.0)
            ThrowNotAnInteger(v.toString());
        return int(d);
    }
    case QMetaType::QString: {
        const QString s = v.toString();
        if (s.trimmed().isEmpty())
            return 0;
        return ToInt32(s);
    }
    default:
        ThrowNotAnInteger(v.toString());
    }
}

} // namespace

Tdm::Tdm() : Tdm(std::nullopt) {}

Tdm::Tdm(const DatabaseTarget& target) : Tdm(std::optional<DatabaseTarget>(target)) {}

Tdm::Tdm(std::optional<DatabaseTarget> target) : qry1(*this)
{
    if (target) {
        m_target = *target;
    } else {
        // A settings file that names no server properly is reported at the first use, like a
        // server that cannot be reached.
        try {
            m_target = ConfiguredDatabase();
        } catch (const OperationError& e) {
            m_targetError = e.message();
        }
    }
    con1 = QSqlDatabase::addDatabase(SqlEngine().DriverName(), nextConnectionName());
    m_connectionName = con1.connectionName();
}

Tdm::~Tdm()
{
    CloseDataSets();
    if (con1.isOpen())
        con1.close();
    con1 = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    if (dm == this)
        dm = nullptr;
}

QString DatabaseInUse(const Tdm& module)
{
    const DatabaseTarget& target = module.Target();
    const bool file = !EngineFor(target).DatabaseFile(target).isEmpty();
    return file ? QStringLiteral("本机文件 ") + target.Describe() : target.Describe();
}

QString Tdm::DatabasePath()
{
    return AppPath + QStringLiteral("QDR_DB.GRes");
}

bool Tdm::IsOpen() const
{
    return con1.isOpen();
}

const Engine& Tdm::SqlEngine() const
{
    return EngineFor(m_target);
}

QString Tdm::BoolLiteral(bool value) const
{
    return SqlEngine().BoolLiteral(value);
}

void Tdm::openServer()
{
    if (!QSqlDatabase::isDriverAvailable(SqlEngine().DriverName()))
        throw OperationError(unreachableMessage(
            m_target, QStringLiteral("本机没有 PostgreSQL 数据库驱动（Debian 软件包 libqt6sql6-psql）。")));
    ConfigureServerConnection(con1, m_target);
    if (!con1.open()) {
        const QString error = connectionError(con1);
        con1.close();
        throw OperationError(unreachableMessage(m_target, error));
    }
    try {
        QSqlQuery q(con1);
        if (!q.exec(QStringLiteral("set client_min_messages = warning")))
            throw OperationError(q.lastError().text());
        const DatabaseCheck check = CheckOpenDatabase(con1);
        if (!check.ok)
            throw OperationError(check.reason);
        if (check.version < SchemaVersion)
            ApplySchema(con1, check.version);
    } catch (const OperationError& e) {
        con1.close();
        throw OperationError(unreachableMessage(m_target, e.message()));
    }
}

void Tdm::OpenConnection()
{
    if (con1.isOpen())
        return;
    if (!m_targetError.isEmpty())
        throw OperationError(m_targetError);
    if (SqlEngine().DatabaseFile(m_target).isEmpty()) {
        openServer(); // no file to judge: the server is connected to
        return;
    }
    const QString path = m_target.FilePath();
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw OperationError(unusableMessage(path, QStringLiteral("它不是一个文件。")));
    // The file is judged first (after the engine has rolled back whatever a crash left half
    // written). A missing file, and one that holds nothing (a creation that never finished),
    // gets the schema.
    int version = 0;
    if (info.exists()) {
        const DatabaseCheck check = CheckDatabaseFile(path, false);
        if (!check.ok)
            throw OperationError(unusableMessage(path, check.reason));
        version = check.version;
    }
    con1.setDatabaseName(path);
    if (!con1.open()) {
        const QString error = con1.lastError().text();
        con1.close();
        throw OperationError(unusableMessage(path, error));
    }
    try {
        QSqlQuery q(con1);
        // The rollback journal with a full sync at every commit: a committed statement survives a
        // power cut, and whenever no change is running the file alone holds all of it, so a copy
        // made by hand between two operations is complete. (Files of earlier versions used a
        // write-ahead log; switching folds it back into the file.)
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) || !q.next() ||
            q.value(0).toString().compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0)
            throw OperationError(QStringLiteral("不能使用回滚日志：%1").arg(q.lastError().text()));
        if (!q.exec(QStringLiteral("PRAGMA synchronous=FULL")))
            throw OperationError(q.lastError().text());
        q.finish();
        // The schema goes in before anything else is written, in one transaction.
        if (version < SchemaVersion)
            ApplySchema(con1, version);
    } catch (const OperationError& e) {
        con1.close();
        throw OperationError(unusableMessage(path, e.message()));
    }
}

QSqlDatabase Tdm::database()
{
    // A connection to a server that has gone (restarted, or the network was down) is made anew at
    // the next use outside a change; a change that was running is lost with it, and says so.
    if (con1.isOpen() && m_levels.empty() && !SqlEngine().ConnectionAlive(con1)) {
        CloseDataSets();
        con1.close();
    }
    if (!con1.isOpen()) {
        try {
            OpenConnection();
            m_openFailureShown = false;
        } catch (const OperationError& e) {
            if (m_openFailureShown)
                throw;
            m_openFailureShown = true;
            ShowError(e.message());
            throw OperationError(e.message(), true);
        }
    }
    return con1;
}

void Tdm::CloseDataSets()
{
    qry1.Close();
}

bool Tdm::CloseConnection()
{
    if (!m_levels.empty())
        return false;
    CloseDataSets();
    if (!con1.isOpen())
        return true;
    con1.close();
    return true;
}

bool Tdm::ExecuteSQL(const QString& sql, const SqlParams& params, const QStringList& placeholders)
{
    if (inFailedChange())
        return false;
    // A statement that fails inside a batch is undone alone. The file does that by itself; a
    // server drops the whole transaction instead, unless the statement has a savepoint.
    const bool alone =
        SqlEngine().SavepointPerStatement() && !m_levels.empty() && !m_levels.back().allOrNothing;
    QSqlQuery guard(con1);
    try {
        if (alone && !guard.exec(QStringLiteral("SAVEPOINT iccard_statement")))
            throw OperationError(guard.lastError().text());
        qry1.Exec(sql, params);
        if (alone)
            guard.exec(QStringLiteral("RELEASE SAVEPOINT iccard_statement"));
        return true;
    } catch (const std::exception&) {
        if (alone)
            guard.exec(QStringLiteral("ROLLBACK TO SAVEPOINT iccard_statement"));
        markFailed();
        ShowError(QStringLiteral("执行错误：") + StatementWithValues(sql, params, placeholders));
        return false;
    }
}

bool Tdm::OpenSQL(DataSet& ds, const QString& sql, const SqlParams& params)
{
    if (inFailedChange())
        return false;
    try {
        ds.Open(sql, params);
        return true;
    } catch (const std::exception&) {
        markFailed();
        ShowError(QStringLiteral("执行错误：") + StatementWithValues(sql, params));
        return false;
    }
}

QString Tdm::FieldAsText(const DataSet& ds, const QString& column) const
{
    const QVariant v = ds.Field(column);
    return v.isNull() ? QString(QLatin1String("")) : v.toString();
}

int Tdm::FieldAsInt(const DataSet& ds, const QString& column) const
{
    return variantToInt(ds.Field(column));
}

bool Tdm::FieldAsBool(const DataSet& ds, const QString& column) const
{
    return StoredBool(ds.Field(column));
}

QDate Tdm::FieldAsDate(const DataSet& ds, const QString& column) const
{
    return StoredDate(ds.Field(column));
}

void Tdm::beginLevel(bool allOrNothing)
{
    m_beginError = SqlFailure{};
    QSqlDatabase db = database();
    const QString savepoint = QStringLiteral("iccard_change_%1").arg(m_levels.size() + 1);
    QSqlQuery q(db);
    // The outermost change is a transaction. On the file it takes the write lock at once, so that
    // a second program on the file waits for it rather than failing half-way.
    const QString begin =
        !m_levels.empty() ? QStringLiteral("SAVEPOINT ") + savepoint : SqlEngine().BeginStatement();
    if (!q.exec(begin)) {
        m_beginError = FailureOf(con1, SqlEngine(), q.lastError());
        throw OperationError(q.lastError().text());
    }
    m_levels.push_back({savepoint, allOrNothing, false});
}

bool Tdm::endLevel(bool keep, SqlFailure* refusal)
{
    const Level level = m_levels.back();
    m_levels.pop_back();
    if (!con1.isOpen())
        return false;
    const bool outermost = m_levels.empty();
    QSqlQuery q(con1);
    keep = keep && !level.failed;
    if (keep && q.exec(outermost ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE ") + level.savepoint))
        return true;
    QString refused;
    if (keep) { // the engine would not keep it (a full disk, say): say so once, and undo it all
        refused = q.lastError().text();
        if (refusal) {
            *refusal =
                FailureOf(con1, SqlEngine(), q.lastError()); // read now, before the rollback's own errors
            refused.clear();                                 // the caller says it
            markFailed();
        }
    }
    if (outermost) {
        q.exec(QStringLiteral("ROLLBACK"));
    } else if (!q.exec(QStringLiteral("ROLLBACK TO ") + level.savepoint) ||
               !q.exec(QStringLiteral("RELEASE ") + level.savepoint)) {
        markFailed();
    }
    if (!refused.isEmpty()) {
        ShowError(QStringLiteral("执行错误：提交更改失败（%1）").arg(refused));
        markFailed();
    } else if (level.allOrNothing) {
        markFailed(); // the change that holds this one failed with it
    }
    return false;
}

void Tdm::markFailed()
{
    // The innermost changes fail, up to the first batch, which goes on with its next statement.
    for (auto it = m_levels.rbegin(); it != m_levels.rend() && it->allOrNothing; ++it)
        it->failed = true;
}

bool Tdm::inFailedChange() const
{
    return !m_levels.empty() && m_levels.back().failed;
}

bool Tdm::BeginBatch(SqlFailure* failure)
{
    try {
        beginLevel(false);
        return true;
    } catch (const OperationError& e) {
        if (failure) {
            *failure = m_beginError;
            if (failure->detail.isEmpty())
                failure->detail = e.message();
        }
        return false;
    }
}

bool Tdm::CommitBatch(SqlFailure* failure)
{
    if (m_levels.empty() || m_levels.back().allOrNothing)
        return false;
    return endLevel(true, failure);
}

void Tdm::UndoBatch()
{
    if (!m_levels.empty() && !m_levels.back().allOrNothing)
        endLevel(false);
}

Transaction::Transaction(Tdm& module) : m_dm(module)
{
    m_dm.beginLevel(true);
}

Transaction::Transaction() : Transaction(*dm) {}

Transaction::~Transaction()
{
    if (m_open)
        m_dm.endLevel(false);
}

bool Transaction::Commit()
{
    if (!m_open)
        return false;
    m_open = false;
    return m_dm.endLevel(true);
}
