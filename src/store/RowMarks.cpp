#include "RowMarks.h"

#include "DM.h"
#include "LogEntries.h"
#include "OperationError.h"

#include <QRegularExpression>

RowMarks::RowMarks(QString table, Unmark unmark) : m_table(std::move(table)), m_unmark(unmark)
{
    Q_ASSERT_X(QRegularExpression(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$")).match(m_table).hasMatch(),
               "RowMarks", "the table must be a plain name");
}

bool RowMarks::SelectAll() const
{
    return dm->ExecuteSQL(QStringLiteral("update %1 set selFlag = %2").arg(m_table, dm->BoolLiteral(true)));
}

bool RowMarks::SelectNone() const
{
    if (m_unmark == Unmark::MarkedRows)
        return dm->ExecuteSQL(QStringLiteral("update %1 set selFlag = %2 where selFlag <> %2")
                                  .arg(m_table, dm->BoolLiteral(false)));
    return dm->ExecuteSQL(QStringLiteral("update %1 set selFlag = %2").arg(m_table, dm->BoolLiteral(false)));
}

bool RowMarks::SetSelected(int idx, int value) const
{
    return dm->ExecuteSQL(QStringLiteral("update %1 set selFlag = :selFlag where idx=:idx").arg(m_table),
                          {{QStringLiteral("selFlag"), value != 0}, {QStringLiteral("idx"), idx}});
}

bool RowMarks::IsSelected(int idx) const
{
    DataSet row(*dm, QStringLiteral("mark"));
    row.Open(QStringLiteral("select * from %1 where idx=:idx").arg(m_table), {{QStringLiteral("idx"), idx}});
    if (row.Eof())
        return false;
    return dm->FieldAsBool(row, QStringLiteral("selFlag"));
}

bool RowMarks::DeleteSelected() const
{
    return dm->ExecuteSQL(
        QStringLiteral("delete from %1 where selFlag <> %2").arg(m_table, dm->BoolLiteral(false)));
}

namespace {

QStringList columnNames(const std::vector<std::pair<QString, QString>>& columns)
{
    QStringList names;
    for (const auto& column : columns)
        names << column.first;
    return names;
}

QString rowText(const DataSet& ds, const std::vector<std::pair<QString, QString>>& columns)
{
    std::vector<LogField> fields;
    for (const auto& [column, caption] : columns)
        fields.push_back({caption, ds.Field(column).toString()});
    return LogFields(fields).replace(QStringLiteral("；"), QStringLiteral("，"));
}

} // namespace

QString RowMarks::RowText(int idx, const std::vector<std::pair<QString, QString>>& columns) const
try {
    DataSet ds(*dm, QStringLiteral("row"));
    ds.Open(QStringLiteral("select ") + columnNames(columns).join(QLatin1Char(',')) +
                QStringLiteral(" from %1 where idx = :idx").arg(m_table),
            {{QStringLiteral("idx"), idx}});
    return ds.Eof() ? QString() : rowText(ds, columns);
} catch (const OperationError&) {
    return QStringLiteral("idx=%1").arg(idx);
}

QStringList RowMarks::MarkedRows(const std::vector<std::pair<QString, QString>>& columns, int limit,
                                 int& count) const
try {
    const QString marked =
        QStringLiteral(" from %1 where selFlag <> %2").arg(m_table, dm->BoolLiteral(false));
    DataSet counted(*dm, QStringLiteral("marked"));
    counted.Open(QStringLiteral("select count(*) as n") + marked);
    count = counted.Field(QStringLiteral("n")).toInt();
    QStringList rows;
    if (count == 0 || limit <= 0)
        return rows;
    DataSet ds(*dm, QStringLiteral("marked"));
    ds.Open(QStringLiteral("select ") + columnNames(columns).join(QLatin1Char(',')) + marked +
            QStringLiteral(" order by idx"));
    for (; !ds.Eof() && rows.size() < limit; ds.Next())
        rows << rowText(ds, columns);
    return rows;
} catch (const OperationError&) {
    return {}; // the entry then gives the number alone (or none); the deletion goes on
}
