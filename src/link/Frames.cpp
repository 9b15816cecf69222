#include "Frames.h"

#include "ProgramState.h"

#include <algorithm>
#include <cstring>
#include <vector>

void SendFrame(const FrameBytes& frame, ReportSink* sink)
{
    if (!sink)
        return;
    const int length = frame[1];
    const int outLength = sink->outputReportLength();
    std::vector<uint8_t> report(static_cast<size_t>(std::max(ReportSize, outLength)), 0);
    report[0] = 0;
    report[1] = 29;
    report[2] = PacketHead;
    report[30] = PacketTail;
    report[3] = static_cast<uint8_t>(length / PacketDataSize + 1);
    const int total = std::min(length, MaxFrameSize);
    for (int k = 1, offset = 0; offset < total; ++k, offset += PacketDataSize) {
        report[4] = static_cast<uint8_t>(k);
        const int n = std::min(PacketDataSize, total - offset);
        std::fill(report.begin() + 5, report.begin() + 5 + PacketDataSize, uint8_t(0));
        std::memcpy(&report[5], &frame[static_cast<size_t>(offset)], static_cast<size_t>(n));
        sink->writeReport(report.data(), outLength);
    }
}

ReportOutcome ReceiveReport(const uint8_t* data, int size)
{
    // data[i] is byte i + 1 of the report table.
    if (size < ReportSize - 1)
        return ReportOutcome::Bad;
    const int count = data[2];
    const int index = data[3];
    const bool indexInRange = index >= 1 && index <= MaxPackets;
    if (indexInRange)
        std::memcpy(&ReportBuffer[PacketDataSize * (index - 1)], &data[4], PacketDataSize);
    if (data[1] != PacketHead || data[29] != PacketTail || !indexInRange)
        return ReportOutcome::Bad;
    if (index != count)
        return ReportOutcome::Partial;

    const int length = ReportBuffer[1];
    if (length < 5 || length > MaxFrameSize)
        return ReportOutcome::Bad;
    ResponseFrame.Head = ReportBuffer[0];
    ResponseFrame.Length = static_cast<uint8_t>(length);
    ResponseFrame.Command = ReportBuffer[2];
    ResponseFrame.Result = ReportBuffer[3];
    std::memcpy(ResponseFrame.Data, &ReportBuffer[4], static_cast<size_t>(length - 5));
    ResponseFrame.Tail = ReportBuffer[length - 1];
    if (ResponseFrame.Head != FrameHead || ResponseFrame.Tail != FrameTail)
        return ReportOutcome::Bad;
    return ReportOutcome::Complete;
}

void ResetReceiveBuffers()
{
    std::memset(ReportBuffer, 0, sizeof ReportBuffer);
    std::memset(&ResponseFrame, 0, sizeof ResponseFrame);
}
