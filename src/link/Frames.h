#pragma once

#include <array>
#include <cstdint>

// Command frames (0xAA, length, code, sector or result, payload, 0xEE) and the 31-byte HID
// reports that carry them, 25 frame bytes at a time.

constexpr uint8_t FrameHead = 0xAA;
constexpr uint8_t FrameTail = 0xEE;
constexpr uint8_t PacketHead = 0xBB;
constexpr uint8_t PacketTail = 0xCC;
constexpr int ReportSize = 31; // report ID included
constexpr int PacketDataSize = 25;
constexpr int MaxFrameSize = 56;
constexpr int MaxPackets = 3;

using FrameBytes = std::array<uint8_t, MaxFrameSize>;

// Where output reports go: the claimed card issuer.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    // Output report length as the device declares it, report ID included.
    virtual int outputReportLength() const = 0;
    virtual void writeReport(const uint8_t* report, int length) = 0;
};

// Cuts the frame (byte 1 its length) into reports and writes them to sink. Nothing is sent when
// sink is null (no card issuer claimed).
void SendFrame(const FrameBytes& frame, ReportSink* sink);

struct ReceivedFrame {
    uint8_t Head;
    uint8_t Length;
    uint8_t Command;
    uint8_t Result;
    uint8_t Data[51];
    uint8_t Tail;
};
static_assert(sizeof(ReceivedFrame) == 56);

enum class ReportOutcome {
    Partial,  // more pieces are to come
    Complete, // ResponseFrame holds a valid answer: log it and handle it
    Bad,      // "接收数据错误！"
};

// One input report, the bytes after the report ID (data[0] is the report length byte), into
// ReportBuffer and, once complete and valid, ResponseFrame (ProgramState.h).
ReportOutcome ReceiveReport(const uint8_t* data, int size);
// Clears both buffers, as at program start.
void ResetReceiveBuffers();

inline constexpr const char* ReceiveErrorText = "接收数据错误！";
