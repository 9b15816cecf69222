#include "ProgramState.h"

#include "store/DM.h"
#include "store/Database.h"

#include <QtGlobal>
#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

uint8_t PendingCommand = IdleCommand;
ManualResetEvent CommandEvent;
TActThread* ActThread = nullptr;

TUserCardRec UserCardRec;
TTerminalParamRec TerminalParamRec;
TBlackListRec BlackListRec;
BlackListTarget BlackListTargets[BlackListMaxEntries];
int BlackListTargetCount = 0;
uint8_t BlackListSource = 0;

uint8_t CardDataReady = 0;
int32_t CardResult = 0;
uint8_t BlackListReady = 0;

uint8_t ReportBuffer[MaxPackets * PacketDataSize] = {};
ReceivedFrame ResponseFrame = {};

TJvHidDevice* CardIssuerDevice = nullptr;

ResponseLog* CurrentResponseLog = nullptr;
InitRunCounters* CurrentInitRunCounters = nullptr;
BlackListWindowHook* CurrentBlackListWindow = nullptr;
OwnerListHook* CurrentOwnerList = nullptr;
BlackListOwnerMarks* CurrentOwnerMarks = nullptr;

uint8_t OperatorLevel = 0;

namespace {

// Static initialisation runs on the thread that starts the program, before main().
const std::thread::id MainThreadId = std::this_thread::get_id();

std::vector<void (*)()>& stateResets()
{
    static std::vector<void (*)()> resets;
    return resets;
}

} // namespace

void AddStateReset(void (*reset)())
{
    RequireMainThread(__func__);
    auto& resets = stateResets();
    if (std::find(resets.begin(), resets.end(), reset) == resets.end())
        resets.push_back(reset);
}

void ResetProgramState()
{
    RequireMainThread(__func__);
    const auto& resets = stateResets();
    for (auto it = resets.rbegin(); it != resets.rend(); ++it)
        (*it)();
    delete dm;
    dm = nullptr;

    PendingCommand = IdleCommand;
    CommandEvent.reset();

    UserCardRec = {};
    TerminalParamRec = {};
    BlackListRec = {};
    for (BlackListTarget& target : BlackListTargets)
        target = {};
    BlackListTargetCount = 0;
    BlackListSource = 0;

    CardDataReady = 0;
    CardResult = 0;
    BlackListReady = 0;
    ResetReceiveBuffers();

    CardIssuerDevice = nullptr;

    CurrentResponseLog = nullptr;
    CurrentInitRunCounters = nullptr;
    CurrentBlackListWindow = nullptr;
    CurrentOwnerList = nullptr;
    CurrentOwnerMarks = nullptr;

    OperatorLevel = 0;
    std::memset(&SystemInfo, 0, sizeof SystemInfo);
    AppPath.clear();
    SetDatabaseOverride(QString());
}

bool OnMainThread()
{
    return std::this_thread::get_id() == MainThreadId;
}

void RequireMainThread(const char* function)
{
    if (!OnMainThread())
        qFatal("%s called outside the main thread", function);
}
