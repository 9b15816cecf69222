#include "DM.h"

#include "AppPath.h"
#include "Dialogs.h"
#include "OperationError.h"
#include "OwnerStatements.h"
#include "Prepared.h"
#include "Schema.h"
#include "SqlFailure.h"
#include "engine/Engine.h"
#include "engine/PgEngine.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <cmath>
#include <libpq-fe.h>

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

QString unreachableMessage(const TDatabaseTarget& target, const QString& reason)
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

Tdm::Tdm(const TDatabaseTarget& target) : Tdm(std::optional<TDatabaseTarget>(target)) {}

Tdm::Tdm(std::optional<TDatabaseTarget> target) : qry1(*this)
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
    const TDatabaseTarget& target = module.Target();
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
        const TDatabaseCheck check = CheckOpenDatabase(con1);
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
        const TDatabaseCheck check = CheckDatabaseFile(path, false);
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

bool Tdm::OpenSQL(TDataSet& ds, const QString& sql, const SqlParams& params)
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

QString Tdm::FieldAsText(const TDataSet& ds, const QString& column) const
{
    const QVariant v = ds.Field(column);
    return v.isNull() ? QString(QLatin1String("")) : v.toString();
}

int Tdm::FieldAsInt(const TDataSet& ds, const QString& column) const
{
    return variantToInt(ds.Field(column));
}

bool Tdm::FieldAsBool(const TDataSet& ds, const QString& column) const
{
    return StoredBool(ds.Field(column));
}

QDate Tdm::FieldAsDate(const TDataSet& ds, const QString& column) const
{
    return StoredDate(ds.Field(column));
}

namespace {

// The columns an imported owner fills, in the order of the server's COPY lines.
const char* const ImportColumns = "CardID,CardNo,UserName,BuildName,DongHao,DanYuan,UserType,FangHao,Sex,"
                                  "Expdate,BlackCard,phone,Remark,IsSelect,VaildTerminal,IsUseExpDate,"
                                  "ExtName,chLoss,chUseExpdate";

// A text in COPY's text format: the backslash and the characters that end a field or a line are
// written as escapes. (A NUL character stays: the server refuses the line, as it refuses such a
// text in any statement.) The record's null texts are stored as empty texts, as InsertUserInfo
// stores them.
void appendCopyText(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    const char* p = utf8.constData();
    qsizetype from = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = p[i];
        const char* escape = c == '\\'   ? "\\\\"
                             : c == '\t' ? "\\t"
                             : c == '\n' ? "\\n"
                             : c == '\r' ? "\\r"
                                         : nullptr;
        if (!escape)
            continue;
        out.append(p + from, i - from).append(escape);
        from = i + 1;
    }
    out.append(p + from, utf8.size() - from).append('\t');
}

// One owner as a line of COPY into UserInfo: the values InsertUserInfo binds, converted as it
// converts them.
void appendCopyLine(QByteArray& out, const TuserInfoRec& rec)
{
    const QString expiry = StoredDateText(rec.ExpDate);
    auto mark = [&out](bool value) { out.append(value ? "t\t" : "f\t"); };
    appendCopyText(out, rec.CardID);
    appendCopyText(out, rec.CardNo);
    appendCopyText(out, rec.UserName);
    appendCopyText(out, rec.BuildName);
    out.append(QByteArray::number(rec.DongHao)).append('\t');
    out.append(QByteArray::number(rec.DanYuan)).append('\t');
    appendCopyText(out, rec.UserType);
    appendCopyText(out, rec.FangHao);
    appendCopyText(out, rec.Sex);
    appendCopyText(out, expiry);
    mark(rec.BlackCard);
    appendCopyText(out, rec.Phone);
    appendCopyText(out, rec.Remark);
    mark(false); // IsSelect
    out.append("\\\\x").append(BitmapBytes(rec.VaildTerminal).toHex()).append('\t');
    mark(rec.IsUseExpDate);
    appendCopyText(out, rec.ExtName);
    appendCopyText(out, rec.chLoss);
    appendCopyText(out, rec.chUseExpdate);
    out.back() = '\n';
}

} // namespace

TImportBatch::TImportBatch(Tdm& module) : m_dm(module)
{
    module.database();
    if (module.SqlEngine().ImportsByCopy())
        return; // the owners go to the server with COPY at each commit
    prepareStatements();
    // A commit of many owners touches many pages of the four indexes; with the engine's default
    // cache of 2 MB it writes them out and reads them back again and again.
    QSqlQuery q(module.database());
    if (q.exec(QStringLiteral("PRAGMA cache_size")) && q.next())
        m_cacheSize = q.value(0).toInt();
    q.exec(QStringLiteral("PRAGMA cache_size = -32768"));
}

TImportBatch::~TImportBatch()
{
    if (m_open)
        m_dm.UndoBatch();
    if (m_dm.IsOpen() && !m_dm.SqlEngine().ImportsByCopy()) {
        QSqlQuery q(m_dm.CurrentConnection());
        q.exec(QStringLiteral("PRAGMA cache_size = %1").arg(m_cacheSize));
    }
}

void TImportBatch::prepareStatements()
{
    if (m_delete)
        return;
    m_delete = std::make_unique<TPrepared>(m_dm, ImportDeleteStatement(m_dm));
    m_insert = std::make_unique<TPrepared>(m_dm, InsertUserInfoStatement());
    m_delete->Name({QStringLiteral("CardNo"), QStringLiteral("DongHao"), QStringLiteral("DanYuan")});
    // The insert takes the values InsertUserInfo gives it, picked from the same list by position.
    const SqlParams all = OwnerRecordParams(TuserInfoRec(), QByteArray());
    const QStringList names = StatementParameters(InsertUserInfoStatement());
    QStringList taken;
    m_positions.clear();
    for (int i = 0; i < all.size(); ++i) {
        if (names.contains(all[i].first)) {
            m_positions.push_back(i);
            taken << all[i].first;
        }
    }
    m_insert->Name(taken);
}

bool TImportBatch::begin()
{
    if (m_open)
        return true;
    TSqlFailure why;
    if (!m_dm.BeginBatch(&why))
        return stop(why);
    m_open = true;
    // Read under the batch's lock: the rows above it are the ones this commit adds.
    TPrepared last(m_dm, NewestOwnerStatement());
    try {
        m_lastIdx = last.Next() ? last.Int(0) : 0;
    } catch (const OperationError&) {
        return stop(last.Failure());
    }
    m_pending.reserve(1024);
    // As many as the last commit had, so that the set is not grown step by step again.
    m_serials.reserve(qsizetype(m_pending.capacity()));
    return true;
}

TPrepared* TImportBatch::write(const TuserInfoRec& rec)
{
    // The values InsertUserInfo and ImportDeleteParams give, bound one by one without a list of
    // variants per owner: a community's file has a hundred thousand of them.
    m_delete->BindTextAt(0, rec.CardNo);
    m_delete->BindIntAt(1, rec.DongHao);
    m_delete->BindIntAt(2, rec.DanYuan);
    if (!m_delete->Exec())
        return m_delete.get();
    for (int i = 0; i < int(m_positions.size()); ++i) {
        // By the value's place in the list OwnerRecordParams gives.
        switch (m_positions[size_t(i)]) {
        case 0:
            m_insert->BindTextAt(i, rec.CardID);
            break;
        case 1:
            m_insert->BindTextAt(i, rec.CardNo);
            break;
        case 2:
            m_insert->BindTextAt(i, rec.UserName);
            break;
        case 3:
            m_insert->BindTextAt(i, rec.BuildName);
            break;
        case 4:
            m_insert->BindIntAt(i, rec.DongHao);
            break;
        case 5:
            m_insert->BindIntAt(i, rec.DanYuan);
            break;
        case 6:
            m_insert->BindTextAt(i, rec.UserType);
            break;
        case 7:
            m_insert->BindTextAt(i, rec.FangHao);
            break;
        case 8:
            m_insert->BindTextAt(i, rec.Sex);
            break;
        case 9:
            m_insert->BindAt(i, StoredDateText(rec.ExpDate));
            break;
        case 10:
            m_insert->BindAt(i, rec.BlackCard);
            break;
        case 11:
            m_insert->BindTextAt(i, rec.Phone);
            break;
        case 12:
            m_insert->BindTextAt(i, rec.Remark);
            break;
        case 13:
            m_insert->BindAt(i, false);
            break; // IsSelect
        case 14:
            // The bitmap is bound from the record itself, which outlives the statement's run.
            m_insert->BindAt(i,
                             QByteArray::fromRawData(reinterpret_cast<const char*>(rec.VaildTerminal.data()),
                                                     qsizetype(rec.VaildTerminal.size())));
            break;
        case 15:
            m_insert->BindAt(i, rec.IsUseExpDate);
            break;
        case 16:
            m_insert->BindTextAt(i, rec.ExtName);
            break;
        case 17:
            m_insert->BindTextAt(i, rec.chLoss);
            break;
        case 18:
            m_insert->BindTextAt(i, rec.chUseExpdate);
            break;
        default:
            m_insert->BindIntAt(i, rec.idx);
            break;
        }
    }
    return m_insert->Exec() ? nullptr : m_insert.get();
}

bool TImportBatch::stop(const TSqlFailure& why)
{
    m_stopReason = why.Describe();
    if (m_stopReason.isEmpty())
        m_stopReason = QStringLiteral("数据库出错");
    if (m_open)
        m_dm.UndoBatch();
    m_open = false;
    m_broken = true;
    m_replay = false;
    m_pending.clear();
    m_copy.clear();
    m_serials.clear();
    m_serialTwice = false;
    return false;
}

void TImportBatch::reportRefused(const TuserInfoRec& rec, const TPrepared* failed)
{
    if (failed == m_insert.get()) {
        ShowError(QStringLiteral("执行错误：") + InsertUserInfoStatement());
        return;
    }
    // The values as the operator can read them: a card number of megabytes is cut short.
    SqlParams shown = ImportDeleteParams(rec);
    shown[0].second = TextValue(Abridged(rec.CardNo));
    ShowError(QStringLiteral("执行错误：") + StatementWithValues(ImportDeleteStatement(m_dm), shown));
}

bool TImportBatch::Add(const TuserInfoRec& rec)
{
    if (m_broken || !begin())
        return false;
    m_pending.push_back(rec);
    if (!rec.CardID.isEmpty() && !m_serialTwice) {
        const auto size = m_serials.size();
        m_serials.insert(rec.CardID.toUpper());
        m_serialTwice = m_serials.size() == size;
    }
    if (m_dm.SqlEngine().ImportsByCopy()) {
        appendCopyLine(m_copy, rec);
        return true;
    }
    if (m_replay)
        return true;
    const TPrepared* failed = write(rec);
    if (!failed)
        return true;
    const TSqlFailure why = failed->Failure();
    if (!why.aboutTheRow || !failed->InTransaction())
        return stop(why); // the database's trouble, not the owner's: the run ends here
    // Refused for its own values, the rest of the batch still there: the owners since the last
    // commit are done again one by one when it is committed, so that this one alone is left out
    // and reported.
    m_replay = true;
    return true;
}

bool TImportBatch::replay()
{
    prepareStatements();
    TPrepared save(m_dm, QStringLiteral("SAVEPOINT iccard_owner"));
    TPrepared keep(m_dm, QStringLiteral("RELEASE SAVEPOINT iccard_owner"));
    TPrepared undo(m_dm, QStringLiteral("ROLLBACK TO SAVEPOINT iccard_owner"));
    for (const TuserInfoRec& rec : m_pending) {
        if (!save.Exec())
            return stop(save.Failure());
        TPrepared* failed = write(rec);
        if (!failed) {
            if (!keep.Exec())
                return stop(keep.Failure());
            continue;
        }
        const TSqlFailure why = failed->Failure();
        if (!why.aboutTheRow)
            return stop(why);
        if (!undo.Exec())
            return stop(undo.Failure());
        if (!keep.Exec())
            return stop(keep.Failure());
        reportRefused(rec, failed);
        ++m_refused;
    }
    return true;
}

bool TImportBatch::Commit()
{
    if (m_broken)
        return false;
    if (!m_open)
        return true;
    if (m_dm.SqlEngine().ImportsByCopy() && !m_replay) {
        TSqlFailure why;
        if (!copyPending(why)) {
            if (!why.aboutTheRow)
                return stop(why);
            m_replay = true; // a line the server refused: the owners one by one, as on the file
        }
    }
    m_copy.clear();
    if (m_replay) {
        m_dm.UndoBatch();
        m_open = false;
        m_replay = false;
        if (!begin() || !replay())
            return false;
    }
    // The serials the commit's owners bring are theirs alone, in the same commit.
    for (const QString* sql :
         {&ClearOtherHoldersStatement(), m_serialTwice ? &ClearEarlierImportedStatement() : nullptr}) {
        if (!sql)
            continue;
        TPrepared clear(m_dm, *sql);
        clear.Bind({{QStringLiteral("from"), m_lastIdx}});
        if (!clear.Exec())
            return stop(clear.Failure());
    }
    m_open = false;
    m_pending.clear();
    m_serials.clear();
    m_serialTwice = false;
    TSqlFailure why;
    if (m_dm.CommitBatch(&why))
        return true;
    return stop(why);
}

// The pending owners in one go: their keys (card number, building, unit) COPY into a table of
// their own and the rows they replace deleted through it; then the owners themselves COPY straight
// into UserInfo in file order, and, when a key came twice, each owner a later one of the same key
// replaces deleted again, so the rows are those of the owners imported one by one. All of it in
// the batch's transaction; false when any of it failed, with what the failure was about.
bool TImportBatch::copyPending(TSqlFailure& failure)
{
    PGconn* pg = ServerConnection(m_dm.database());
    auto failed = [&](PGresult* result) {
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        const QString detail =
            QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(pg)).trimmed();
        PQclear(result);
        while (PGresult* rest = PQgetResult(pg))
            PQclear(rest);
        failure = ServerFailure(state ? QString::fromLatin1(state) : QString(), PQstatus(pg) == CONNECTION_OK,
                                detail);
        return false;
    };
    // A statement; with from, the newest owner's idx before the commit as its $1.
    auto run = [&](const QString& statement, ExecStatusType expected = PGRES_COMMAND_OK,
                   PGresult** rows = nullptr) {
        const QByteArray from = QByteArray::number(m_lastIdx);
        const char* values[] = {from.constData()};
        const QByteArray text = statement.toUtf8();
        PGresult* result = statement.contains(QLatin1String("$1"))
                               ? PQexecParams(pg, text.constData(), 1, nullptr, values, nullptr, nullptr, 0)
                               : PQexec(pg, text.constData());
        if (PQresultStatus(result) != expected)
            return failed(result);
        if (rows)
            *rows = result;
        else
            PQclear(result);
        return true;
    };
    auto copy = [&](const QString& statement, const QByteArray& lines) {
        if (!run(statement, PGRES_COPY_IN))
            return false;
        constexpr qsizetype Chunk = 1 << 20;
        bool sent = true;
        for (qsizetype at = 0; sent && at < lines.size(); at += Chunk)
            sent = PQputCopyData(pg, lines.constData() + at, int(std::min(Chunk, lines.size() - at))) == 1;
        if (PQputCopyEnd(pg, sent ? nullptr : "not sent") != 1)
            return failed(nullptr);
        PGresult* result = PQgetResult(pg);
        if (PQresultStatus(result) != PGRES_COMMAND_OK)
            return failed(result);
        PQclear(result);
        while (PGresult* rest = PQgetResult(pg))
            PQclear(rest);
        return true;
    };
    const QString sameKey = QStringLiteral("%1.CardNo = %2.CardNo and %1.DongHao = %2.DongHao and "
                                           "%1.DanYuan = %2.DanYuan");
    // The keys in columns of UserInfo's own types, so that they compare as UserInfo's do.
    QByteArray keys;
    keys.reserve(qsizetype(m_pending.size()) * 24);
    for (const TuserInfoRec& rec : m_pending) {
        appendCopyText(keys, rec.CardNo);
        keys.append(QByteArray::number(rec.DongHao)).append('\t');
        keys.append(QByteArray::number(rec.DanYuan)).append('\n');
    }
    if (!run(
            QStringLiteral("create temp table iccard_import as select CardNo, DongHao, DanYuan from UserInfo "
                           "with no data")) ||
        !copy(QStringLiteral("copy iccard_import from stdin"), keys))
        return false;
    // The statistics of the keys tell the server that they are many: it then looks up the rows
    // they replace in one pass rather than one index search per owner.
    PGresult* twice = nullptr;
    if (!run(QStringLiteral("analyze iccard_import")) ||
        !run(QStringLiteral("delete from UserInfo u using iccard_import s where ") +
             sameKey.arg(QStringLiteral("u"), QStringLiteral("s"))) ||
        !run(QStringLiteral("select exists (select 1 from iccard_import group by CardNo, DongHao, DanYuan "
                            "having count(*) > 1)"),
             PGRES_TUPLES_OK, &twice))
        return false;
    const bool repeated = PQntuples(twice) == 1 && PQgetvalue(twice, 0, 0)[0] == 't';
    PQclear(twice);
    return copy(QStringLiteral("copy UserInfo (%1) from stdin").arg(QString::fromLatin1(ImportColumns)),
                m_copy) &&
           (!repeated ||
            run(QStringLiteral("delete from UserInfo u where u.idx > $1 and exists (select 1 from UserInfo n "
                               "where n.idx > u.idx and ") +
                sameKey.arg(QStringLiteral("n"), QStringLiteral("u")) + QStringLiteral(")"))) &&
           run(QStringLiteral("drop table iccard_import"));
}

void Tdm::beginLevel(bool allOrNothing)
{
    m_beginError = TSqlFailure{};
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

bool Tdm::endLevel(bool keep, TSqlFailure* refusal)
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

bool Tdm::BeginBatch(TSqlFailure* failure)
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

bool Tdm::CommitBatch(TSqlFailure* failure)
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

TTransaction::TTransaction(Tdm& module) : m_dm(module)
{
    m_dm.beginLevel(true);
}

TTransaction::TTransaction() : TTransaction(*dm) {}

TTransaction::~TTransaction()
{
    if (m_open)
        m_dm.endLevel(false);
}

bool TTransaction::Commit()
{
    if (!m_open)
        return false;
    m_open = false;
    return m_dm.endLevel(true);
}
