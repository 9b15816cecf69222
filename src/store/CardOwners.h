#pragma once

#include "SqlText.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

// Finding owners by the cards they hold. The column CardID keeps a card serial as the card serial
// text it was stored with (PadNumber, width 10: "-380917942" for a serial with the top bit set),
// while the card issuer and the card show the same serial unsigned ("3914049354"); operators type
// either. Everything here runs on the data module's connection and throws OperationError on an
// engine error. User-interface thread only.

// The CardID texts under which the card of this serial can be stored: its card serial text and its
// unsigned text (the same number, written the way the card issuer shows it), each once.
QStringList StoredSerialTexts(int32_t serial);

// What the lists and panels tell beside a card serial text as stored: "卡号（无符号）：" and its
// unsigned text; empty for a blank text or one that is no card serial.
QString UnsignedSerialHint(const QString& stored);

// A condition on UserInfo for a card number the operator typed into a search, with its values
// (bound, never part of the text; the parameter names begin with "card_").
struct CardCondition {
    QString text; // "(CardNo = :card_no or CardID in (...))", or "CardNo = :card_no"
    SqlParams params;
};
// The owners whose card number (CardNo) is the text as typed; when the text is also a card serial
// in either form (CardSerialFromTyped), the owners who hold that card (CardID) as well.
CardCondition CardSearchCondition(const QString& typed);

// An owner named by a card: the key and the columns the listings show, as text (Null as empty).
struct CardOwner {
    int idx = 0;
    QString CardID;
    QString UserName;
    QString DongHao;
    QString DanYuan;
    QString FangHao;
};

// The owners whose card serial has the given low 24 bits (a blacklist card keeps no more of a
// serial), for each of the values asked: every owner with a card serial text in CardID is read once
// and its serial taken as stored (negative ones included) or unsigned. The owners of one value are
// in building, unit, room and idx order; a value no owner matches is absent from the result.
QHash<uint32_t, QList<CardOwner>> OwnersBySerial24(const QList<uint32_t>& serial24s);
