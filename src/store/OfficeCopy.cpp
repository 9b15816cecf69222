#include "OfficeCopy.h"

#include "OwnConnection.h"
#include "engine/Engine.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace {

const QString LogColumns = QStringLiteral(
    "LogTime, Computer, SystemUser, OperatorLevel, Action, Outcome, CardID, OwnerIdx, OwnerName, Details");
constexpr int LogColumnCount = 10;

// An entry as one text, every column but its number (a Null apart from an empty text).
QString entryKey(const QSqlQuery& q)
{
    QString key;
    for (int i = 0; i < LogColumnCount; ++i) {
        const QVariant v = q.value(i);
        key += v.isNull() ? QStringLiteral("\x01") : v.toString();
        key += QChar(0x1F);
    }
    return key;
}

bool open(OwnConnection& own, const DatabaseTarget& target, QString& error)
{
    EngineFor(target).AimAtExisting(own.db(), target);
    if (own.db().open())
        return true;
    error = QStringLiteral("不能打开数据库 %1：%2").arg(target.Describe(), own.db().lastError().text());
    return false;
}

// Runs the statements of the copy on the target; the first failure is kept.
struct Failure {
    std::optional<QString> text;
    bool check(QSqlQuery& q, bool ran)
    {
        if (!ran && !text)
            text = q.lastError().text();
        return ran;
    }
};

} // namespace

OfficeCopyResult CopyOfficeTables(const DatabaseTarget& from, const DatabaseTarget& to)
{
    OfficeCopyResult r;
    OwnConnection source(EngineFor(from).DriverName(), "officecopy");
    OwnConnection target(EngineFor(to).DriverName(), "officecopy");
    if (!open(source, from, r.message) || !open(target, to, r.message))
        return r;

    Failure failure;
    {
        // The entries the target has, each as often as it has it.
        QHash<QString, int> there;
        QSqlQuery have(target.db());
        have.setForwardOnly(true);
        if (failure.check(have, have.exec(QStringLiteral("select %1 from OperationLog").arg(LogColumns))))
            while (have.next())
                ++there[entryKey(have)];

        if (!target.db().transaction()) {
            r.message = target.db().lastError().text();
            return r;
        }
        QSqlQuery read(source.db());
        read.setForwardOnly(true);
        QSqlQuery add(target.db());
        if (!failure.text &&
            failure.check(
                read,
                read.exec(QStringLiteral("select %1 from OperationLog order by idx").arg(LogColumns))) &&
            failure.check(
                add, add.prepare(QStringLiteral("insert into OperationLog (%1) values (?, ?, ?, ?, ?, ?, ?, "
                                                "?, ?, ?)")
                                     .arg(LogColumns)))) {
            while (!failure.text && read.next()) {
                const QString key = entryKey(read);
                if (const auto found = there.find(key); found != there.end() && found.value() > 0) {
                    --found.value();
                    continue;
                }
                for (int i = 0; i < LogColumnCount; ++i)
                    add.bindValue(i, read.value(i));
                if (failure.check(add, add.exec()))
                    ++r.entriesAdded;
            }
            if (!failure.text && read.lastError().isValid())
                failure.text = read.lastError().text();
        }

        // The source's passwords in place of the target's.
        QSqlQuery drop(target.db());
        QSqlQuery passwords(source.db());
        QSqlQuery put(target.db());
        if (!failure.text && failure.check(drop, drop.exec(QStringLiteral("delete from OfficePassword"))) &&
            failure.check(
                passwords,
                passwords.exec(QStringLiteral(
                    "select OperatorLevel, Salt, Hash, Iterations, ChangedAt from OfficePassword"))) &&
            failure.check(put,
                          put.prepare(QStringLiteral("insert into OfficePassword (OperatorLevel, Salt, Hash, "
                                                     "Iterations, ChangedAt) values (?, ?, ?, ?, ?)")))) {
            while (!failure.text && passwords.next()) {
                for (int i = 0; i < 5; ++i)
                    put.bindValue(i, passwords.value(i));
                if (failure.check(put, put.exec()))
                    ++r.passwords;
            }
        }
        have.finish();
        read.finish();
        add.finish();
        drop.finish();
        passwords.finish();
        put.finish();
    }
    if (!failure.text && !target.db().commit())
        failure.text = target.db().lastError().text();
    if (failure.text) {
        target.db().rollback();
        r.entriesAdded = 0;
        r.passwords = 0;
        r.message = QStringLiteral("操作日志和密码没有复制到 %1：%2").arg(to.Describe(), *failure.text);
        return r;
    }
    r.ok = true;
    return r;
}
