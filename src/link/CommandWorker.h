#pragma once

#include "MainThreadHandoff.h"
#include "ProgramState.h"

#include <atomic>
#include <cstdint>
#include <thread>

// The command worker: windows put a command code in PendingCommand and signal CommandEvent; the
// worker wakes, resets the event and has the main thread build and send the frame for the code
// that is pending at that moment.

// PendingCommand and CommandEvent: ProgramState.h. Several signals before the worker wakes give
// one frame.

// Wakes the worker.
void SignalCommandEvent();
// Sets PendingCommand to code, then signals CommandEvent (the order every issuing window uses).
// Main thread only (checked).
void IssueCommand(uint8_t code);

// The build-and-send step (main thread): the frame for PendingCommand as it is now, built from
// SystemInfo and the three card records and sent to CardIssuerDevice. Codes above 10 send nothing.
// Main thread only (checked).
void BuildAndSendCommand();

class TActThread {
public:
    // Starts waiting on CommandEvent at once. Create it on the main thread.
    TActThread();
    // Ends the thread and waits for it (see Terminate).
    ~TActThread();
    TActThread(const TActThread&) = delete;
    TActThread& operator=(const TActThread&) = delete;

    // Main thread: asks the thread to end and waits until it has. A step it had asked for and
    // that has not begun is dropped. CommandEvent keeps its state.
    void Terminate();

private:
    void Execute();

    Handoff<bool> m_step;
    std::atomic<bool> m_terminated{false};
    std::thread m_thread;
};

// Start-up: creates the worker (once; a second call does nothing). Main thread.
void StartCommandWorker();
// Exit: ends the worker and waits for it. Main thread; safe to call when none runs.
void StopCommandWorker();
