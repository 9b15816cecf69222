// The sources keep every difference between the SQLite file and a PostgreSQL server in
// src/store/engine: no other file asks which engine it is on. A test of the engine, the driver
// or the driver's handle anywhere else is named here with its file and line.

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

class TestLayout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noEngineTestOutsideTheEngineFolder();
};

void TestLayout::noEngineTestOutsideTheEngineFolder()
{
    const QString src = QStringLiteral(ICCARD_SOURCE_DIR "/src/");
    const QRegularExpression engineTest(QStringLiteral(
        R"(IsServer\(\)|\bm_pg\b|IsServerConnection|dbmsType|driverName\(\)|server \?|"QPSQL"|"QSQLITE"|)"
        R"(pg_conn\*|sqlite3\*)"));
    // What the settings say picks the engine and names the target in texts (DatabaseTarget); the
    // data module tells it to tests (its accessor, declared where it is defined).
    const QStringList allowedIsServer = {QStringLiteral("store/Database.h"),
                                         QStringLiteral("store/Database.cpp")};

    QStringList found;
    int files = 0;
    QDirIterator it(src, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(src.size());
        if (relative.startsWith(QLatin1String("store/engine/")))
            continue;
        ++files;
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        int line = 0;
        while (!file.atEnd()) {
            const QString text = QString::fromUtf8(file.readLine());
            ++line;
            const QRegularExpressionMatch m = engineTest.match(text);
            if (!m.hasMatch())
                continue;
            if (m.captured() == QLatin1String("IsServer()") &&
                (allowedIsServer.contains(relative) || text.contains(QLatin1String("bool IsServer() const"))))
                continue;
            found << QStringLiteral("src/%1:%2: %3").arg(relative).arg(line).arg(text.trimmed());
        }
    }
    QVERIFY2(files > 50, "the sources were not found");
    QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("engine tests outside src/store/engine:\n") +
                                         found.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
