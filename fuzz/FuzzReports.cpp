// Input reports of any length, in any order, with any command pending: each one goes through
// ReceiveReport as the main window's report handler passes it on, and every complete answer through
// LogResponse and HandleResponse. Checks that the reassembled answer keeps to its frame, that the
// log line has one byte per frame byte, and that a blacklist card never holds more than ten entries.
//
// The input: byte 0 the number of owners behind a blacklist being written (any value, also
// negative), byte 1 who reloads after it (BlackListSource); then a run of steps, each led by a
// control byte c: c of 0xF0 and above sets PendingCommand to the next byte; below 0xC0 a report of
// the usual 30 bytes follows; otherwise a report of c - 0xC0 (0 to 47) bytes follows.

#include "link/CommandWorker.h"
#include "link/Frames.h"
#include "link/ProgramState.h"
#include "link/Responses.h"
#include "support/HookRecorder.h"
#include "support/TestDialogs.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_reports: %s\n", what);
    std::abort();
}

void Check(bool condition, const char* what)
{
    if (!condition)
        Fail(what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ResetProgramState();
    TestDialogs shown;
    HookRecorder windows;
    if (size < 2)
        return 0;
    BlackListTargetCount = static_cast<int8_t>(data[0]);
    BlackListSource = data[1];
    for (int i = 0; i < BlackListMaxEntries; ++i)
        BlackListTargets[i] = {uint8_t(i & 1), i + 1};

    size_t at = 2;
    while (at < size) {
        const uint8_t c = data[at++];
        if (c >= 0xF0) {
            if (at < size)
                PendingCommand = data[at++];
            continue;
        }
        const size_t wanted = c < 0xC0 ? size_t(ReportSize - 1) : size_t(c - 0xC0);
        const size_t n = std::min(wanted, size - at);
        // A buffer of exactly the report's length, so that a read past it is seen.
        std::vector<uint8_t> report(data + at, data + at + n);
        at += n;

        const int marksBefore = int(windows.marks.size());
        const ReportOutcome outcome = ReceiveReport(report.data(), int(report.size()));
        if (outcome != ReportOutcome::Complete)
            continue;
        const ReceivedFrame answer = ResponseFrame;
        Check(answer.Length >= 5 && answer.Length <= MaxFrameSize, "answer length outside its frame");
        Check(answer.Head == FrameHead && answer.Tail == FrameTail, "complete answer without head or tail");
        Check(answer.Tail == ReportBuffer[answer.Length - 1], "tail not taken from the frame's last byte");
        Check(std::memcmp(answer.Data, ReportBuffer + 4, size_t(answer.Length - 5)) == 0,
              "payload not taken from the frame");

        const int linesBefore = int(windows.lines.size());
        LogResponse(CurrentResponseLog, answer);
        Check(windows.lines.size() == linesBefore + 1, "answer not logged");
        Check(windows.lines.last().count(QLatin1Char(',')) == answer.Length - 1,
              "log line does not have one byte per frame byte");

        const uint8_t pending = PendingCommand;
        HandleResponse(answer);
        Check(BlackListRec.Count <= BlackListMaxEntries, "blacklist card with more than ten entries");
        Check(windows.marks.size() - marksBefore <= BlackListMaxEntries,
              "more owner updates than a blacklist card holds");
        if (answer.Command != pending && pending != 0 && pending != 5)
            Check(PendingCommand == pending, "an answer to another command changed the pending command");
    }
    return 0;
}
