#include "ListModel.h"

#include "CardOwners.h"
#include "DM.h"
#include "DataSet.h"
#include "OperationError.h"
#include "engine/Engine.h"

#include <QDebug>
#include <QItemSelectionModel>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace {

bool isIdx(const QString& column)
{
    return column.compare(QLatin1String("idx"), Qt::CaseInsensitive) == 0;
}

// A value read from a row, fit to be bound again: an empty text or blob must not turn into Null.
QVariant rebindable(const QVariant& v)
{
    if (v.typeId() == QMetaType::QString)
        return TextValue(v.toString());
    if (v.typeId() == QMetaType::QByteArray && v.toByteArray().isNull())
        return QVariant(QByteArray(""));
    return v;
}

// Names of the values the model binds itself, one for each place in the statement.
class Binder {
public:
    explicit Binder(SqlParams& params) : m_params(params) {}
    QString operator()(const QVariant& value)
    {
        const QString name = QStringLiteral("list_v%1").arg(m_next++);
        m_params.append({name, value});
        return QLatin1Char(':') + name;
    }

private:
    SqlParams& m_params;
    int m_next = 0;
};

} // namespace

ListModel::ListModel(Tdm& data, QList<ListColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_data(data), m_columns(std::move(columns))
{
}

void ListModel::SetPageSize(int rows)
{
    m_pageSize = std::max(1, rows);
    m_pages.clear();
}

void ListModel::SetPageLimit(int pages)
{
    m_pageLimit = std::max(1, pages);
    m_pages.clear();
}

void ListModel::reset(bool keepQuery)
{
    if (!keepQuery) {
        m_query = ListQuery();
        m_hasQuery = false;
        m_keys.clear();
    }
    m_open = false;
    m_count = 0;
    m_record = QSqlRecord();
    m_columnFields.clear();
    m_idxField = -1;
    m_pages.clear();
}

void ListModel::Open(ListQuery query)
{
    beginResetModel();
    reset(false);
    m_query = std::move(query);
    m_hasQuery = true;
    m_keys = m_query.order;
    if (m_keys.isEmpty() || !isIdx(m_keys.last().column))
        m_keys.append({QStringLiteral("idx"), false});
    try {
        {
            QSqlQuery q(m_data.database());
            SetForwardOnlyOnFile(q);
            if (m_query.countStatement.isEmpty())
                run(q, CountStatement(QStringLiteral("select %1 from %2").arg(m_query.columns, m_query.from)),
                    m_query.params);
            else
                run(q, m_query.countStatement, m_query.countParams);
            if (!q.next())
                throw OperationError(q.lastError().text());
            m_count = q.value(0).toInt();
        }
        QSqlRecord layout;
        Page first = readPage(0, &layout);
        takeLayout(layout);
        first.used = ++m_useClock;
        m_pages.insert(0, std::move(first));
        m_open = true;
    } catch (...) {
        reset(true);
        endResetModel();
        throw;
    }
    endResetModel();
}

void ListModel::Reopen()
{
    if (m_hasQuery)
        Open(m_query);
}

void ListModel::Close()
{
    beginResetModel();
    reset(false);
    endResetModel();
}

void ListModel::run(QSqlQuery& query, const QString& sql, const SqlParams& params) const
{
    if (m_hook)
        m_hook(sql, params);
    if (!ExecBound(query, sql, params))
        throw OperationError(query.lastError().text());
}

QString ListModel::orderBy(bool reversed) const
{
    QStringList keys;
    for (const SortKey& k : m_keys)
        keys << (k.descending != reversed ? k.column + QStringLiteral(" desc") : k.column);
    return keys.join(QStringLiteral(", "));
}

QString ListModel::keyColumns() const
{
    QStringList columns;
    for (const SortKey& k : m_keys)
        columns << k.column;
    return columns.join(QStringLiteral(", "));
}

ListModel::Page ListModel::readPage(int number, QSqlRecord* layout) const
{
    const int first = number * m_pageSize;
    const int rows = std::clamp(m_count - first, 0, m_pageSize);
    // The engine steps over every row before the offset, so a page nearer the end is read in the
    // reverse order (every key turned round, which is the exact reverse since idx ends the order).
    const int fromEnd = m_count - first - rows;
    const bool reversed = fromEnd < first;
    SqlParams params = m_query.params;
    params.append({QStringLiteral("list_limit"), rows});
    params.append({QStringLiteral("list_offset"), reversed ? fromEnd : first});
    const QString sql =
        EngineFor(m_data.Target()).PageQuery(m_query.columns, m_query.from, orderBy(reversed));

    QSqlQuery q(m_data.database());
    SetForwardOnlyOnFile(q);
    run(q, sql, params);
    if (layout)
        *layout = q.record();
    const int width = q.record().count();
    if (!m_record.isEmpty() && width != m_record.count())
        throw OperationError(QStringLiteral("列表的列变了：%1").arg(sql));
    Page page;
    page.values.reserve(qsizetype(rows) * width);
    while (q.next()) {
        for (int i = 0; i < width; ++i)
            page.values.append(q.value(i));
        ++page.rows;
    }
    if (q.lastError().isValid())
        throw OperationError(q.lastError().text());
    if (reversed) {
        QList<QVariant> forward;
        forward.reserve(page.values.size());
        for (int r = page.rows - 1; r >= 0; --r)
            forward.append(page.values.mid(qsizetype(r) * width, width));
        page.values = std::move(forward);
    }
    return page;
}

void ListModel::takeLayout(const QSqlRecord& record)
{
    m_idxField = record.indexOf(QStringLiteral("idx"));
    if (m_idxField < 0)
        throw OperationError(QStringLiteral("Field 'idx' not found"));
    QList<int> fields;
    for (const ListColumn& c : m_columns) {
        const int f = record.indexOf(c.field);
        if (f < 0)
            throw OperationError(QStringLiteral("Field '%1' not found").arg(c.field));
        fields << f;
    }
    m_columnFields = fields;
    m_record = record;
}

const ListModel::Page* ListModel::page(int row) const
{
    const int number = row / m_pageSize;
    auto it = m_pages.find(number);
    if (it == m_pages.end()) {
        Page fresh;
        try {
            fresh = readPage(number);
        } catch (const std::exception& e) {
            // Shown empty until the list is reopened; one line in the log for the whole page.
            qWarning().noquote() << QStringLiteral("list rows from %1 not read:").arg(number * m_pageSize)
                                 << QString::fromUtf8(e.what());
        }
        while (m_pages.size() >= m_pageLimit) {
            auto oldest = std::min_element(m_pages.begin(), m_pages.end(),
                                           [](const Page& a, const Page& b) { return a.used < b.used; });
            m_pages.erase(oldest);
        }
        it = m_pages.insert(number, std::move(fresh));
    }
    it->used = ++m_useClock;
    return &*it;
}

QVariant ListModel::value(int row, int field) const
{
    if (!m_open || row < 0 || row >= m_count || field < 0)
        return QVariant();
    const Page* p = page(row);
    const int r = row % m_pageSize;
    if (r >= p->rows)
        return QVariant();
    return p->values.at(qsizetype(r) * m_record.count() + field);
}

int ListModel::IdxAt(int row) const
{
    const QVariant v = value(row, m_idxField);
    return v.isValid() && !v.isNull() ? v.toInt() : -1;
}

QVariant ListModel::FieldAt(int row, const QString& field) const
{
    return value(row, m_record.indexOf(field));
}

int ListModel::LocateIdx(int idx)
{
    if (!m_open)
        return -1;
    SqlParams params = m_query.params;
    params.append({QStringLiteral("list_idx"), idx});
    return rowOfKeys(QStringLiteral("select %1 from (select * from %2) as listed where idx = :list_idx")
                         .arg(keyColumns(), m_query.from),
                     params);
}

int ListModel::LocateFirst(const QString& column, const QVariant& value)
{
    if (!m_open)
        return -1;
    SqlParams params = m_query.params;
    params.append({QStringLiteral("list_value"), rebindable(value)});
    return rowOfKeys(
        QStringLiteral(
            "select %1 from (select * from %2) as listed where %3 = :list_value order by %4 limit 1")
            .arg(keyColumns(), m_query.from, column, orderBy(false)),
        params);
}

int ListModel::LocateCardID(const QString& cardId)
{
    return LocateFirst(QStringLiteral("CardID"), TextValue(cardId));
}

int ListModel::rowOfKeys(const QString& sql, const SqlParams& params)
{
    QList<QVariant> keys;
    {
        QSqlQuery q(m_data.database());
        SetForwardOnlyOnFile(q);
        run(q, sql, params);
        if (!q.next()) {
            if (q.lastError().isValid())
                throw OperationError(q.lastError().text());
            return -1;
        }
        for (int i = 0; i < m_keys.size(); ++i)
            keys << (q.isNull(i) ? QVariant() : rebindable(q.value(i)));
    }
    const int row = countBefore(keys);
    return row < m_count ? row : -1;
}

// The rows that come before the row with these key values: those whose first key comes before
// its value, or whose first key is the same and whose second comes before, and so on to idx.
// Null comes first ascending on SQLite and descending on PostgreSQL, and last otherwise. A Null
// key value is matched with "is null", any other with "=". No row is in two branches, so the rows of each
// branch are counted on their own and added up: each count is one range of the index of the order, where the
// same branches joined by "or" make the engine collect and sort the keys of every row counted. The list is
// written once, as a common table that is not materialised, so that its conditions (and their values) join
// every branch and the indexes still serve them.
int ListModel::countBefore(const QList<QVariant>& keys)
{
    SqlParams params = m_query.params;
    Binder bind(params);
    QStringList branches;
    for (int i = 0; i < m_keys.size(); ++i) {
        const QString& column = m_keys[i].column;
        const QVariant& v = keys[i];
        // Ways for key i to come before v; every one gets its own branch.
        enum class Before { IsNull, Less, Greater, NotNull };
        QList<Before> ways;
        // SQLite sorts Null below every value, PostgreSQL above.
        const bool nullsFirst = m_keys[i].descending != EngineFor(m_data.Target()).NullsFirst();
        const Before beyond = m_keys[i].descending ? Before::Greater : Before::Less;
        if (nullsFirst) {
            if (!v.isNull()) {
                if (!isIdx(column)) // idx is never Null
                    ways << Before::IsNull;
                ways << beyond;
            }
        } else {
            ways << (v.isNull() ? Before::NotNull : beyond);
        }
        for (Before way : ways) {
            QStringList terms;
            for (int j = 0; j < i; ++j) {
                terms << (keys[j].isNull() ? m_keys[j].column + QStringLiteral(" is null")
                                           : m_keys[j].column + QStringLiteral(" = ") + bind(keys[j]));
            }
            switch (way) {
            case Before::IsNull:
                terms << column + QStringLiteral(" is null");
                break;
            case Before::Less:
                terms << column + QStringLiteral(" < ") + bind(v);
                break;
            case Before::Greater:
                terms << column + QStringLiteral(" > ") + bind(v);
                break;
            case Before::NotNull:
                terms << column + QStringLiteral(" is not null");
                break;
            }
            branches << terms.join(QStringLiteral(" and "));
        }
    }
    if (branches.isEmpty())
        return 0;
    QSqlQuery q(m_data.database());
    SetForwardOnlyOnFile(q);
    QStringList counts;
    for (const QString& branch : branches)
        counts << QStringLiteral("(select count(*) from list_rows where %1)").arg(branch);
    run(q,
        QStringLiteral("with list_rows as not materialized (select * from %1) select %2")
            .arg(m_query.from, counts.join(QStringLiteral(" + "))),
        params);
    if (!q.next())
        throw OperationError(q.lastError().text());
    return q.value(0).toInt();
}

int ListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int ListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= m_columns.size() || index.column() >= m_columnFields.size())
        return QVariant();
    const ListColumnKind kind = m_columns[index.column()].kind;
    if (role == Qt::CheckStateRole) {
        if (kind != ListColumnKind::Check)
            return QVariant();
        const QVariant v = value(index.row(), m_columnFields[index.column()]);
        if (!v.isValid())
            return QVariant();
        return int(StoredBool(v) ? Qt::Checked : Qt::Unchecked);
    }
    if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) {
        if (kind != ListColumnKind::CardSerial)
            return QVariant();
        const QVariant v = value(index.row(), m_columnFields[index.column()]);
        const QString hint = v.isNull() ? QString() : UnsignedSerialHint(v.toString());
        return hint.isEmpty() ? QVariant() : QVariant(hint);
    }
    if (role != Qt::DisplayRole || kind == ListColumnKind::Check)
        return QVariant();
    const QVariant v = value(index.row(), m_columnFields[index.column()]);
    if (!v.isValid())
        return QVariant();
    if (v.isNull())
        return QString(QLatin1String(""));
    if (kind == ListColumnKind::Date) {
        try {
            return DateText(StoredDate(v));
        } catch (const OperationError&) {
            // Not a date: shown as it is stored.
        }
    }
    return v.toString();
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_columns.size())
        return m_columns[section].caption;
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool MakeCurrentRow(QItemSelectionModel* selection, int row)
{
    if (!selection || !selection->model())
        return false;
    const QAbstractItemModel* model = selection->model();
    if (row < 0 || row >= model->rowCount())
        return false;
    const QModelIndex current = selection->currentIndex();
    const int column = current.isValid() ? current.column() : 0;
    selection->setCurrentIndex(model->index(row, column),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return true;
}
