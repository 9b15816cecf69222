#include "Schema.h"

#include "OperationError.h"

#include <QFile>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

const QList<TRequiredTable>& RequiredTables()
{
    static const QList<TRequiredTable> tables = {
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

QStringList SchemaStatements(int version)
{
    QFile file(QStringLiteral(":/store/schema/%1.sql").arg(version));
    if (!file.open(QIODevice::ReadOnly))
        throw OperationError(QStringLiteral("数据库结构文件缺失：%1").arg(file.fileName()));
    QString text;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype comment = line.indexOf(QLatin1String("--"));
        text += (comment < 0 ? line : line.left(comment)) + QLatin1Char('\n');
    }
    QStringList statements;
    for (const QString& part : text.split(QLatin1Char(';'))) {
        const QString s = part.trimmed();
        if (!s.isEmpty())
            statements << s;
    }
    return statements;
}

void ApplySchema(QSqlDatabase& db, int from)
{
    if (!db.transaction())
        throw OperationError(db.lastError().text());
    try {
        QSqlQuery q(db);
        for (int v = from + 1; v <= SchemaVersion; ++v) {
            for (const QString& s : SchemaStatements(v)) {
                if (!q.exec(s))
                    throw OperationError(q.lastError().text());
            }
        }
        if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion)))
            throw OperationError(q.lastError().text());
        q.finish();
        if (!db.commit())
            throw OperationError(db.lastError().text());
    } catch (...) {
        db.rollback();
        throw;
    }
}

namespace {

TDatabaseCheck checkOpen(QSqlDatabase& db, bool integrity)
{
    TDatabaseCheck result;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("select name from sqlite_master where type='table'"))) {
        result.reason = QStringLiteral("它不是本系统的数据库文件（不是 SQLite 数据库）。");
        return result;
    }
    QSet<QString> tables;
    while (q.next())
        tables.insert(q.value(0).toString().toLower());
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
        result.reason = q.lastError().text();
        return result;
    }
    result.version = q.value(0).toInt();
    if (result.version > SchemaVersion) {
        result.reason = QStringLiteral("它由更新版本的程序建立（数据库版本 %1）。").arg(result.version);
        return result;
    }
    for (const TRequiredTable& t : RequiredTables()) {
        const QString name = QString::fromLatin1(t.name);
        if (!tables.contains(name.toLower())) {
            result.reason = QStringLiteral("它缺少数据表 %1，不是本系统的数据库。").arg(name);
            return result;
        }
        if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(name))) {
            result.reason = q.lastError().text();
            return result;
        }
        QSet<QString> columns;
        while (q.next())
            columns.insert(q.value(1).toString().toLower());
        for (const QString& c : t.columns) {
            if (!columns.contains(c.toLower())) {
                result.reason = QStringLiteral("数据表 %1 缺少列 %2，不是本系统的数据库。").arg(name, c);
                return result;
            }
        }
    }
    if (integrity) {
        if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next()) {
            result.reason = QStringLiteral("文件已损坏：%1").arg(q.lastError().text());
            return result;
        }
        const QString verdict = q.value(0).toString();
        if (verdict != QLatin1String("ok")) {
            result.reason = QStringLiteral("文件已损坏：%1").arg(verdict);
            return result;
        }
    }
    result.ok = true;
    return result;
}

} // namespace

TDatabaseCheck CheckDatabaseFile(const QString& path, bool integrity)
{
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("iccard.check.%1").arg(++serial);
    TDatabaseCheck result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!QFile::exists(path)) {
            result.reason = QStringLiteral("文件不存在。");
        } else if (!db.open()) {
            result.reason = QStringLiteral("无法打开：%1").arg(db.lastError().text());
        } else {
            result = checkOpen(db, integrity);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}
