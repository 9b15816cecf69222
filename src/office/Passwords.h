#pragma once

// The operator levels' passwords. The program has a written password for 管理员 and one for
// 维护员 (物业管家 has none); an office may set its own in the database it works on (table
// OfficePassword), so that every desk on a shared server checks the same ones. Kept as a salted
// slow hash (PBKDF2 with HMAC-SHA256 and a random salt), never in clear; a level without a row
// keeps the written password. Deleting the rows puts the written passwords back (for a forgotten
// one). Works on the data module `dm`; main thread (or the command line's one thread).

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The levels (OperatorLevel): 0 物业管家, 1 管理员, 2 维护员.
constexpr int StewardLevel = 0;
constexpr int AdministratorLevel = 1;
constexpr int MaintainerLevel = 2;

// The program's written password of the level; empty for 物业管家 (any text opens it).
QString WrittenPassword(int level);

// PBKDF2 with HMAC-SHA256 (RFC 8018), a key of `length` bytes.
QByteArray PasswordHash(const QString& password, const QByteArray& salt, int iterations, int length = 32);

// The rounds a new hash takes: 50-100 ms on the development machine, a 2-core PC shared with
// other work (bench/office/bench_passwords).
// Each row keeps its own count, so a later program may raise it for the passwords it sets.
constexpr int PasswordIterations = 40000;

// Whether `password` opens `level`: the office's password when it set one; otherwise the
// program's written password (物业管家: any text). When the database cannot be read (no data
// module, a file that cannot be opened, a server out of reach), the written passwords hold, so
// that the office is never shut out; `fellBack` then tells why.
bool CheckPassword(int level, const QString& password, QString* fellBack = nullptr);

// Whether the office set its own password for the level, and when (the clock's time then);
// nullopt when the level keeps the written password (物业管家: none). Throws OperationError when
// the database cannot be read.
std::optional<QString> PasswordChangedAt(int level);

// Sets the level's password (a new salt, hashed with PasswordIterations rounds); the previous
// one is replaced in the same change. False, after the data module's error box, when the
// database refused it. An empty password is refused (false, nothing changed): 物业管家 without
// a password is RemovePassword.
bool SetPassword(int level, const QString& password);

// The level goes back to the written password (物业管家: none). False when the database
// refused it (said in an error box).
bool RemovePassword(int level);

// Every level goes back to its written password; the number of levels that had one of the
// office's own, or -1 when the database refused the change (said in an error box). Throws
// OperationError when the database cannot be read.
int ResetPasswords();
