#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// How the command worker and the HID read threads have the main thread run a step and wait until
// it is done. The main thread can end such a wait at any moment (cancel), which is how it stops a
// thread that is in the middle of handing something over without waiting for itself.
//
// The hand-over goes through a queue of our own guarded by a standard mutex, and the main thread is
// woken by a queued call without arguments, so every byte that crosses threads is ordered by that
// mutex (ThreadSanitizer sees it too).

class HandoffJob {
public:
    virtual ~HandoffJob() = default;
    virtual void runOnMain() = 0;
};

// The main thread's end of every hand-over. Lives as long as the application object.
class MainThreadDispatcher final : public QObject {
    Q_OBJECT
public:
    // Creates the dispatcher on first use; call it on the main thread, after the application object
    // exists and before any thread hands something over.
    static void ensure();
    // Any thread: queues the job for the main thread. False when there is no dispatcher.
    static bool post(std::shared_ptr<HandoffJob> job);

private:
    explicit MainThreadDispatcher(QObject* parent);
    ~MainThreadDispatcher() override;
    Q_INVOKABLE void runNext();
};

// One thread's hand-over to the main thread of values of type T. The handler runs on the main
// thread only; it is set on the main thread and never touched by the other thread.
template <class T> class Handoff {
public:
    using Handler = std::function<void(T&&)>;

    explicit Handoff(Handler handler) : m_state(std::make_shared<State>())
    {
        MainThreadDispatcher::ensure();
        m_state->handler = std::move(handler);
    }
    Handoff(const Handoff&) = delete;
    Handoff& operator=(const Handoff&) = delete;

    // Thread side: has the main thread run the handler with value and waits until it has finished.
    // Returns false when the wait was ended by cancel() (the handler may then run later or never).
    bool deliver(T value)
    {
        std::unique_lock lock(m_state->mutex);
        if (m_state->cancelled)
            return false;
        m_state->value = std::move(value);
        const uint64_t ticket = ++m_state->posted;
        lock.unlock();
        if (!MainThreadDispatcher::post(m_state))
            return false;
        lock.lock();
        m_state->changed.wait(lock, [&] { return m_state->cancelled || m_state->finished >= ticket; });
        return !m_state->cancelled;
    }

    // Main side: ends the current and every later wait of deliver() at once. With dropPending a
    // value that the main thread has not begun to handle is thrown away; otherwise it is still
    // handled, later, in its turn.
    void cancel(bool dropPending)
    {
        std::lock_guard lock(m_state->mutex);
        m_state->cancelled = true;
        if (dropPending)
            m_state->value.reset();
        m_state->changed.notify_all();
    }

private:
    struct State final : HandoffJob {
        std::mutex mutex;
        std::condition_variable changed;
        std::optional<T> value;
        uint64_t posted = 0;
        uint64_t finished = 0;
        bool cancelled = false;
        Handler handler; // main thread only

        void runOnMain() override
        {
            std::unique_lock lock(mutex);
            if (!value)
                return;
            T taken = std::move(*value);
            value.reset();
            const uint64_t ticket = posted;
            lock.unlock();
            if (handler)
                handler(std::move(taken));
            lock.lock();
            finished = ticket;
            changed.notify_all();
        }
    };
    std::shared_ptr<State> m_state;
};

// A manual-reset event: stays signalled until reset; wakes every waiter.
class ManualResetEvent {
public:
    void set();
    void reset();
    bool isSet() const;
    // Waits until the event is signalled (true) or stop is set and interrupt() called (false).
    bool wait(const std::atomic<bool>& stop);
    // Wakes the waiters so that they look at their stop flag again.
    void interrupt();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_signalled = false;
};
