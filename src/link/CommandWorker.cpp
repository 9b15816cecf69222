#include "CommandWorker.h"

#include "CommandFrames.h"
#include "HidDevice.h"
#include "cards/CardRecords.h"
#include "store/SaveLoad.h"

void SignalCommandEvent()
{
    CommandEvent.set();
}

void IssueCommand(uint8_t code)
{
    RequireMainThread(__func__);
    PendingCommand = code;
    SignalCommandEvent();
}

void BuildAndSendCommand()
{
    RequireMainThread(__func__);
    const auto frame =
        BuildCommandFrame(PendingCommand, SystemInfo, UserCardRec, TerminalParamRec, BlackListRec);
    if (frame)
        SendFrame(*frame, CardIssuerDevice);
}

TActThread::TActThread() : m_step([](bool&&) { BuildAndSendCommand(); }), m_thread([this] { Execute(); }) {}

TActThread::~TActThread()
{
    Terminate();
}

void TActThread::Execute()
{
    while (!m_terminated.load()) {
        if (!CommandEvent.wait(m_terminated))
            continue;
        CommandEvent.reset();
        m_step.deliver(true);
    }
}

void TActThread::Terminate()
{
    if (!m_thread.joinable())
        return;
    m_terminated.store(true);
    CommandEvent.interrupt();
    m_step.cancel(true);
    m_thread.join();
}

void StartCommandWorker()
{
    if (!ActThread)
        ActThread = new TActThread;
    AddStateReset(StopCommandWorker);
}

void StopCommandWorker()
{
    delete ActThread;
    ActThread = nullptr;
}
