#include "PgEngine.h"

#include "store/OperationError.h"
#include "store/OwnerStatements.h"
#include "store/Schema.h"
#include "store/Values.h"

#include <QSqlDriver>
#include <cstring>
#include <libpq-fe.h>
#include <vector>

namespace {

constexpr Oid ByteaOid = 17;

// A cards lock per serial for the registrations of every desk on one server (its first key).
constexpr int CardLockSpace = 0x1CCA4D02;

// libpq's connection under a Qt connection, or null. Qt names it by the structure under the
// typedef.
PGconn* serverHandle(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

bool isServerHandle(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    return handle.isValid() &&
           (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0);
}

// A statement through libpq on the connection: the ":name" parameters become "$n", the values are
// sent apart from the text (bytes as binary), and the rows of a query come one at a time as the
// server sends them, so that a community is never held in memory whole. While a query's rows are
// being read nothing else may run on the connection.
class PgPrepared final : public PreparedBackend {
public:
    PgPrepared(const QSqlDatabase& db, const QString& sql) : m_sql(sql)
    {
        m_pg = ServerConnection(db);
        m_pgSql = NumberedParameters(sql, &m_pgNames).toUtf8();
        const size_t count = size_t(m_pgNames.size());
        m_values.resize(count);
        m_nulls.assign(count, 1);
        m_formats.assign(count, 0);
    }
    ~PgPrepared() override { finishRows(); }

    int IndexOf(const QString& name) const override { return int(m_pgNames.indexOf(name)) + 1; }

    void Name(const QStringList& names) override
    {
        m_indexes.clear();
        for (const QString& name : names) {
            const int at = IndexOf(name);
            if (at == 0)
                throw OperationError(QStringLiteral("语句没有参数 :%1：%2").arg(name, m_sql));
            m_indexes.append(at);
        }
        if (m_indexes.size() != m_pgNames.size())
            throw OperationError(QStringLiteral("语句参数不匹配：%1").arg(m_sql));
    }

    void BindAt(int i, const QVariant& value) override { bind(m_indexes.at(i), value); }
    void BindTextAt(int i, QStringView text) override
    {
        bind(m_indexes.at(i), QVariant(text.isNull() ? QString(QLatin1String("")) : text.toString()));
    }
    void BindIntAt(int i, qint64 value) override { bind(m_indexes.at(i), QVariant(value)); }

    void Bind(const SqlParams& params) override
    {
        for (const auto& p : params)
            bind(IndexOf(p.first), p.second);
    }

    bool Exec() override
    {
        finishRows();
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

    bool Next() override
    {
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
        finishRows();
        if (!m_error.isEmpty())
            throw OperationError(m_error);
        return false;
    }

    void Reset() override { finishRows(); }

    bool IsNull(int column) const override { return !m_row || PQgetisnull(m_row, 0, column); }

    QByteArrayView Text(int column) const override
    {
        if (!m_row || PQgetisnull(m_row, 0, column))
            return {};
        return QByteArrayView(PQgetvalue(m_row, 0, column), PQgetlength(m_row, 0, column));
    }

    QByteArrayView Blob(int column) const override
    {
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

    qint64 Int(int column) const override { return Text(column).toLongLong(); }

    QString ErrorText() const override
    {
        return m_error.isEmpty() ? QString::fromUtf8(PQerrorMessage(m_pg)).trimmed() : m_error;
    }

    SqlFailure Failure() const override
    {
        return ServerFailure(m_sqlstate, PQstatus(m_pg) == CONNECTION_OK, ErrorText());
    }

    bool InTransaction() const override
    {
        const PGTransactionStatusType status = PQtransactionStatus(m_pg);
        return status == PQTRANS_INTRANS || status == PQTRANS_INERROR;
    }

private:
    void bind(int index, const QVariant& value)
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

    void finishRows()
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

    QString m_sql;
    PGconn* m_pg = nullptr;
    QByteArray m_pgSql;
    QStringList m_pgNames;
    QVector<int> m_indexes;
    // The values of the parameters, and the current row.
    std::vector<QByteArray> m_values;
    std::vector<char> m_nulls;
    std::vector<int> m_formats;
    PGresult* m_row = nullptr;
    bool m_running = false; // a query's rows are coming
    QString m_error;
    QString m_sqlstate;                      // the SQLSTATE of the last failure of Exec
    mutable std::vector<QByteArray> m_blobs; // bytea columns of the row, from the server's hex text
};

} // namespace

PGconn* ServerConnection(const QSqlDatabase& db)
{
    if (!isServerHandle(db))
        throw OperationError(QStringLiteral("数据库驱动不是 PostgreSQL"));
    PGconn* connection = serverHandle(db);
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

QString PgEngine::DriverName() const
{
    return QStringLiteral("QPSQL");
}

void PgEngine::AimAtExisting(QSqlDatabase& db, const DatabaseTarget& target) const
{
    ConfigureServerConnection(db, target);
}

bool PgEngine::ConnectionMayStayOpen() const
{
    return true; // an idle session holds no lock
}

bool PgEngine::ConnectionAlive(const QSqlDatabase& db) const
{
    if (!isServerHandle(db))
        return true;
    PGconn* connection = serverHandle(db);
    return connection && PQstatus(connection) == CONNECTION_OK;
}

QString PgEngine::BoolLiteral(bool value) const
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString PgEngine::BeginStatement() const
{
    return QStringLiteral("BEGIN");
}

bool PgEngine::SavepointPerStatement() const
{
    return true; // a failed statement ends the whole transaction
}

QString PgEngine::SchemaFolder() const
{
    return QStringLiteral("pg/");
}

std::optional<int> PgEngine::ReadSchemaVersion(QSqlQuery& q) const
{
    // Read from the catalog table itself: a name lookup may answer from this session's cache, which
    // does not yet know a table another desk has just made.
    if (!q.exec(QStringLiteral(
            "select count(*) > 0 from pg_catalog.pg_tables where schemaname = current_schema() "
            "and tablename = 'schemainfo'")) ||
        !q.next())
        return std::nullopt;
    if (!q.value(0).toBool())
        return 0;
    if (!q.exec(QStringLiteral("select max(version) from SchemaInfo")) || !q.next())
        return std::nullopt;
    return q.value(0).toInt();
}

bool PgEngine::RecordSchemaVersion(QSqlQuery& q, int version) const
{
    // A server keeps its version in the one-row table SchemaInfo.
    return q.exec(QStringLiteral("delete from SchemaInfo")) &&
           q.exec(QStringLiteral("insert into SchemaInfo (version) values (%1)").arg(version));
}

void PgEngine::BeginSchemaChange(QSqlDatabase& db) const
{
    if (!db.transaction())
        throw OperationError(db.lastError().text());
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("select pg_advisory_xact_lock(%1)").arg(SchemaLockKey))) {
        const QString error = q.lastError().text();
        db.rollback();
        throw OperationError(error);
    }
}

std::optional<QSqlError> PgEngine::HoldSchema(QSqlDatabase& db) const
{
    QSqlQuery lock(db);
    if (!lock.exec(QStringLiteral("select pg_advisory_lock_shared(%1)").arg(SchemaLockKey)))
        return lock.lastError();
    return std::nullopt;
}

void PgEngine::ReleaseSchema(QSqlDatabase& db) const
{
    QSqlQuery lock(db);
    lock.exec(QStringLiteral("select pg_advisory_unlock_shared(%1)").arg(SchemaLockKey));
}

QString PgEngine::TablesQuery() const
{
    // From the catalog itself: the information schema's views take longer than the rest of the
    // check together, at every start of the program.
    return QStringLiteral(
        "select c.relname from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = "
        "c.relnamespace where n.nspname = current_schema() and c.relkind in ('r', 'p')");
}

std::optional<int> PgEngine::QueryColumns(QSqlQuery& q, const QString& table) const
{
    if (!ExecBound(
            q,
            QStringLiteral("select a.attname from pg_catalog.pg_attribute a join pg_catalog.pg_class c "
                           "on c.oid = a.attrelid join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
                           "where n.nspname = current_schema() and c.relname = :name and a.attnum > 0 "
                           "and not a.attisdropped"),
            {{QStringLiteral("name"), table.toLower()}}))
        return std::nullopt;
    return 0;
}

std::unique_ptr<PreparedBackend> PgEngine::Prepare(const QSqlDatabase& db, const QString& sql) const
{
    return std::make_unique<PgPrepared>(db, sql);
}

void PgEngine::SetForwardOnly(QSqlQuery& query) const
{
    query.setForwardOnly(false);
}

std::optional<qint64> PgEngine::KeyOfInsert(QSqlQuery&) const
{
    // Asked only when the key is wanted: lastval() fails, and would end the transaction, in a
    // session that has not made a key yet.
    return std::nullopt;
}

qint64 PgEngine::LastInsertKey(QSqlDatabase& db) const
{
    QSqlQuery q(db);
    return q.exec(QStringLiteral("select lastval()")) && q.next() ? q.value(0).toLongLong() : 0;
}

SqlFailure PgEngine::FailureOf(const QSqlDatabase& db, const QSqlError& error, const QString& detail) const
{
    PGconn* pg = serverHandle(db);
    const bool connected = pg && PQstatus(pg) == CONNECTION_OK;
    return ServerFailure(error.nativeErrorCode(), connected, detail);
}

SqlFailure PgEngine::NotOpenFailure(const QString& detail) const
{
    return ServerFailure(QString(), false, detail);
}

SqlFailure PgEngine::ReadFailure(const QSqlError& error) const
{
    return ServerFailure(error.nativeErrorCode(), true, error.text());
}

QString PgEngine::PageQuery(const QString& columns, const QString& from, const QString& order) const
{
    // A server fetches the whole row of every row it steps over: it finds the page's keys along
    // the index first, then reads those rows alone.
    return QStringLiteral("select %1 from (select * from %2) as listed where idx in (select idx from %2 "
                          "order by %3 limit :list_limit offset :list_offset) order by %3")
        .arg(columns, from, order);
}

bool PgEngine::NullsFirst() const
{
    return false;
}

QString PgEngine::ExportCountQuery(const QString& filterClause) const
{
    // Counted with the same pass that looks for an owner without a place: right after an import the
    // first pass over the new rows costs most, and it is made once.
    return QStringLiteral(
               "select count(*), count(*) filter (where DongHao is null or DanYuan is null or FangHao "
               "is null) from UserInfo") +
           filterClause;
}

QString PgEngine::ExportQuery(const QString& statement, bool placeless) const
{
    // The same file as from the SQLite file: owners without a building, unit or room first (where
    // the file's engine sorts Null), and owners of one room in the order they were added (as the
    // file's index gives them). The server's index holds Null last, so that order costs a sort of
    // every owner; when no owner lacks a place, the index order is the same.
    QString sql = statement;
    sql.replace(QStringLiteral(" order by DongHao, DanYuan, FangHao"),
                placeless
                    ? QStringLiteral(" order by DongHao nulls first, DanYuan nulls first, FangHao nulls "
                                     "first, idx")
                    : QStringLiteral(" order by DongHao, DanYuan, FangHao, idx"));
    return sql;
}

QString PgEngine::CardSerialLock() const
{
    return QStringLiteral("select pg_advisory_xact_lock(%1, hashtext(:CardID))").arg(CardLockSpace);
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
void appendCopyUtf8(QByteArray& out, const QByteArray& utf8)
{
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

// The same from the record's text.
void appendCopyText(QByteArray& out, const QString& text)
{
    // Converted to UTF-8 straight into the line, a hundred thousand owners of a dozen texts each
    // without a UTF-8 copy of every text. A text with a character beyond the basic plane (or half
    // of one) is converted by Qt, as everywhere else.
    const qsizetype at = out.size();
    out.resize(at + text.size() * 3 + 1); // at most 3 bytes for a UTF-16 unit, 2 for an escape
    char* w = out.data() + at;
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80) {
            const char c = char(u);
            const char escaped = c == '\\' ? '\\' : c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : 0;
            if (escaped) {
                *w++ = '\\';
                *w++ = escaped;
            } else {
                *w++ = c;
            }
        } else if (u < 0x800) {
            *w++ = char(0xC0 | (u >> 6));
            *w++ = char(0x80 | (u & 0x3F));
        } else if (QChar::isSurrogate(u)) {
            out.truncate(at);
            appendCopyUtf8(out, text.toUtf8());
            return;
        } else {
            *w++ = char(0xE0 | (u >> 12));
            *w++ = char(0x80 | ((u >> 6) & 0x3F));
            *w++ = char(0x80 | (u & 0x3F));
        }
    }
    *w++ = '\t';
    out.truncate(w - out.constData());
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

namespace {

// One commit's owners as COPY into UserInfo, sent while the file is still being read, so that the
// server takes in the lines of a commit while the program reads and converts the next ones. The
// owners get their idx from UserInfo's identity, in file order, all above newestBefore (the import
// holds the batch's lock, so no other desk adds owners meanwhile). Finish then deletes each row
// that an owner of the copy replaces: the older rows of its key, those before the commit and
// those of earlier owners of the same key in it.
class PgOwnerCopy final : public OwnerCopy {
public:
    PgOwnerCopy(PGconn* pg, qint64 newestBefore, ImportRunNotes& run)
        : m_pg(pg), m_newestBefore(newestBefore), m_run(run)
    {
        m_lines.reserve(SendAt + 4096);
    }
    ~PgOwnerCopy() override
    {
        if (m_copying) {
            // Ended with an error of the program's own: the server undoes the copy's lines and the
            // transaction keeps none of them.
            PQputCopyEnd(m_pg, "import ended");
            while (PGresult* rest = PQgetResult(m_pg))
                PQclear(rest);
        }
    }

    bool begin(SqlFailure& failure)
    {
        const QByteArray sql =
            QByteArrayLiteral("copy UserInfo (") + ImportColumns + QByteArrayLiteral(") from stdin");
        PGresult* result = PQexec(m_pg, sql.constData());
        if (PQresultStatus(result) != PGRES_COPY_IN)
            return failed(result, failure);
        PQclear(result);
        m_copying = true;
        return true;
    }

    bool Add(const TuserInfoRec& rec) override
    {
        if (!m_sent)
            return false;
        appendCopyLine(m_lines, rec);
        if (m_lines.size() >= SendAt)
            send();
        return m_sent;
    }

    bool Finish(SqlFailure& failure) override
    {
        if (!m_lines.isEmpty())
            send();
        m_copying = false;
        if (PQputCopyEnd(m_pg, m_sent ? nullptr : "not sent") != 1)
            return failed(nullptr, failure);
        PGresult* result = PQgetResult(m_pg);
        if (PQresultStatus(result) != PGRES_COMMAND_OK)
            return failed(result, failure);
        PQclear(result);
        while (PGresult* rest = PQgetResult(m_pg))
            PQclear(rest);
        // The rows the copied owners replace, and the owners before the copy holding their serials,
        // each found in one pass over UserInfo with the copied rows in a hash: the server's
        // statistics know nothing yet of the rows just copied and would look them up one by one
        // (or sort both sides), so the other ways of joining are off for the rest of this commit.
        // A pass is left out when it can find nothing: the table holds the run's rows alone, as its
        // commits copied them, and no owner of this commit has a key (for the delete) or brings a
        // serial (for the serials) that an earlier owner of the run had.
        bool replacing = true;
        bool takingSerials = true;
        if (m_run.onlyOwn) {
            const bool looking = !m_run.keyAgain || !m_run.serialAgain;
            bool own = false;
            if (!onlyOwnRows(looking, own, failure))
                return false;
            if (looking)
                m_run.onlyOwn = own;
            replacing = !own || m_run.keyAgain;
            takingSerials = !own || m_run.serialAgain;
        }
        return run("set local enable_nestloop = off", failure) &&
               run("set local enable_mergejoin = off", failure) &&
               (!replacing ||
                run("delete from UserInfo u using UserInfo s where s.idx > $1 and u.CardNo = s.CardNo and "
                    "u.DongHao = s.DongHao and u.DanYuan = s.DanYuan and u.idx < s.idx",
                    failure)) &&
               (!takingSerials ||
                run("update UserInfo u set CardID = '' from UserInfo s where s.idx > $1 and s.CardID <> '' "
                    "and u.CardID = s.CardID and u.idx <= $1",
                    failure));
    }

private:
    // Lines go to the server a block at a time.
    static constexpr qsizetype SendAt = 256 * 1024;

    void send()
    {
        if (m_sent)
            m_sent = PQputCopyData(m_pg, m_lines.constData(), int(m_lines.size())) == 1;
        m_lines.clear();
    }

    // A statement; $1 is the newest owner's idx before the copy.
    bool run(const char* statement, SqlFailure& failure)
    {
        const QByteArray from = QByteArray::number(m_newestBefore);
        const char* values[] = {from.constData()};
        PGresult* result = PQexecParams(m_pg, statement, std::strstr(statement, "$1") ? 1 : 0, nullptr,
                                        values, nullptr, nullptr, 0);
        if (PQresultStatus(result) != PGRES_COMMAND_OK)
            return failed(result, failure);
        PQclear(result);
        return true;
    }

    // Whether every row of UserInfo is one the run's commits copied, unchanged since: each then has
    // the number of its commit's transaction (a row another desk added or changed has another). The
    // number of this commit's transaction is noted for the next commits; the rows are looked at
    // only when looking is wanted (own is false otherwise).
    bool onlyOwnRows(bool looking, bool& own, SqlFailure& failure)
    {
        PGresult* result = PQexec(m_pg, "select (txid_current() % 4294967296)::text");
        if (PQresultStatus(result) != PGRES_TUPLES_OK || PQntuples(result) != 1)
            return failed(result, failure);
        m_run.current = QString::fromLatin1(PQgetvalue(result, 0, 0));
        PQclear(result);
        own = false;
        if (!looking)
            return true;
        const QByteArray ours =
            ('{' + (m_run.commits + QStringList{m_run.current}).join(QLatin1Char(',')) + '}').toLatin1();
        const char* values[] = {ours.constData()};
        result =
            PQexecParams(m_pg,
                         "select count(*) from (select 1 from UserInfo where not (xmin = any($1::xid[])) "
                         "limit 1) as other",
                         1, nullptr, values, nullptr, nullptr, 0);
        if (PQresultStatus(result) != PGRES_TUPLES_OK || PQntuples(result) != 1)
            return failed(result, failure);
        own = std::strcmp(PQgetvalue(result, 0, 0), "0") == 0;
        PQclear(result);
        return true;
    }

    bool failed(PGresult* result, SqlFailure& failure)
    {
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        const QString detail =
            QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(m_pg)).trimmed();
        PQclear(result);
        while (PGresult* rest = PQgetResult(m_pg))
            PQclear(rest);
        failure = ServerFailure(state ? QString::fromLatin1(state) : QString(),
                                PQstatus(m_pg) == CONNECTION_OK, detail);
        return false;
    }

    PGconn* m_pg;
    qint64 m_newestBefore;
    ImportRunNotes& m_run;
    QByteArray m_lines;     // not sent yet
    bool m_copying = false; // the server is in the copy
    bool m_sent = true;     // every block went out
};

} // namespace

std::unique_ptr<OwnerCopy> PgEngine::BeginOwnerCopy(const QSqlDatabase& db, qint64 newestBefore,
                                                    ImportRunNotes& run, SqlFailure& failure) const
{
    auto copy = std::make_unique<PgOwnerCopy>(ServerConnection(db), newestBefore, run);
    if (!copy->begin(failure))
        return nullptr;
    return copy;
}

QString PgEngine::ChangeMark(const QSqlDatabase&) const
{
    return QString(); // the copy looks at the rows themselves
}

int PgEngine::ImportLinesPerCommit() const
{
    return 25000;
}

bool PgEngine::ImportsByCopy() const
{
    return true;
}

QString PgEngine::IndexHint(const QString&) const
{
    return QString(); // the server plans by its own statistics, and has no "indexed by"
}
