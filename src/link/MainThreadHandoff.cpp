#include "MainThreadHandoff.h"

#include <QCoreApplication>
#include <deque>

namespace {

std::mutex queueMutex;
std::deque<std::shared_ptr<HandoffJob>> queue;
MainThreadDispatcher* instance = nullptr; // guarded by queueMutex

} // namespace

MainThreadDispatcher::MainThreadDispatcher(QObject* parent) : QObject(parent) {}

MainThreadDispatcher::~MainThreadDispatcher()
{
    std::lock_guard lock(queueMutex);
    instance = nullptr;
    queue.clear();
}

void MainThreadDispatcher::ensure()
{
    std::lock_guard lock(queueMutex);
    if (!instance)
        instance = new MainThreadDispatcher(QCoreApplication::instance());
}

bool MainThreadDispatcher::post(std::shared_ptr<HandoffJob> job)
{
    std::lock_guard lock(queueMutex);
    if (!instance)
        return false;
    queue.push_back(std::move(job));
    QMetaObject::invokeMethod(instance, "runNext", Qt::QueuedConnection);
    return true;
}

void MainThreadDispatcher::runNext()
{
    std::shared_ptr<HandoffJob> job;
    {
        std::lock_guard lock(queueMutex);
        if (queue.empty())
            return;
        job = std::move(queue.front());
        queue.pop_front();
    }
    job->runOnMain();
}

void ManualResetEvent::set()
{
    std::lock_guard lock(m_mutex);
    m_signalled = true;
    m_changed.notify_all();
}

void ManualResetEvent::reset()
{
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

bool ManualResetEvent::isSet() const
{
    std::lock_guard lock(m_mutex);
    return m_signalled;
}

bool ManualResetEvent::wait(const std::atomic<bool>& stop)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_signalled || stop.load(); });
    return m_signalled && !stop.load();
}

void ManualResetEvent::interrupt()
{
    std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}
