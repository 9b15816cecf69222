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

void TManualResetEvent::set()
{
    std::lock_guard lock(mutex_);
    signalled_ = true;
    changed_.notify_all();
}

void TManualResetEvent::reset()
{
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool TManualResetEvent::isSet() const
{
    std::lock_guard lock(mutex_);
    return signalled_;
}

bool TManualResetEvent::wait(const std::atomic<bool>& stop)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return signalled_ || stop.load(); });
    return signalled_ && !stop.load();
}

void TManualResetEvent::interrupt()
{
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}
