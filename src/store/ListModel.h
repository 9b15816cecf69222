#pragma once

#include "SqlText.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

class QItemSelectionModel;
class QSqlQuery;
class Tdm;

// The read-only list behind the grids of the owner list, the owner card issuing window, the
// building screen and the terminal screen: one query on the data module's connection, shown a
// page of rows at a time. The row count is known from the moment the list opens; rows are read
// in pages as the view asks for them, and only a bounded number of pages is kept (the least
// recently used goes first), so a list of 100,000 owners is never read whole. The row of an idx
// or of a card serial is found by counting the rows listed before it, without reading them.
// No statement stays open between calls, so the maintenance window can close the connection
// at any time; after a restore or any change the window reopens the list.
// User-interface thread only (the connection belongs to it).

// One key of the list order.
struct SortKey {
    QString column; // a column of the table in ListQuery::from
    bool descending = false;
};

// A list statement in parts: "select <columns> from <from> order by <order>, idx".
struct ListQuery {
    // The select list; must include idx.
    QString columns;
    // The table and its conditions, without an order: "UserInfo where 1=1 and DongHao = :DongHao".
    QString from;
    // The values of the parameters in columns and from (names beginning "list_" are the model's,
    // and so is the name list_rows).
    SqlParams params;
    // The order. idx is appended as the last key unless it is last already, so that every row
    // has one place. For pages to be read without sorting the whole list, the keys should run
    // along an index to its end (the owner list: DongHao, DanYuan, FangHao; idx, the rowid,
    // ends every index).
    QList<SortKey> order;
    // When not empty: a statement whose one value is the number of rows, with its own values, for
    // a list whose rows the engine would otherwise count one by one (the operation log keeps its
    // entries counted per day and action). It must count exactly the rows `from` selects.
    QString countStatement{};
    SqlParams countParams{};
};

enum class ListColumnKind {
    Text,  // the value as text; Null shows as empty text
    Check, // a yes/no column (selFlag): a check mark, set when the value is non-zero; no text
    Date,  // a stored date (yyyy-mm-dd) shown as yyyy/MM/dd; other values shown as they are
    // A card serial text (CardID), shown as stored; its unsigned form, the number the card issuer
    // and the card show, is the cell's tool tip and accessible description (UnsignedSerialHint).
    CardSerial,
};

// One column of the grid.
struct ListColumn {
    QString caption; // header text
    QString field;   // column of the result, compared without regard to case
    ListColumnKind kind = ListColumnKind::Text;
};

class ListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int DefaultPageSize = 100;
    static constexpr int DefaultPageLimit = 16;

    ListModel(Tdm& data, QList<ListColumn> columns, QObject* parent = nullptr);

    // Rows read by one statement (at least 1), and pages kept (at least 1). Either drops the
    // pages read so far.
    void SetPageSize(int rows);
    int PageSize() const { return m_pageSize; }
    void SetPageLimit(int pages);
    int PageLimit() const { return m_pageLimit; }

    // Runs the query: counts its rows and reads the first page. An engine error, a field of the
    // columns or idx missing from the result, throws OperationError and leaves the list empty
    // (the query is kept, so Reopen can try again).
    void Open(ListQuery query);
    // The same query again after a change: a fresh count, the pages read before dropped.
    // Does nothing before the first Open.
    void Reopen();
    // Empties the list and forgets the query.
    void Close();
    // Whether the last Open or Reopen succeeded.
    bool IsOpen() const { return m_open; }
    const ListQuery& Query() const { return m_query; }
    // The order as it runs: the query's order with idx last.
    const QList<SortKey>& OrderKeys() const { return m_keys; }

    // Rows in the list (0 when not open).
    int RecordCount() const { return m_count; }
    // The idx of a row; -1 outside the list or when its page could not be read.
    int IdxAt(int row) const;
    // A column of a row's result, as stored (Null stays Null); invalid outside the list or for
    // a column the result does not have.
    QVariant FieldAt(int row, const QString& field) const;

    // The row of the owner with that idx, or -1 when the list does not hold it. Throws
    // OperationError on an engine error.
    int LocateIdx(int idx);
    // The first listed row whose column holds value, or -1 (column: a column of the table).
    // Throws OperationError on an engine error.
    int LocateFirst(const QString& column, const QVariant& value);
    // The first listed row holding the card serial text in CardID.
    int LocateCardID(const QString& cardId);

    // Called with every statement before it runs; for tests and benchmarks.
    using StatementHook = std::function<void(const QString& sql, const SqlParams& params)>;
    void SetStatementHook(StatementHook hook) { m_hook = std::move(hook); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Page {
        QList<QVariant> values; // rows one after another, m_record.count() values each
        int rows = 0;
        quint64 used = 0;
    };

    void reset(bool keepQuery);
    void run(QSqlQuery& query, const QString& sql, const SqlParams& params) const;
    // Reads one page; layout, when given, receives the result's columns.
    Page readPage(int number, QSqlRecord* layout = nullptr) const;
    void takeLayout(const QSqlRecord& record);
    const Page* page(int row) const;
    QVariant value(int row, int field) const;
    QString orderBy(bool reversed) const;
    QString keyColumns() const;
    int rowOfKeys(const QString& sql, const SqlParams& params);
    int countBefore(const QList<QVariant>& keys);

    Tdm& m_data;
    QList<ListColumn> m_columns;
    ListQuery m_query;
    bool m_hasQuery = false;
    QList<SortKey> m_keys;
    bool m_open = false;
    int m_count = 0;
    int m_pageSize = DefaultPageSize;
    int m_pageLimit = DefaultPageLimit;
    QSqlRecord m_record;       // the result's columns
    QList<int> m_columnFields; // grid column -> result column
    int m_idxField = -1;
    mutable QHash<int, Page> m_pages;
    mutable quint64 m_useClock = 0;
    StatementHook m_hook;
};

// Makes row the current row of the views that share selection, and selects it whole (keeping
// the current column when there is one). False, and nothing changed, when row is outside the
// model.
bool MakeCurrentRow(QItemSelectionModel* selection, int row);
