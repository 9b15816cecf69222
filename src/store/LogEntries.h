#pragma once

// The words of the operation log's entries, shared by every place that records an action: fields
// as "名称=值" joined by "；", a change as "字段: 旧值 → 新值", the terminals of a bitmap, an
// owner's row as a snapshot; and the recording of the owner, building and terminal changes the
// store makes. Main thread (the data module's thread).

#include "OperationLog.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <utility>
#include <vector>

struct TuserInfoRec;

// The outcome of a change the database refused: the operator saw the error box "执行错误：…".
inline const QString LogRefused = QStringLiteral("执行错误");

using LogField = std::pair<QString, QString>;
// "栋号=3；单元=1"; a field without a value is left out.
QString LogFields(const std::vector<LogField>& fields);
// Details joined: the non-empty parts with "；".
QString LogJoin(const QStringList& parts);
// The terminals a 32-byte bitmap opens, "1,2,5" ("无" for none).
QString LogTerminals(const uint8_t* bitmap);
// An expiry as the windows show it, or "不限" when the card does not expire.
QString LogExpiry(bool useExpiry, const QString& date);

// An owner's row as it stands, with the captions of the owner windows.
QString OwnerSnapshot(const TuserInfoRec& rec);
// The fields of the owner's form that differ, "姓名: 张三 → 李四"; empty when none does.
QString OwnerChanges(const TuserInfoRec& before, const TuserInfoRec& after);
// A change of the store (a building, a terminal) that worked or that the database refused.
void RecordChange(const QString& action, bool ok, const QString& details);
// An entry about one owner: its idx, name and card serial filled from rec.
LogEntry OwnerLogEntry(const QString& action, bool ok, const TuserInfoRec& rec, const QString& details);
// Owners named in one entry about many (a deletion of marked rows) are listed up to this many.
constexpr int LogListedOwners = 200;

// The settings as the log shows them: "扇区=7；小区标识=57302914".
QString SettingsLogText();
// The settings changed in memory (the device card window's save): what they were → what they are.
void RecordSettingsChange(const QString& action, const QString& before);
// The settings file written at the end of the program (ok: it was).
void RecordSettingsSaved(bool ok);

// The start and the end of the program, with its version and its database.
void RecordProgramStart();
void RecordProgramEnd();
