#include "SqlText.h"

#include "OperationError.h"

#include <QByteArray>
#include <QDate>
#include <QDebug>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

QVariant TextValue(const QString& text)
{
    if (text.isNull())
        return QVariant(QString(QLatin1String("")));
    return QVariant(text);
}

QString SqlQuote(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('\'');
    for (QChar c : text) {
        out += c;
        if (c == QLatin1Char('\''))
            out += c;
    }
    out += QLatin1Char('\'');
    return out;
}

QString Abridged(QStringView text, int most)
{
    if (text.size() <= most)
        return text.toString();
    // Not between the two halves of a character beyond the basic plane.
    const qsizetype cut = text[most - 1].isHighSurrogate() ? most - 1 : most;
    return text.left(cut).toString() + QStringLiteral("…");
}

std::optional<int> ParseInt32(QStringView text)
{
    const QStringView t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    if (i == t.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > qint64(1) << 31)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 2147483647 || value < -2147483648LL)
        return std::nullopt;
    return int(value);
}

int ToInt32(const QString& text)
{
    const std::optional<int> v = ParseInt32(text);
    if (!v)
        ThrowNotAnInteger(text);
    return *v;
}

QString SqlInteger(const QString& text)
{
    return QString::number(ToInt32(text));
}

namespace {

bool isNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// The pieces of a statement text, as far as this program needs to tell them apart.
enum class Piece { Quoted, Comment, Word, Parameter, Other };

// Walks sql piece by piece: quoted texts and names (a doubled quote stays inside), comments,
// words, parameters (":name", "@name", "$name", "?" and "?n") and everything else one character
// at a time. visit(kind, begin, length) is called for every piece in order.
template <typename Visit> void scanSql(const QString& sql, Visit visit)
{
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype begin = i;
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`') ||
            c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            ++i;
            while (i < n) {
                if (sql[i] == close) {
                    if (close != QLatin1Char(']') && i + 1 < n && sql[i + 1] == close) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            visit(Piece::Quoted, begin, i - begin);
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            while (i < n && sql[i] != QLatin1Char('\n'))
                ++i;
            visit(Piece::Comment, begin, i - begin);
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
            visit(Piece::Comment, begin, i - begin);
        } else if (c == QLatin1Char('?')) {
            ++i;
            while (i < n && sql[i].isDigit())
                ++i;
            visit(Piece::Parameter, begin, i - begin);
        } else if ((c == QLatin1Char(':') || c == QLatin1Char('@') || c == QLatin1Char('$')) && i + 1 < n &&
                   isNameStart(sql[i + 1])) {
            ++i;
            while (i < n && isNameChar(sql[i]))
                ++i;
            visit(Piece::Parameter, begin, i - begin);
        } else if (isNameStart(c)) {
            while (i < n && isNameChar(sql[i]))
                ++i;
            visit(Piece::Word, begin, i - begin);
        } else {
            ++i;
            visit(Piece::Other, begin, qsizetype(1));
        }
    }
}

// The name under which a parameter piece is bound: ":name" gives name, "?" and "?n" give "?".
// '@' and '$' names keep their mark, so that no value given by name ever counts as bound to them.
QString parameterName(const QString& sql, qsizetype begin, qsizetype length)
{
    if (sql[begin] == QLatin1Char('?'))
        return QStringLiteral("?");
    if (sql[begin] == QLatin1Char(':'))
        return sql.mid(begin + 1, length - 1);
    return sql.mid(begin, length);
}

// A value as a statement written out as text would carry it.
QString literal(const QVariant& value)
{
    if (value.isNull())
        return QStringLiteral("null");
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toString();
    case QMetaType::QByteArray:
        return QStringLiteral("X'%1'").arg(QString::fromLatin1(value.toByteArray().toHex().toUpper()));
    default:
        return SqlQuote(value.toString());
    }
}

} // namespace

QStringList StatementParameters(const QString& sql)
{
    QStringList names;
    scanSql(sql, [&](Piece kind, qsizetype begin, qsizetype length) {
        if (kind != Piece::Parameter)
            return;
        const QString name = parameterName(sql, begin, length);
        if (name == QLatin1String("?") || !names.contains(name))
            names << name;
    });
    return names;
}

QString StatementWithValues(const QString& sql, const SqlParams& params, const QStringList& keep)
{
    QString out;
    out.reserve(sql.size() + 32);
    scanSql(sql, [&](Piece kind, qsizetype begin, qsizetype length) {
        if (kind == Piece::Parameter && sql[begin] == QLatin1Char(':')) {
            const QString name = parameterName(sql, begin, length);
            if (!keep.contains(name)) {
                for (const auto& p : params) {
                    if (p.first == name) {
                        out += literal(p.second);
                        return;
                    }
                }
            }
        }
        out += QStringView(sql).mid(begin, length);
    });
    return out;
}

QString NumberedParameters(const QString& sql, QStringList* names)
{
    QStringList found;
    QString out;
    out.reserve(sql.size());
    scanSql(sql, [&](Piece kind, qsizetype begin, qsizetype length) {
        const bool cast = begin > 0 && sql[begin - 1] == QLatin1Char(':');
        if (kind == Piece::Parameter && sql[begin] == QLatin1Char(':') && !cast) {
            const QString name = parameterName(sql, begin, length);
            qsizetype at = found.indexOf(name);
            if (at < 0) {
                at = found.size();
                found << name;
            }
            out += QLatin1Char('$') + QString::number(at + 1);
            return;
        }
        out += QStringView(sql).mid(begin, length);
    });
    if (names)
        *names = found;
    return out;
}

QStringList SplitStatements(const QString& script)
{
    QStringList statements;
    QString current;
    QStringList words; // the first words of the current statement, lower-cased
    int depth = 0;     // begin/case ... end nesting inside a trigger body
    bool trigger = false;
    auto finish = [&] {
        const QString s = current.trimmed();
        if (!s.isEmpty())
            statements << s;
        current.clear();
        words.clear();
        depth = 0;
        trigger = false;
    };
    scanSql(script, [&](Piece kind, qsizetype begin, qsizetype length) {
        const QStringView piece = QStringView(script).mid(begin, length);
        switch (kind) {
        case Piece::Comment:
            current += QLatin1Char(' ');
            return;
        case Piece::Word: {
            const QString word = piece.toString().toLower();
            if (words.size() < 4) {
                words << word;
                // "create [temp|temporary] trigger": its body holds statements of its own.
                trigger =
                    trigger || (words.first() == QLatin1String("create") && word == QLatin1String("trigger"));
            }
            if (trigger && (word == QLatin1String("begin") || word == QLatin1String("case")))
                ++depth;
            else if (trigger && word == QLatin1String("end") && depth > 0)
                --depth;
            break;
        }
        case Piece::Other:
            if (piece == QLatin1String(";") && depth == 0) {
                finish();
                return;
            }
            break;
        case Piece::Quoted:
        case Piece::Parameter:
            break;
        }
        current += piece;
    });
    finish();
    return statements;
}

namespace {

// Positions (outside quotes, brackets and comments) where each top-level word begins, lower-cased.
QList<std::pair<qsizetype, QString>> topLevelWords(const QString& sql)
{
    QList<std::pair<qsizetype, QString>> words;
    int depth = 0;
    scanSql(sql, [&](Piece kind, qsizetype begin, qsizetype length) {
        if (kind == Piece::Other && sql[begin] == QLatin1Char('('))
            ++depth;
        else if (kind == Piece::Other && sql[begin] == QLatin1Char(')'))
            --depth;
        else if (kind == Piece::Word && depth == 0)
            words.append({begin, sql.mid(begin, length).toLower()});
    });
    return words;
}

} // namespace

QString CountStatement(const QString& sql)
{
    const auto words = topLevelWords(sql);
    qsizetype cut = -1;
    for (qsizetype k = 0; k + 1 < words.size(); ++k) {
        if (words[k].second == QLatin1String("order") && words[k + 1].second == QLatin1String("by"))
            cut = words[k].first;
        else if (words[k].second == QLatin1String("limit"))
            cut = -1;
    }
    if (!words.isEmpty() && words.last().second == QLatin1String("limit"))
        cut = -1;
    if (cut >= 0 && !StatementParameters(sql.mid(cut)).isEmpty())
        cut = -1; // the values given must all find their parameters
    const QString rows = cut < 0 ? sql : sql.left(cut);
    return QStringLiteral("select count(*) from (%1) as counted").arg(rows);
}

QString ParameterMismatch(const QString& sql, const SqlParams& params)
{
    const QStringList wanted = StatementParameters(sql);
    QSet<QString> given;
    for (const auto& p : params)
        given.insert(p.first);
    QStringList problems;
    for (const QString& name : wanted) {
        if (!given.contains(name))
            problems << QStringLiteral("parameter %1 left unbound")
                            .arg(name == QLatin1String("?") ? name : QLatin1Char(':') + name);
    }
    for (const auto& p : params) {
        if (!wanted.contains(p.first))
            problems << QStringLiteral("value for :%1 taken by no parameter").arg(p.first);
    }
    return problems.join(QStringLiteral("; "));
}

bool ExecBound(QSqlQuery& query, const QString& sql, const SqlParams& params)
{
    const QString mismatch = ParameterMismatch(sql, params);
    if (!mismatch.isEmpty()) {
        qWarning().noquote() << "SQL statement refused:" << mismatch << "in:" << sql;
        throw OperationError(QStringLiteral("语句参数不匹配（%1）：%2").arg(mismatch, sql));
    }
    // One statement at a time: a server would run every statement of the text.
    if (SplitStatements(sql).size() > 1)
        throw OperationError(QStringLiteral("一次只能执行一条语句：%1").arg(sql));
    if (params.isEmpty())
        return query.exec(sql);
    if (!query.prepare(sql))
        return false;
    for (const auto& p : params)
        query.bindValue(QLatin1Char(':') + p.first, p.second);
    return query.exec();
}

void CheckRan(QSqlQuery& q, bool ran)
{
    if (!ran)
        throw OperationError(q.lastError().text());
}

void RunOrThrow(QSqlQuery& q, const QString& sql, const QVariantList& values)
{
    if (values.isEmpty()) {
        CheckRan(q, q.exec(sql));
        return;
    }
    CheckRan(q, q.prepare(sql));
    for (qsizetype i = 0; i < values.size(); ++i)
        q.bindValue(int(i), values[i]);
    CheckRan(q, q.exec());
}
