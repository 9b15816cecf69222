#pragma once

#include "SqlText.h"
#include "UserInfoRec.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// The owner statements on the data module: loading an owner row into a record, the whole-record
// writes, card serial registrations, one imported owner, and the lookups by card serial and card
// number. Errors of the statements that change data are shown through the module's ExecuteSQL.

class Tdm;

// The two ways into InsertUserInfo: the owner editor's, whose record carries the terminal
// buffer, and the import's, whose records carry none. Both write the same row.
enum class InsertEntry { Editor, Import };

// Owner loaders: the count of rows the query finds; the record is filled from the first row
// when there is one, and left as it was otherwise. Errors throw OperationError.
// ByIdx with a key of 0 or less loads the newest row and counts all rows.
int LoadUserInfoByIdx(Tdm& module, int idx, TuserInfoRec& rec);
int LoadUserInfoByCardNo(Tdm& module, const QString& cardNo, TuserInfoRec& rec);
int LoadUserInfoByName(Tdm& module, const QString& userName, TuserInfoRec& rec);

// Whole-record writes: "执行错误：" and the statement on failure, then false.
bool InsertUserInfo(Tdm& module, const TuserInfoRec& rec, InsertEntry entry = InsertEntry::Editor);
// UpdateUserInfo writes the fields of the editor's form alone (names, place, card number, card
// kind, expiry, terminals, photo name): the card serial changes only through the card
// registrations below, the loss state, the blacklist marks and the list's mark only through
// their own operations; what the record holds there is not written.
bool UpdateUserInfo(Tdm& module, const TuserInfoRec& rec);
bool UpdateUserTerminals(Tdm& module, const TuserInfoRec& rec);
bool UpdateUserExpiry(Tdm& module, const TuserInfoRec& rec);

// Card serial of one row (through ExecuteSQL).
bool SetUserCardID(Tdm& module, int idx, const QString& cardId);
bool ClearUserCardID(Tdm& module, int idx);

// Changes of several statements, each all or nothing (false: nothing changed, the failure
// has been reported once; conversion and lookup errors throw, also undoing everything).
// Adds the owner in place of any row with the same card number: that row is deleted, the
// record inserted, and its new idx put into rec.idx. The record's CardID is not written: when
// the row replaced is the record's own (rec.idx, the same owner saved again) the new row takes
// over the card that row holds at that moment, and with it what else the editor's form does not
// fill (loss state, blacklist marks, the list's mark, photo bytes); otherwise it holds no card;
// rec.CardID tells which.
// replaced, when given, receives the idx of the row deleted (0 for none). On failure rec and
// replaced are left as they were.
bool AddUserInfo(Tdm& module, TuserInfoRec& rec, int* replaced = nullptr);
// Registers a card serial to the owner toIdx (to no one when toIdx is not above 0), clearing
// it from every other owner that held it. Desks on one server that register one card at the
// same moment take turns, so the card ends registered to one owner only.
bool RegisterCardID(Tdm& module, int toIdx, const QString& cardId);
// One owner of an owner data file: replaces the rows with its card number in its building and
// unit, and holds its card serial alone (another owner holding it gives it up). (Many owners at
// once: ImportBatch.)
bool ImportUserInfo(Tdm& module, const TuserInfoRec& rec);
// The statement that removes the rows an imported owner replaces, and the one that takes the
// imported serials from other owners (for their query plans).
QString ImportDeleteStatement(const Tdm& module);
const QString& ClearOtherHoldersStatement();
// Lookups, each on a dataset of its own that is closed when it returns; errors throw
// OperationError.
// The idx of the first row holding the serial, -1 when none.
int FindUserByCardID(Tdm& module, const QString& cardId);
// The first row holding the serial as the owner card window shows it: texts as stored (empty for
// Null), the expiry only when the row has one.
struct CardHolder {
    int idx = -1;
    QString CardNo;
    QString DongHao;
    QString DanYuan;
    QString FangHao;
    QString UserName;
    QString Remark;
    QString Sex;
    QString Phone;
    bool IsUseExpDate = false;
    std::optional<QDate> ExpDate;
};
std::optional<CardHolder> FindCardHolder(Tdm& module, const QString& cardId);
// The idx of the first row with the card number, -1 when none.
int FindUserByCardNo(Tdm& module, const QString& cardNo);
// Whether a row has the card number.
bool CardNoExists(Tdm& module, const QString& cardNo);
// The idx of the newest row with the record's name, card number, building, unit and room;
// throws OperationError when there is none.
int FindUserIdx(Tdm& module, const TuserInfoRec& rec);

// The statements and values of the import, which ImportBatch prepares once and runs for many
// owners: the values of the whole-record statements (each statement takes the ones it names), the
// insert, the delete's values, the newest owner row's idx (0 when there is none: the rows an import
// adds after it are above it), whether the table holds any owner (1, else 0), and the clearing of a serial
// two imported rows name (the later one keeps it).
QByteArray BitmapBytes(const std::array<uint8_t, 32>& bitmap);
SqlParams OwnerRecordParams(const TuserInfoRec& rec, const QByteArray& terminals);
const QString& InsertUserInfoStatement();
SqlParams ImportDeleteParams(const TuserInfoRec& rec);
const QString& NewestOwnerStatement();
const QString& AnyOwnerStatement();
const QString& ClearEarlierImportedStatement();
