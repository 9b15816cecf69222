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

TActThread::TActThread() : step_([](bool&&) { BuildAndSendCommand(); }), thread_([this] { Execute(); }) {}

TActThread::~TActThread()
{
    Terminate();
}

void TActThread::Execute()
{
    while (!terminated_.load()) {
        if (!CommandEvent.wait(terminated_))
            continue;
        CommandEvent.reset();
        step_.deliver(true);
    }
}

void TActThread::Terminate()
{
    if (!thread_.joinable())
        return;
    terminated_.store(true);
    CommandEvent.interrupt();
    step_.cancel(true);
    thread_.join();
}

void StartCommandWorker()
{
    if (!ActThread)
        ActThread = new TActThread;
}

void StopCommandWorker()
{
    delete ActThread;
    ActThread = nullptr;
}
