#pragma once

// A database connection of its own for one backup, restore or check (beside the data module's).

#include <QSqlDatabase>
#include <QString>
#include <atomic>

// A connection of its own for one backup, restore or check, removed again when it ends. Queries on
// it must end before it does.
class OwnConnection {
public:
    OwnConnection(const QString& driver, const char* purpose)
        : m_name(QStringLiteral("iccard.%1.%2").arg(QLatin1String(purpose)).arg(++s_serial))
    {
        m_db = QSqlDatabase::addDatabase(driver, m_name);
    }
    // The same server, user and settings as another connection.
    OwnConnection(const QSqlDatabase& like, const char* purpose)
        : m_name(QStringLiteral("iccard.%1.%2").arg(QLatin1String(purpose)).arg(++s_serial))
    {
        m_db = QSqlDatabase::cloneDatabase(like, m_name);
    }
    ~OwnConnection()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    OwnConnection(const OwnConnection&) = delete;
    OwnConnection& operator=(const OwnConnection&) = delete;
    QSqlDatabase& db() { return m_db; }

private:
    static inline std::atomic<int> s_serial{0};
    QString m_name;
    QSqlDatabase m_db;
};
