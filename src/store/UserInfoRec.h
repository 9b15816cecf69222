#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <array>
#include <cstdint>

// One owner row in memory.
struct TuserInfoRec {
    int32_t idx = 0; // set by the caller; the loaders leave it alone
    int32_t DongHao = 0;
    int32_t DanYuan = 0;
    QString FangHao;
    QString UserName;
    QString Remark;
    QString Sex;
    QString Phone;
    QDate ExpDate{1899, 12, 30}; // the day a zeroed record holds
    bool IsUseExpDate = false;
    std::array<uint8_t, 32> VaildTerminal{};
    QString CardID;
    QString UserType;
    bool BlackCard = false;
    QString BuildName;
    QString IsSelect; // "True"/"False" as last loaded, empty for Null; nothing uses it
    QString ExtName;
    // Caller-owned buffers, not owned by the record; either may be null. A load replaces the
    // photo buffer with the bytes of imgPhoto and the terminal buffer with those of
    // VaildTerminal; the updates and the editor's insert leave the 32 bitmap bytes in the
    // terminal buffer.
    QByteArray* PhotoStream = nullptr;
    QByteArray* TerminalStream = nullptr;
    QString chLoss;
    QString chUseExpdate;
    QString CardNo;
};
