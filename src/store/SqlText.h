#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>
#include <utility>

// Values and statement text, and running one statement with its values bound (ExecBound). Every
// value that can be bound is bound as a named parameter; where a statement is assembled as text
// (list filters, searches, statements run through ExecuteSQL), texts go in through SqlQuote and
// numbers through SqlInteger, so no value can change a statement.

// One named parameter: the name as written after the ':' in the statement (case matters), and its
// value. A text value that is a null QString is bound as NULL: use TextValue for text columns.
using SqlParam = std::pair<QString, QVariant>;
using SqlParams = QList<SqlParam>;

// A text value for a text column: an empty text stays an empty text, never NULL.
QVariant TextValue(const QString& text);

// A text as a message quotes it: at most `most` characters, then "…" when there is more (a field of
// megabytes is never repeated whole).
QString Abridged(QStringView text, int most = 40);

// The text between single quotes, each single quote doubled.
QString SqlQuote(const QString& text);

// A whole number in 32 bits: optional blanks around an optional sign and decimal digits.
std::optional<int> ParseInt32(QStringView text);
// The same, or the conversion error "'text' is not a valid integer value".
int ToInt32(const QString& text);
// The decimal text of ToInt32(text), for pasting a typed number into a statement.
QString SqlInteger(const QString& text);

// The parameters a statement refers to, in order of first appearance: ":name" gives the name,
// "@name" and "$name" themselves, "?" gives "?". Quoted texts, quoted names and comments are skipped.
QStringList StatementParameters(const QString& sql);

// The statement as an operator reads it in an error box: every ":name" parameter given a value is
// replaced by that value written as a literal (texts quoted, numbers bare, booleans true/false),
// except the names in keep, which stay as placeholders.
QString StatementWithValues(const QString& sql, const SqlParams& params, const QStringList& keep = {});

// The statements of a script, split at the semicolons that end them: not at one inside a quoted
// text, a comment or the body of a trigger. Comments are left out.
QStringList SplitStatements(const QString& script);

// The statement text with ":name" parameters written as "$1", "$2", ... for a server (the same name
// the same number) and the names in that order; quoted texts, quoted names and comments are left
// as they are, and so is a "::" cast.
QString NumberedParameters(const QString& sql, QStringList* names = nullptr);

// The statement that counts the rows sql returns: the order of the rows does not change their
// number, so a closing "order by" (outside brackets and quotes, with no "limit" after it) is left out.
QString CountStatement(const QString& sql);

// Compares the statement's parameters with the values given (names compared exactly, as the SQL
// layer does). Returns an empty text when they agree; otherwise a description of every parameter
// that would run unbound and every value that no parameter takes.
QString ParameterMismatch(const QString& sql, const SqlParams& params);

class QSqlQuery;

// Makes the query read its rows once, front to back, where the engine allows other statements on the
// connection meanwhile (SQLite). A PostgreSQL connection streams such a result and then takes no
// other statement until it is read to its end, so there the whole result is fetched at once.
// (Defined beside the engines, in engine/Engine.cpp.)
void SetForwardOnlyOnFile(QSqlQuery& query);

// Prepares and runs sql on query with the values bound by name. False when the engine refuses
// it (query.lastError() tells why). Throws OperationError, after a warning in the log, when the
// statement's parameters and the values do not match: nothing runs with a parameter unbound.
bool ExecBound(QSqlQuery& query, const QString& sql, const SqlParams& params);

// A statement that must run: throws OperationError with the engine's text when ran is false
// (CheckRan), or when the statement fails; one with values is prepared and the values bound by
// position (RunOrThrow).
void CheckRan(QSqlQuery& q, bool ran);
void RunOrThrow(QSqlQuery& q, const QString& sql, const QVariantList& values = {});
