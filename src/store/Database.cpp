#include "Database.h"

#include "AppPath.h"
#include "OperationError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QUrl>
#include <libpq-fe.h>

namespace {

QString s_override;

const QString SettingsGroup = QStringLiteral("PostgreSQL");

QString noPassword()
{
    return QStringLiteral("数据库密码不能写在这里：请把密码写入用户的 ~/.pgpass 文件（权限 0600），"
                          "或由数据库服务器认证用户。");
}

bool looksLikeServer(const QString& text)
{
    const QString t = text.trimmed();
    return t.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           t.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive) || t.contains(QLatin1Char('='));
}

// libpq's own reading of a URL or key=value text, so that every form libpq accepts is accepted.
DatabaseTarget fromConninfo(const QString& text)
{
    char* error = nullptr;
    const QByteArray utf8 = text.trimmed().toUtf8();
    PQconninfoOption* options = PQconninfoParse(utf8.constData(), &error);
    if (!options) {
        const QString reason = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("内存不足");
        PQfreemem(error);
        throw OperationError(QStringLiteral("数据库服务器的写法不对：%1\n%2").arg(text, reason));
    }
    DatabaseTarget target;
    target.engine = DatabaseEngine::PostgreSQL;
    QStringList rest;
    bool password = false;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString key = QString::fromLatin1(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (key == QLatin1String("host"))
            target.host = value;
        else if (key == QLatin1String("port"))
            target.port = value.toInt();
        else if (key == QLatin1String("dbname"))
            target.dbname = value;
        else if (key == QLatin1String("user"))
            target.user = value;
        else if (key == QLatin1String("password"))
            password = true;
        else
            rest << key + QLatin1Char('=') + value;
    }
    PQconninfoFree(options);
    if (password)
        throw OperationError(noPassword());
    if (target.port <= 0 || target.port > 65535)
        throw OperationError(QStringLiteral("数据库服务器的端口不对：%1").arg(text));
    if (target.dbname.isEmpty())
        throw OperationError(QStringLiteral("没有给出服务器上的数据库名：%1").arg(text));
    target.options = rest.join(QLatin1Char(' '));
    return target;
}

} // namespace

QString DatabaseTarget::FilePath() const
{
    return file.isEmpty() ? AppPath + QStringLiteral("QDR_DB.GRes") : file;
}

QString DatabaseTarget::Describe() const
{
    if (!IsServer())
        return QDir::toNativeSeparators(FilePath());
    QString where = host.isEmpty() ? QStringLiteral("localhost") : host;
    where += QLatin1Char(':') + QString::number(port);
    const QString who = user.isEmpty() ? QString() : user + QLatin1Char('@');
    return QStringLiteral("PostgreSQL %1%2/%3").arg(who, where, dbname);
}

QString DatabaseTarget::Url() const
{
    if (!IsServer())
        return FilePath();
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(user);
    url.setPath(QLatin1Char('/') + dbname);
    QStringList query;
    if (host.startsWith(QLatin1Char('/'))) {
        // A socket folder goes into the query, where a path may stand.
        query << QStringLiteral("host=") + QString::fromLatin1(QUrl::toPercentEncoding(host));
    } else {
        url.setHost(host);
    }
    url.setPort(port);
    for (const QString& o : options.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        query << QString::fromLatin1(QUrl::toPercentEncoding(o, "="));
    if (!query.isEmpty())
        url.setQuery(query.join(QLatin1Char('&')));
    return url.toString(QUrl::FullyEncoded);
}

QString DatabaseSettingsPath()
{
    return AppPath + QStringLiteral("database.ini");
}

DatabaseTarget ParseDatabaseUrl(const QString& text)
{
    if (looksLikeServer(text))
        return fromConninfo(text);
    DatabaseTarget target;
    target.file = QFileInfo(text.trimmed()).absoluteFilePath();
    return target;
}

DatabaseTarget ReadDatabaseSettings(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {};
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        throw OperationError(QStringLiteral("数据库设置文件读不出：%1").arg(QDir::toNativeSeparators(path)));
    ini.beginGroup(SettingsGroup);
    const QStringList keys = ini.childKeys();
    if (keys.isEmpty())
        return {};
    QStringList parts;
    for (const QString& key : keys) {
        const QString k = key.toLower();
        if (k == QLatin1String("password"))
            throw OperationError(
                QStringLiteral("数据库设置文件 %1 中写有密码。").arg(QDir::toNativeSeparators(path)) +
                noPassword());
        QString value = ini.value(key).toString();
        value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
            .replace(QLatin1Char('\''), QStringLiteral("\\'"));
        parts << QStringLiteral("%1='%2'").arg(k, value);
    }
    try {
        return fromConninfo(parts.join(QLatin1Char(' ')));
    } catch (const OperationError& e) {
        throw OperationError(
            QStringLiteral("数据库设置文件 %1 不对：%2").arg(QDir::toNativeSeparators(path), e.message()));
    }
}

DatabaseTarget ConfiguredDatabase()
{
    if (!s_override.isEmpty())
        return ParseDatabaseUrl(s_override);
    return ReadDatabaseSettings(DatabaseSettingsPath());
}

void SetDatabaseOverride(const QString& text)
{
    s_override = text;
}

QString DatabaseOverride()
{
    return s_override;
}

void ConfigureServerConnection(QSqlDatabase& db, const DatabaseTarget& target)
{
    db.setHostName(target.host);
    db.setPort(target.port);
    db.setDatabaseName(target.dbname);
    db.setUserName(target.user);
    // A server that does not answer is given up after a while, rather than holding the window.
    QStringList options = {QStringLiteral("connect_timeout=10"), QStringLiteral("application_name=iccard")};
    options += target.options.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    db.setConnectOptions(options.join(QLatin1Char(';')));
}
