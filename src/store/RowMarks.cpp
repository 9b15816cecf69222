#include "RowMarks.h"

#include "DM.h"

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
