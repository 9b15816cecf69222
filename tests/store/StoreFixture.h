#pragma once

#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "support/TestDialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// The PostgreSQL server of a test run. The test command starts a throw-away cluster and runs
// the store tests a second time with ICCARD_TEST_PG naming a file with its connection text (or
// "skip: reason" when no server could be had). Each test process works in a database of its
// own on it, emptied for every test function.
class TestServer {
public:
    // Whether this run is against the server.
    static bool Wanted() { return !qEnvironmentVariableIsEmpty("ICCARD_TEST_PG"); }
    // The connection text of the cluster, or the reason it is missing ("skip: ...").
    static QString Conninfo()
    {
        QFile file(qEnvironmentVariable("ICCARD_TEST_PG"));
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("skip: the test cluster's connection file %1 is missing")
                .arg(file.fileName());
        return QString::fromUtf8(file.readAll()).trimmed();
    }
    // A database of its own for this process (made at the first call), with no tables.
    static TDatabaseTarget Fresh(const QString& suffix = QString())
    {
        TDatabaseTarget server = ParseDatabaseUrl(Conninfo());
        const QString name =
            QStringLiteral("iccard_test_%1%2").arg(QCoreApplication::applicationPid()).arg(suffix);
        static QSet<QString> made;
        if (!made.contains(name)) {
            // Texts fold the case of ASCII letters alone, as on the file, in a database whose
            // character type is C (as the README has it made).
            run(server, {QStringLiteral("drop database if exists ") + name,
                         QStringLiteral("create database %1 template template0 encoding 'UTF8' lc_ctype 'C' "
                                        "lc_collate 'C'")
                             .arg(name)});
            made.insert(name);
        }
        server.dbname = name;
        run(server, {QStringLiteral("drop schema public cascade"), QStringLiteral("create schema public")});
        return server;
    }
    // Runs statements on the database the target names, on a connection of their own.
    static void run(const TDatabaseTarget& target, const QStringList& statements)
    {
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("test.admin"));
            ConfigureServerConnection(db, target);
            if (!db.open())
                qFatal("test server: %s", qPrintable(db.lastError().text()));
            QSqlQuery q(db);
            q.exec(QStringLiteral("set client_min_messages = warning"));
            for (const QString& s : statements) {
                if (!q.exec(s))
                    qFatal("test server: %s: %s", qPrintable(s), qPrintable(q.lastError().text()));
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("test.admin"));
    }
};

// A program folder of its own for every test function, a data module on it, the dialog seam
// answering from queues and a clock that stands still. Any statement that would run with a
// parameter unbound (or a value no parameter takes) fails the test. In a run against the test
// server, the data module works on an empty database of the server.
class StoreFixture {
public:
    void setUp()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("SQL statement refused")));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        SetAppPath(m_dir->path());
        dialogs.shown.clear();
        dialogs.answers.clear();
        dialogs.fileNames.clear();
        clock.set(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
        setClock(&clock);
        if (TestServer::Wanted()) {
            const QString conninfo = TestServer::Conninfo();
            if (conninfo.startsWith(QLatin1String("skip:")))
                QSKIP(qPrintable(QStringLiteral("no PostgreSQL server for this run: ") +
                                 conninfo.mid(5).trimmed()));
            target = TestServer::Fresh();
            dm = new Tdm(target);
        } else {
            dm = new Tdm;
        }
    }
    // Whether this run is against the server.
    bool onServer() const { return target.IsServer(); }

    void tearDown()
    {
        delete dm;
        dm = nullptr;
        setClock(nullptr);
        m_dir.reset();
    }
    QString folder() const { return m_dir->path(); }

    TestDialogs dialogs;
    FixedClock clock;
    TDatabaseTarget target; // the server's database, in a run against the server

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

// Runs a query on the program's connection and returns the first column of every row.
inline QVariantList column(const QString& sql)
{
    QVariantList out;
    QSqlQuery q(dm->database());
    if (!q.exec(sql))
        qWarning().noquote() << "test query failed:" << q.lastError().text() << sql;
    while (q.next())
        out << q.value(0);
    return out;
}

// For a test function about the SQLite file alone (or the engine's own SQL of it).
#define SKIP_ON_SERVER()                                                                                     \
    do {                                                                                                     \
        if (TestServer::Wanted())                                                                            \
            QSKIP("this is about the SQLite file");                                                          \
    } while (false)

// SQL of the test's own that differs between the engines.
inline bool onServer()
{
    return dm && dm->IsServer();
}
// A yes/no literal; on the file also the old engine's -1 for yes.
inline QString yes(int fileValue = 1)
{
    return onServer() ? QStringLiteral("true") : QString::number(fileValue);
}
inline QString no()
{
    return dm->BoolLiteral(false);
}
// The bytes of a blob column as upper-case hex text.
inline QString hexOf(const QString& column)
{
    return onServer() ? QStringLiteral("upper(encode(%1, 'hex'))").arg(column)
                      : QStringLiteral("hex(%1)").arg(column);
}
// A value as SQL text, Null as NULL.
inline QString quoted(const QString& column)
{
    return onServer() ? QStringLiteral("quote_nullable(%1)").arg(column)
                      : QStringLiteral("quote(%1)").arg(column);
}

// A trigger that refuses a change with the message: when is "before insert", "before update of
// CardID" and the like; condition, on new or old, may be empty (every row).
inline void refuse(const QString& name, const QString& when, const QString& table, const QString& condition,
                   const QString& message)
{
    QStringList statements;
    if (onServer()) {
        statements << QStringLiteral(
                          "create function %1_refuse() returns trigger language plpgsql as $$ begin "
                          "if %2 then raise exception '%3'; end if; "
                          "if TG_OP = 'DELETE' then return old; end if; return new; end $$")
                          .arg(name, condition.isEmpty() ? QStringLiteral("true") : condition, message)
                   << QStringLiteral("create trigger %1 %2 on %3 for each row execute function %1_refuse()")
                          .arg(name, when, table);
    } else {
        statements << QStringLiteral("create trigger %1 %2 on %3 %4 begin select raise(abort, '%5'); end")
                          .arg(name, when, table,
                               condition.isEmpty() ? QString() : QStringLiteral("when ") + condition,
                               message);
    }
    QSqlQuery q(dm->database());
    for (const QString& s : statements) {
        if (!q.exec(s))
            qFatal("refuse: %s: %s", qPrintable(s), qPrintable(q.lastError().text()));
    }
}
inline void dropRefusal(const QString& name, const QString& table)
{
    QSqlQuery q(dm->database());
    q.exec(onServer() ? QStringLiteral("drop trigger %1 on %2").arg(name, table)
                      : QStringLiteral("drop trigger %1").arg(name));
}

inline int countRows(const QString& table)
{
    const QVariantList v = column(QStringLiteral("select count(*) from ") + table);
    return v.isEmpty() ? -1 : v.first().toInt();
}
