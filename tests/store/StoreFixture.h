#pragma once

#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "support/TestDialogs.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// A program folder of its own for every test function, a data module on it, the dialog seam
// answering from queues and a clock that stands still. Any statement that would run with a
// parameter unbound (or a value no parameter takes) fails the test.
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
        dm = new Tdm;
    }
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

inline int countRows(const QString& table)
{
    const QVariantList v = column(QStringLiteral("select count(*) from ") + table);
    return v.isEmpty() ? -1 : v.first().toInt();
}
