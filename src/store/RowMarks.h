#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

// The marks of one table's rows: its selFlag column, which a list screen ticks on a double click
// and acts on in batches (delete the marked rows). The owner, building and terminal operations
// all mark through it. It keeps only the table's name; everything runs through the data module
// dm. The changing methods go through ExecuteSQL (a failure shows "执行错误：" and the statement,
// and gives false); IsSelected reads on a dataset of its own and throws OperationError on an engine error.
// A mark is any non-zero value (files of the old engine hold -1 for true); Null is no mark.
// User-interface thread only.
class RowMarks {
public:
    // The rows SelectNone writes.
    enum class Unmark {
        EveryRow,   // each row gets 0
        MarkedRows, // only the rows that carry a mark: a large table is not rewritten whole
    };

    // table: a table of the schema with the columns idx and selFlag. It is written into the
    // statements, so it is always a name from the code, never a text from the operator.
    explicit RowMarks(QString table, Unmark unmark = Unmark::EveryRow);

    const QString& Table() const { return m_table; }

    bool SelectAll() const;
    bool SelectNone() const;
    // value 1 marks the row, 0 unmarks it.
    bool SetSelected(int idx, int value) const;
    // False when the row's mark is Null or no row has the key.
    bool IsSelected(int idx) const;
    // Deletes every marked row of the table, listed or not.
    bool DeleteSelected() const;
    // The marked rows, for the log: how many there are, and the first `limit` of them as
    // "caption=value" texts of the given columns (column name, caption), in the order of idx.
    // Never throws: rows that cannot be read are left out.
    QStringList MarkedRows(const std::vector<std::pair<QString, QString>>& columns, int limit,
                           int& count) const;
    // One row by its idx as the same texts ("" when there is none).
    QString RowText(int idx, const std::vector<std::pair<QString, QString>>& columns) const;

private:
    QString m_table;
    Unmark m_unmark;
};
