#pragma once

#include "link/Frames.h"

#include <QByteArray>
#include <cstdint>
#include <cstring>

// Frames as they travel, for tests of the link and the simulated card issuer.

// A frame's bytes: 0xAA, the length, the command code, the sector (towards the card issuer) or
// the result (in an answer), the payload, 0xEE.
inline QByteArray RawFrame(uint8_t command, uint8_t sectorOrResult, const QByteArray& payload = {})
{
    QByteArray f;
    f.append(char(FrameHead))
        .append(char(5 + payload.size()))
        .append(char(command))
        .append(char(sectorOrResult));
    return f.append(payload).append(char(FrameTail));
}

// An answer as the report handler assembles it into ResponseFrame.
inline ReceivedFrame AnswerRecord(uint8_t command, uint8_t result, const QByteArray& payload = {})
{
    ReceivedFrame a{};
    a.Head = FrameHead;
    a.Length = uint8_t(5 + payload.size());
    a.Command = command;
    a.Result = result;
    std::memcpy(a.Data, payload.constData(), size_t(payload.size()));
    a.Tail = FrameTail;
    return a;
}

// The record of a blacklist card of the community 12345678 with count entries: entry i is flagged
// i mod 2 and carries the serial bytes i, 0x20 + i, 0x30 (least significant first).
inline QByteArray BlackListPayload(int count)
{
    QByteArray p;
    p.append(char(2)).append("\x12\x34\x56\x78", 4).append(char(count));
    for (int i = 0; i < count; ++i)
        p.append(char(i % 2)).append(char(i)).append(char(0x20 + i)).append(char(0x30));
    return p;
}
