// The chain the *_pg test runs stand on: the throw-away cluster of tests/pg/cluster.sh, reached
// through Qt's PostgreSQL driver with what ICCARD_TEST_PG names, and a password login whose
// password libpq takes from a .pgpass file.
#include <QFile>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

class TestPgCluster : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void superuserConnects();
    void passwordLogin_data();
    void passwordLogin();
    void cleanup();

private:
    // Opens a connection as user with the cluster's host, port and database and no password set;
    // returns the error text, empty when it opened and `select current_user` named user.
    QString tryLogin(const QString& user);

    QMap<QString, QString> m_conn; // host, port, user, dbname
};

void TestPgCluster::initTestCase()
{
    const QString path = qEnvironmentVariable("ICCARD_TEST_PG");
    if (path.isEmpty())
        QSKIP("runs only against the PostgreSQL test cluster (as tst_pgcluster_pg)");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path + ": " + file.errorString()));
    const QString line = QString::fromUtf8(file.readAll()).trimmed();
    if (line.startsWith(QLatin1String("skip:")))
        QSKIP(qPrintable(line.mid(5).trimmed()));

    // libpq key=value pairs; the cluster's values hold no spaces or quotes.
    for (const QString& pair : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        QVERIFY2(eq > 0, qPrintable("not a key=value pair: " + pair));
        m_conn.insert(pair.left(eq), pair.mid(eq + 1));
    }
    for (const char* key : {"host", "port", "user", "dbname"})
        QVERIFY2(m_conn.contains(QLatin1String(key)), qPrintable(QString("%1 lacks %2").arg(path, key)));
    QVERIFY2(QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")),
             "Qt's PostgreSQL driver is missing (libqt6sql6-psql)");
}

void TestPgCluster::superuserConnects()
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("superuser"));
        db.setHostName(m_conn.value("host"));
        db.setPort(m_conn.value("port").toInt());
        db.setUserName(m_conn.value("user"));
        db.setDatabaseName(m_conn.value("dbname"));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        QVERIFY2(query.exec("select version()") && query.next(), qPrintable(query.lastError().text()));
        QVERIFY2(query.value(0).toString().startsWith("PostgreSQL "), qPrintable(query.value(0).toString()));
        // The program stores Chinese names: the cluster must be UTF-8 whatever the machine's locale.
        QVERIFY(query.exec("show server_encoding") && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("UTF8"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("superuser"));
}

QString TestPgCluster::tryLogin(const QString& user)
{
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("login"));
        db.setHostName(m_conn.value("host"));
        db.setPort(m_conn.value("port").toInt());
        db.setUserName(user);
        db.setDatabaseName(m_conn.value("dbname"));
        QSqlQuery query(db);
        if (!db.open())
            error = db.lastError().text();
        else if (!query.exec("select current_user") || !query.next())
            error = query.lastError().text();
        else if (query.value(0).toString() != user)
            error = "logged in as " + query.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("login"));
    return error;
}

void TestPgCluster::passwordLogin_data()
{
    // The password line of the .pgpass file; an empty one means no such file.
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("opens");
    QTest::newRow("right password") << QStringLiteral("office-pass") << true;
    QTest::newRow("wrong password") << QStringLiteral("not-the-pass") << false;
    QTest::newRow("no password file") << QString() << false;
}

void TestPgCluster::passwordLogin()
{
    QFETCH(QString, password);
    QFETCH(bool, opens);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("pgpass"));
    if (!password.isEmpty()) {
        // hostname:port:database:username:password; for a Unix socket the host is its folder,
        // and ':' and '\' inside a field are escaped with '\'.
        const auto field = [](QString text) {
            return text.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char(':'), "\\:");
        };
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString("%1:%2:*:office:%3\n")
                       .arg(field(m_conn.value("host")), m_conn.value("port"), field(password))
                       .toUtf8());
        file.close();
        // libpq ignores a password file that others may read.
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }
    qputenv("PGPASSFILE", QFile::encodeName(path));

    const QString error = tryLogin(QStringLiteral("office"));
    if (opens)
        QVERIFY2(error.isEmpty(), qPrintable(error));
    else
        QVERIFY2(!error.isEmpty(), "office logged in without its password");
}

void TestPgCluster::cleanup()
{
    qunsetenv("PGPASSFILE");
}

QTEST_GUILESS_MAIN(TestPgCluster)
#include "tst_pgcluster.moc"
