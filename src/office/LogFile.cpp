#include "LogFile.h"

#include "cards/Gbk.h"
#include "store/DM.h"
#include "store/FileSync.h"
#include "store/OperationError.h"
#include "store/SqlText.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <iterator>

namespace {

// The columns of a line, in the order of the header.
const char* const Fields[] = {"LogTime", "Computer", "SystemUser", "LevelName", "Action",
                              "Outcome", "CardID",   "OwnerName",  "Details"};

QString statement(const ListQuery& query, bool reversed)
{
    QList<SortKey> keys = query.order;
    if (keys.isEmpty() || keys.last().column.compare(QLatin1String("idx"), Qt::CaseInsensitive) != 0)
        keys.append({QStringLiteral("idx"), false});
    QStringList order;
    for (const SortKey& k : keys)
        order << (k.descending != reversed ? k.column + QStringLiteral(" desc") : k.column);
    return QStringLiteral("select %1 from %2 order by %3")
        .arg(query.columns, query.from, order.join(QStringLiteral(", ")));
}

// Runs the query, calling row with the values of the line's columns of every entry.
int forEachEntry(const ListQuery& query, bool reversed, const std::function<bool(const QStringList&)>& row)
{
    QSqlQuery q(dm->database());
    SetForwardOnlyOnFile(q);
    if (!ExecBound(q, statement(query, reversed), query.params))
        throw OperationError(q.lastError().text());
    int columns[std::size(Fields)];
    for (size_t i = 0; i < std::size(Fields); ++i)
        columns[i] = q.record().indexOf(QLatin1String(Fields[i]));
    int count = 0;
    QStringList values;
    while (q.next()) {
        values.clear();
        for (const int c : columns)
            values << (c < 0 ? QString() : q.value(c).toString());
        if (!row(values))
            break;
        ++count;
    }
    if (q.lastError().isValid())
        throw OperationError(q.lastError().text());
    return count;
}

// A value as a field of the file: its commas and line breaks would start a field or a line.
void appendField(QString& line, const QString& value)
{
    for (const QChar c : value) {
        if (c == QLatin1Char(','))
            line += QChar(0xFF0C); // "，"
        else if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            line += QLatin1Char(' ');
        else
            line += c;
    }
}

} // namespace

LogFileResult WriteLogFile(const QString& fileName, const ListQuery& query, bool oldestFirst)
{
    LogFileResult r;
    WholeFile file(fileName);
    if (!file.Open()) {
        r.message = file.ErrorText();
        return r;
    }
    // Lines are gathered as UTF-8 and written as GBK a block at a time.
    constexpr qsizetype Block = 256 * 1024;
    QByteArray lines = QByteArray(LogFileHeader) + "\r\n";
    QByteArray gbk;
    bool written = true;
    const auto flush = [&] {
        gbk.clear();
        r.replaced += AppendUtf8AsGbk(lines.constData(), lines.size(), gbk);
        lines.clear();
        written = file.Write(gbk.constData(), gbk.size());
        return written;
    };
    try {
        QString line;
        r.entries = forEachEntry(query, oldestFirst, [&](const QStringList& values) {
            line.clear();
            for (qsizetype i = 0; i < values.size(); ++i) {
                if (i > 0)
                    line += QLatin1Char(',');
                appendField(line, values[i]);
            }
            lines.append(line.toUtf8()).append("\r\n");
            return lines.size() < Block || flush();
        });
    } catch (const OperationError& e) {
        file.Discard();
        r.message = e.message();
        return r;
    }
    if (!written || !flush() || !file.Commit()) {
        r.message = file.ErrorText();
        file.Discard();
        return r;
    }
    r.ok = true;
    return r;
}

int ForEachLogLine(const ListQuery& query, bool oldestFirst, const std::function<void(const QString&)>& line)
{
    QString text;
    return forEachEntry(query, oldestFirst, [&](const QStringList& values) {
        text.clear();
        for (qsizetype i = 0; i < values.size(); ++i) {
            if (i > 0)
                text += QLatin1Char('\t');
            // A tab or a line break inside a value would split its field or its line.
            for (const QChar c : values[i])
                text += c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n')
                            ? QChar(QLatin1Char(' '))
                            : c;
        }
        line(text);
        return true;
    });
}
