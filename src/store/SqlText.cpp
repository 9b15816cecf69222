#include "SqlText.h"

#include "OperationError.h"

#include <QSet>

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

std::optional<int> ParseInt32(const QString& text)
{
    const QString t = text.trimmed();
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

// At a "--" or "/*" comment, moves i past it and returns true.
bool skipComment(const QString& sql, qsizetype& i)
{
    const qsizetype n = sql.size();
    if (i + 1 >= n)
        return false;
    if (sql[i] == QLatin1Char('-') && sql[i + 1] == QLatin1Char('-')) {
        while (i < n && sql[i] != QLatin1Char('\n'))
            ++i;
        return true;
    }
    if (sql[i] == QLatin1Char('/') && sql[i + 1] == QLatin1Char('*')) {
        const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
        i = end < 0 ? n : end + 2;
        return true;
    }
    return false;
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

} // namespace

QStringList StatementParameters(const QString& sql)
{
    QStringList names;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto skipQuoted = [&](QChar close) {
        // i is on the opening character; a doubled closing character stays inside.
        ++i;
        while (i < n) {
            if (sql[i] == close) {
                if (i + 1 < n && sql[i + 1] == close && close != QLatin1Char(']')) {
                    i += 2;
                    continue;
                }
                ++i;
                return;
            }
            ++i;
        }
    };
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            skipQuoted(c);
        } else if (c == QLatin1Char('[')) {
            skipQuoted(QLatin1Char(']'));
        } else if (skipComment(sql, i)) {
        } else if (c == QLatin1Char('?')) {
            names << QStringLiteral("?");
            ++i;
            while (i < n && sql[i].isDigit())
                ++i;
        } else if ((c == QLatin1Char(':') || c == QLatin1Char('@') || c == QLatin1Char('$')) && i + 1 < n &&
                   isNameStart(sql[i + 1])) {
            qsizetype j = i + 1;
            while (j < n && isNameChar(sql[j]))
                ++j;
            // Only ':' names are bound by name here; '@' and '$' names keep their mark, so
            // that no value given for them ever counts as bound.
            const QString name = c == QLatin1Char(':') ? sql.mid(i + 1, j - i - 1) : sql.mid(i, j - i);
            if (!names.contains(name))
                names << name;
            i = j;
        } else {
            ++i;
        }
    }
    return names;
}

namespace {

// Positions (outside quotes, brackets and comments) where each top-level word begins, lower-cased.
QList<std::pair<qsizetype, QString>> topLevelWords(const QString& sql)
{
    QList<std::pair<qsizetype, QString>> words;
    const qsizetype n = sql.size();
    int depth = 0;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`') ||
            c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            ++i;
            while (i < n && sql[i] != close)
                ++i;
            ++i; // a doubled quote reads as two quoted texts in a row, which is just as good here
        } else if (skipComment(sql, i)) {
        } else if (c == QLatin1Char('(')) {
            ++depth;
            ++i;
        } else if (c == QLatin1Char(')')) {
            --depth;
            ++i;
        } else if (isNameStart(c)) {
            qsizetype j = i;
            while (j < n && isNameChar(sql[j]))
                ++j;
            if (depth == 0 && (i == 0 || !(sql[i - 1] == QLatin1Char(':') || sql[i - 1] == QLatin1Char('@') ||
                                           sql[i - 1] == QLatin1Char('$'))))
                words.append({i, sql.mid(i, j - i).toLower()});
            i = j;
        } else {
            ++i;
        }
    }
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
    return QStringLiteral("select count(*) from (%1)").arg(rows);
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
