#pragma once

// The PostgreSQL server of a test run and how a test knows it runs against it.

#include "store/Database.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTest>

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
    static DatabaseTarget Fresh(const QString& suffix = QString())
    {
        DatabaseTarget server = ParseDatabaseUrl(Conninfo());
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
    static void run(const DatabaseTarget& target, const QStringList& statements)
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

// For a test function about the SQLite file alone (or the engine's own SQL of it).
#define SKIP_ON_SERVER()                                                                                     \
    do {                                                                                                     \
        if (TestServer::Wanted())                                                                            \
            QSKIP("this is about the SQLite file");                                                          \
    } while (false)
