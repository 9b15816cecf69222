#include "OperationLog.h"

#include "Clock.h"
#include "DM.h"
#include "Dialogs.h"
#include "OperationError.h"
#include "OwnConnection.h"
#include "System.h"
#include "engine/Engine.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QThread>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

const QStringList& LogActions()
{
    using namespace LogAction;
    static const QStringList actions = {
        ProgramStart,   ProgramEnd,      LogIn,          SwitchOperator, WriteOwnerCard, ReadOwnerCard,
        BindOwnerCard,  WriteDeviceCard, ReadDeviceCard, WriteBlackList, WriteWhiteList, ReadBlackList,
        FormatCards,    BlankCards,      AddOwner,       ChangeOwner,    DeleteOwner,    ReportLost,
        CancelLoss,     AddUnit,         ChangeUnit,     DeleteUnit,     AddTerminal,    ChangeTerminal,
        DeleteTerminal, ImportOwners,    ExportOwners,   Backup,         Restore,        EmptyDatabase,
        CopyDatabase,   SaveRegionId,    SaveSettings,   ChangePassword, ResetPasswords,
    };
    return actions;
}

QString LogLevelName(int level)
{
    switch (level) {
    case 0:
        return QStringLiteral("物业管家");
    case 1:
        return QStringLiteral("管理员");
    case 2:
        return QStringLiteral("维护员");
    case LogLevelCommandLine:
        return QStringLiteral("命令行");
    case LogLevelNotLoggedIn:
        return QStringLiteral("未登录");
    default:
        return QString::number(level);
    }
}

QString LogComputer()
{
    static const QString name = [] {
        const QString host = QSysInfo::machineHostName();
        return host.isEmpty() ? QStringLiteral("?") : host;
    }();
    return name;
}

QString LogSystemUser()
{
    static const QString name = [] {
        for (const char* variable : {"USERNAME", "USER", "LOGNAME"}) {
            const QString user = qEnvironmentVariable(variable);
            if (!user.isEmpty())
                return user;
        }
        // A service or a shell started without a login sets none of them: the account's name.
        return Os::AccountName();
    }();
    return name;
}

namespace {

std::atomic<int> s_level{LogLevelNotLoggedIn};

// Entries kept in memory while the log cannot be written; beyond this the oldest are dropped.
constexpr size_t MaxWaiting = 10000;
// How long the writer waits before it tries again after a failure.
constexpr auto RetryAfter = std::chrono::seconds(2);

struct StampedEntry {
    DatabaseTarget target;
    QString time;
    QString computer;
    QString user;
    int level = 0;
    LogEntry entry;
};

// An empty text, never Null, for the columns that must hold one.
QString text(const QString& s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

bool sameDatabase(const DatabaseTarget& a, const DatabaseTarget& b)
{
    return a.Describe() == b.Describe();
}

// The writer: a thread of its own that appends the waiting entries, those of one database in one
// commit, on a connection it opens for the write and closes after it (so that a restore or a
// removal of the file never finds it held). On a server, where an idle connection holds nothing,
// it keeps the connection for the next entries, and may open it ahead of the first (Prepare).
class LogWriter {
public:
    ~LogWriter() { Stop(); }

    void Prepare(const DatabaseTarget& target)
    {
        if (!EngineFor(target).ConnectionMayStayOpen())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_prepare = target;
            startThread();
        }
        m_wake.notify_all();
    }

    void Add(StampedEntry entry)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_waiting.size() >= MaxWaiting) {
                m_waiting.pop_front();
                ++m_dropped;
            }
            m_waiting.push_back(std::move(entry));
            ++m_added;
            startThread();
        }
        m_wake.notify_all();
    }

    bool Flush(int waitMs)
    {
        std::unique_lock lock(m_mutex);
        const quint64 target = m_added;
        const quint64 failures = m_failures;
        m_retryNow = true;
        m_wake.notify_all();
        m_done.wait_for(lock, std::chrono::milliseconds(waitMs),
                        [&] { return m_written + m_dropped >= target || m_failures > failures; });
        return m_written + m_dropped >= target;
    }

    void Stop()
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_thread.joinable())
                return;
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
        std::lock_guard lock(m_mutex);
        m_dropped += m_waiting.size();
        m_waiting.clear();
    }

    int Waiting()
    {
        std::lock_guard lock(m_mutex);
        return int(m_waiting.size());
    }

private:
    // Under m_mutex.
    void startThread()
    {
        if (!m_thread.joinable()) {
            m_stop = false;
            m_thread = std::thread([this] { run(); });
        }
    }

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stop || !m_waiting.empty() || m_prepare; });
            if (m_prepare && m_waiting.empty() && !m_stop) {
                const DatabaseTarget target = *m_prepare;
                m_prepare.reset();
                lock.unlock();
                connection(target); // a failure is met again, and told, at the first entry
                lock.lock();
                continue;
            }
            m_prepare.reset();
            if (m_waiting.empty()) {
                m_kept.reset(); // the thread's own connection ends on the thread
                return;         // stopped with nothing left
            }
            // The entries of the first one's database, in the order they came.
            std::vector<StampedEntry> batch;
            const DatabaseTarget target = m_waiting.front().target;
            while (!m_waiting.empty() && sameDatabase(m_waiting.front().target, target)) {
                batch.push_back(std::move(m_waiting.front()));
                m_waiting.pop_front();
            }
            lock.unlock();
            QString error = write(target, batch);
            lock.lock();
            if (error.isEmpty()) {
                m_written += batch.size();
                m_warned = false;
                m_done.notify_all();
                continue;
            }
            // Back in front, to be tried again; the oldest go when too many wait.
            for (auto it = batch.rbegin(); it != batch.rend(); ++it)
                m_waiting.push_front(std::move(*it));
            while (m_waiting.size() > MaxWaiting) {
                m_waiting.pop_front();
                ++m_dropped;
            }
            ++m_failures; // a flush waiting now gives up
            m_done.notify_all();
            if (!m_warned) {
                m_warned = true;
                warn(error);
            }
            if (m_stop) {
                m_kept.reset();
                return; // the program ends: what could not be written is lost, as it was told
            }
            m_retryNow = false;
            m_wake.wait_for(lock, RetryAfter, [&] { return m_stop || m_retryNow; });
            m_retryNow = false;
        }
    }

    // The connection to write to the target on: the one kept from before, or a new one (kept when
    // the engine lets it stay open). Null when it cannot be opened, with the reason in error.
    OwnConnection* connection(const DatabaseTarget& target, QString* error = nullptr)
    {
        const Engine& engine = EngineFor(target);
        if (m_kept && sameDatabase(m_keptTarget, target) && engine.ConnectionAlive(m_kept->db()))
            return m_kept.get();
        m_kept.reset();
        auto own = std::make_unique<OwnConnection>(engine.DriverName(), "log");
        engine.AimAtExisting(own->db(), target);
        if (!own->db().open()) {
            if (error)
                *error = own->db().lastError().text();
            return nullptr;
        }
        m_kept = std::move(own);
        m_keptTarget = target;
        return m_kept.get();
    }

    QString write(const DatabaseTarget& target, const std::vector<StampedEntry>& batch)
    {
        const bool reused = m_kept && sameDatabase(m_keptTarget, target);
        QString error = writeOn(target, batch);
        // A kept connection the server has since closed (a restart): once more on a new one.
        if (!error.isEmpty() && reused) {
            m_kept.reset();
            error = writeOn(target, batch);
        }
        if (!error.isEmpty() || !EngineFor(target).ConnectionMayStayOpen())
            m_kept.reset();
        return error;
    }

    QString writeOn(const DatabaseTarget& target, const std::vector<StampedEntry>& batch)
    {
        QString error;
        OwnConnection* connected = connection(target, &error);
        if (!connected)
            return error;
        OwnConnection& own = *connected;
        {
            QSqlQuery q(own.db());
            if (!own.db().transaction())
                return own.db().lastError().text();
            if (!q.prepare(QStringLiteral(
                    "insert into OperationLog (LogTime, Computer, SystemUser, OperatorLevel, Action, "
                    "Outcome, "
                    "CardID, OwnerIdx, OwnerName, Details) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
                error = q.lastError().text();
            for (size_t i = 0; error.isEmpty() && i < batch.size(); ++i) {
                const StampedEntry& s = batch[i];
                const LogEntry& e = s.entry;
                q.bindValue(0, s.time);
                q.bindValue(1, s.computer);
                q.bindValue(2, s.user);
                q.bindValue(3, s.level);
                q.bindValue(4, text(e.action));
                q.bindValue(5, text(e.outcome));
                q.bindValue(6, e.cardId.isEmpty() ? QVariant() : QVariant(e.cardId));
                q.bindValue(7, e.ownerIdx > 0 ? QVariant(e.ownerIdx) : QVariant());
                q.bindValue(8, e.ownerName.isEmpty() ? QVariant() : QVariant(e.ownerName));
                q.bindValue(9, text(e.details));
                if (!q.exec())
                    error = q.lastError().text();
            }
            q.finish();
        }
        if (error.isEmpty() && !own.db().commit())
            error = own.db().lastError().text();
        if (!error.isEmpty())
            own.db().rollback();
        return error;
    }

    // Told once on the main thread, where the dialogs live; the action that was recorded went on.
    static void warn(const QString& error)
    {
        const QString text =
            QStringLiteral("操作日志写不进数据库：%1\n操作照常进行；没写进去的日志先留在内存中，稍后再写。")
                .arg(error);
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app, [text] { ShowWarning(text); }, Qt::QueuedConnection);
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<StampedEntry> m_waiting;
    std::optional<DatabaseTarget> m_prepare; // a connection to open ahead
    std::thread m_thread;
    // The writer thread's connection, kept between writes where the engine lets it stay open.
    std::unique_ptr<OwnConnection> m_kept;
    DatabaseTarget m_keptTarget;
    bool m_stop = false;
    bool m_retryNow = false;
    bool m_warned = false;
    quint64 m_added = 0;
    quint64 m_written = 0;
    quint64 m_dropped = 0;
    quint64 m_failures = 0;
};

LogWriter& writer()
{
    static LogWriter w;
    return w;
}

} // namespace

void SetLogOperatorLevel(int level)
{
    s_level = level;
}

int LogOperatorLevel()
{
    return s_level;
}

void RecordOperation(const DatabaseTarget& target, const LogEntry& entry)
{
    StampedEntry s;
    s.target = target;
    s.time = Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    s.computer = LogComputer();
    s.user = LogSystemUser();
    s.level = s_level;
    s.entry = entry;
    writer().Add(std::move(s));
}

void RecordOperation(const LogEntry& entry)
{
    if (!dm)
        return;
    // The database is made at its first use: an entry may be the first.
    if (!dm->IsOpen()) {
        try {
            dm->OpenConnection();
        } catch (const OperationError&) {
            // The writer keeps the entry and says why it cannot write it.
        }
    }
    RecordOperation(dm->Target(), entry);
}

void PrepareOperationLog(const DatabaseTarget& target)
{
    writer().Prepare(target);
}

bool FlushOperationLog(int waitMs)
{
    return writer().Flush(waitMs);
}

void StopOperationLog()
{
    writer().Flush(10000);
    writer().Stop();
}

int PendingLogEntries()
{
    return writer().Waiting();
}
