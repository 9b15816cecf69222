#include "Schema.h"

#include "OperationError.h"
#include "SqlFailure.h"
#include "SqlText.h"
#include "engine/Engine.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <atomic>
#include <cstring>

const QList<RequiredTable>& RequiredTables()
{
    static const QList<RequiredTable> tables = {
        {"UserInfo",
         {QStringLiteral("idx"),           QStringLiteral("CardID"),       QStringLiteral("CardNo"),
          QStringLiteral("UserName"),      QStringLiteral("BuildName"),    QStringLiteral("DongHao"),
          QStringLiteral("DanYuan"),       QStringLiteral("UserType"),     QStringLiteral("FangHao"),
          QStringLiteral("Sex"),           QStringLiteral("Expdate"),      QStringLiteral("BlackCard"),
          QStringLiteral("phone"),         QStringLiteral("Remark"),       QStringLiteral("IsSelect"),
          QStringLiteral("VaildTerminal"), QStringLiteral("IsUseExpDate"), QStringLiteral("ExtName"),
          QStringLiteral("chLoss"),        QStringLiteral("chUseExpdate"), QStringLiteral("selFlag"),
          QStringLiteral("imgPhoto")}},
        {"TerminalInfo",
         {QStringLiteral("idx"), QStringLiteral("TerminalID"), QStringLiteral("TerminalName"),
          QStringLiteral("Remark"), QStringLiteral("selFlag")}},
        {"BuildInfo",
         {QStringLiteral("idx"), QStringLiteral("DongHao"), QStringLiteral("DanYuan"),
          QStringLiteral("DanYuanName"), QStringLiteral("selFlag")}},
    };
    return tables;
}

const QList<RequiredTable>& OfficeTables()
{
    static const QList<RequiredTable> tables = {
        {"OperationLog",
         {QStringLiteral("idx"), QStringLiteral("LogTime"), QStringLiteral("Computer"),
          QStringLiteral("SystemUser"), QStringLiteral("OperatorLevel"), QStringLiteral("Action"),
          QStringLiteral("Outcome"), QStringLiteral("CardID"), QStringLiteral("OwnerIdx"),
          QStringLiteral("OwnerName"), QStringLiteral("Details")}},
        {"OfficePassword",
         {QStringLiteral("OperatorLevel"), QStringLiteral("Salt"), QStringLiteral("Hash"),
          QStringLiteral("Iterations"), QStringLiteral("ChangedAt")}},
    };
    return tables;
}

namespace {

QStringList schemaStatements(int version, const Engine& engine)
{
    QFile file(QStringLiteral(":/store/schema/%1%2.sql").arg(engine.SchemaFolder()).arg(version));
    if (!file.open(QIODevice::ReadOnly))
        throw OperationError(QStringLiteral("数据库结构文件缺失：%1").arg(file.fileName()));
    return SplitStatements(QString::fromUtf8(file.readAll()));
}

} // namespace

QStringList SchemaStatements(int version, DatabaseEngine engine)
{
    DatabaseTarget target;
    target.engine = engine;
    return schemaStatements(version, EngineFor(target));
}

void ApplySchemaSteps(QSqlDatabase& db, int from)
{
    const Engine& engine = EngineOf(db);
    QSqlQuery q(db);
    for (int v = from + 1; v <= SchemaVersion; ++v) {
        for (const QString& s : schemaStatements(v, engine)) {
            if (!q.exec(s))
                throw OperationError(q.lastError().text());
        }
    }
    if (!engine.RecordSchemaVersion(q, SchemaVersion))
        throw OperationError(q.lastError().text());
}

void ApplySchema(QSqlDatabase& db, int from)
{
    const Engine& engine = EngineOf(db);
    // The transaction keeps out another program putting the schema in at the same moment; the
    // version is read again once the lock is had.
    engine.BeginSchemaChange(db);
    try {
        QSqlQuery q(db);
        const std::optional<int> held = engine.ReadSchemaVersion(q);
        if (!held)
            throw OperationError(q.lastError().text());
        from = std::max(from, *held);
        q.finish();
        ApplySchemaSteps(db, from);
        if (!db.commit())
            throw OperationError(db.lastError().text());
    } catch (...) {
        db.rollback();
        throw;
    }
}

namespace {

constexpr char SqliteMagic[] = "SQLite format 3";

// How many of the problems the whole check finds are named to the operator.
constexpr int IntegrityProblemsShown = 10;

QString damaged(const QString& detail)
{
    return QStringLiteral("数据库文件已损坏或不完整（%1）。").arg(detail);
}

// A read of the database that failed: one that another program holds (it is waited for a while
// first) is in use, not damaged.
QString unreadable(const QSqlError& error, const Engine& engine)
{
    const SqlFailure failure = engine.ReadFailure(error);
    if (failure.inUse)
        return failure.Describe() + QStringLiteral("。");
    return damaged(error.text());
}

QString foreign(const QString& detail)
{
    return QStringLiteral("它是其他程序的数据库，不是本系统的数据库（%1）。").arg(detail);
}

// Whether the file starts as every SQLite database does.
bool hasSqliteHeader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(16);
    return head.size() == 16 && std::memcmp(head.constData(), SqliteMagic, 16) == 0;
}

// What the tables and the version of an open database are; the reason is set when they cannot be
// read.
DatabaseCheck judgeTablesNow(QSqlDatabase& db);

// On a server the schema is judged from several reads: another desk putting the schema in at that
// moment could commit between them (no tables yet, then a version), so the judgement waits for that
// desk and keeps it out until the reads are done.
DatabaseCheck judgeTables(QSqlDatabase& db)
{
    const Engine& engine = EngineOf(db);
    if (const std::optional<QSqlError> error = engine.HoldSchema(db)) {
        DatabaseCheck result;
        result.reason = unreadable(*error, engine);
        return result;
    }
    DatabaseCheck result = judgeTablesNow(db);
    engine.ReleaseSchema(db);
    return result;
}

DatabaseCheck judgeTablesNow(QSqlDatabase& db)
{
    DatabaseCheck result;
    const Engine& engine = EngineOf(db);
    QSqlQuery q(db);
    // The first read lets the engine roll back what a crash left half-written.
    if (!q.exec(engine.TablesQuery())) {
        result.reason = unreadable(q.lastError(), engine);
        return result;
    }
    QSet<QString> tables;
    while (q.next()) {
        const QString name = q.value(0).toString().toLower();
        if (!name.startsWith(QLatin1String("sqlite_")) && name != QLatin1String("schemainfo"))
            tables.insert(name);
    }
    if (q.lastError().isValid()) {
        result.reason = unreadable(q.lastError(), engine);
        return result;
    }
    const std::optional<int> version = engine.ReadSchemaVersion(q);
    if (!version) {
        result.reason = unreadable(q.lastError(), engine);
        return result;
    }
    result.version = *version;
    if (result.version > SchemaVersion) {
        result.reason = QStringLiteral("它由更新版本的程序建立（数据库版本 %1）。").arg(result.version);
        return result;
    }
    // No version of this program's schema is below 0.
    if (result.version < 0) {
        result.reason = foreign(QStringLiteral("数据库版本 %1").arg(result.version));
        return result;
    }
    if (tables.isEmpty() && result.version == 0) {
        // Nothing in it: a creation that never finished (or an empty file someone made).
        result.ok = true;
        result.empty = true;
        return result;
    }
    for (const RequiredTable& t : RequiredTables()) {
        const QString name = QString::fromLatin1(t.name);
        if (!tables.contains(name.toLower())) {
            result.reason = foreign(QStringLiteral("缺少数据表 %1").arg(name));
            return result;
        }
        const std::optional<int> nameColumn = engine.QueryColumns(q, name);
        if (!nameColumn) {
            result.reason = unreadable(q.lastError(), engine);
            return result;
        }
        QSet<QString> columns;
        while (q.next())
            columns.insert(q.value(*nameColumn).toString().toLower());
        for (const QString& c : t.columns) {
            if (!columns.contains(c.toLower())) {
                result.reason = foreign(QStringLiteral("数据表 %1 缺少列 %2").arg(name, c));
                return result;
            }
        }
    }
    result.ok = true;
    return result;
}

DatabaseCheck checkOpen(QSqlDatabase& db, const QString& path, bool integrity)
{
    DatabaseCheck result = judgeTables(db);
    if (!result.ok || result.empty)
        return result;
    result.ok = false;
    QSqlQuery q(db);
    if (integrity) {
        // A copy cut short inside its last page passes the engine's own checks.
        qint64 pages = -1;
        qint64 pageSize = -1;
        if (q.exec(QStringLiteral("PRAGMA page_count")) && q.next())
            pages = q.value(0).toLongLong();
        if (q.exec(QStringLiteral("PRAGMA page_size")) && q.next())
            pageSize = q.value(0).toLongLong();
        const qint64 size = QFileInfo(path).size();
        if (pages < 0 || pageSize <= 0 || size != pages * pageSize) {
            result.reason =
                damaged(QStringLiteral("文件长 %1 字节，应为 %2 字节").arg(size).arg(pages * pageSize));
            return result;
        }
        // The whole check: every page, and every index against its table (a page can be well formed
        // while an index entry no longer matches its row).
        if (!q.exec(QStringLiteral("PRAGMA integrity_check(%1)").arg(IntegrityProblemsShown))) {
            result.reason = unreadable(q.lastError(), FileEngine());
            return result;
        }
        QStringList problems;
        while (q.next()) {
            const QString line = q.value(0).toString();
            if (line != QLatin1String("ok"))
                problems << line;
        }
        if (q.lastError().isValid())
            problems << q.lastError().text();
        if (!problems.isEmpty()) {
            result.reason = damaged(problems.join(QStringLiteral("；")));
            return result;
        }
    }
    result.ok = true;
    return result;
}

} // namespace

DatabaseCheck CheckOpenDatabase(QSqlDatabase& db)
{
    return judgeTables(db);
}

DatabaseCheck CheckDatabaseFile(const QString& path, bool integrity)
{
    DatabaseCheck result;
    const QFileInfo info(path);
    if (!info.exists()) {
        result.reason = QStringLiteral("文件不存在。");
        return result;
    }
    if (!info.isFile()) {
        result.reason = QStringLiteral("它不是一个文件。");
        return result;
    }
    if (info.size() == 0) {
        result.ok = true;
        result.empty = true;
        return result;
    }
    if (!hasSqliteHeader(path)) {
        result.reason = QStringLiteral("它不是本系统的数据库文件（不是 SQLite 数据库）。");
        return result;
    }
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("iccard.check.%1").arg(++serial);
    {
        // Read-write, as the engine intends: a journal that a crash left beside the file is rolled
        // back by the first read, and only then is the file judged.
        QSqlDatabase db = QSqlDatabase::addDatabase(FileEngine().DriverName(), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            result.reason = QStringLiteral("无法打开：%1").arg(db.lastError().text());
        } else {
            result = checkOpen(db, path, integrity);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    // A rollback may have left the file empty again (its creation had not finished).
    if (result.ok && QFileInfo(path).size() == 0)
        result.empty = true;
    return result;
}
