#include "ListScreen.h"

#include "Actions.h"

#include "cards/Digits.h"
#include "store/BuildTree.h"
#include "store/DM.h"
#include "store/OperationError.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {

// Draws a cell that carries a check state as a check box in the middle of the cell, and every
// other cell as usual. The box is never toggled here: the model offers no checkable items.
class CheckCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QVariant check = index.data(Qt::CheckStateRole);
        if (!check.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QWidget* widget = cell.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        // The cell's background and selection without its own indicator.
        cell.features &= ~QStyleOptionViewItem::HasCheckIndicator;
        cell.text.clear();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

        QStyleOptionViewItem box = option;
        box.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect indicator = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &box, widget);
        box.rect = QStyle::alignedRect(option.direction, Qt::AlignCenter, indicator.size(), option.rect);
        box.state &= ~(QStyle::State_On | QStyle::State_Off | QStyle::State_NoChange);
        box.state |= check.toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
        style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
    }
};

// Shows a view's pop-up menu: at the pointer for a right click, below the current cell (or at the
// top of the view) for the menu key. An empty menu is not shown.
void popUp(QAbstractItemView* view, QMenu* menu, QContextMenuEvent* event)
{
    if (menu->isEmpty()) {
        event->ignore();
        return;
    }
    QPoint at = event->globalPos();
    if (event->reason() != QContextMenuEvent::Mouse) {
        const QRect cell = view->visualRect(view->currentIndex());
        const QPoint corner = cell.isValid() ? cell.bottomLeft() : QPoint(0, 0);
        at = view->viewport()->mapToGlobal(corner);
    }
    menu->popup(at);
    event->accept();
}

// The three pictures of the building tree: a community of two houses (root), a
// block of flats (building), a door (unit).
QPixmap drawImage(int index)
{
    const qreal scale = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(16, 16) * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x33, 0x33, 0x33), 1));
    auto house = [&p](const QRectF& body, const QColor& wall, const QColor& roof) {
        QPainterPath top;
        top.moveTo(body.left() - 1, body.top());
        top.lineTo(body.center().x(), body.top() - body.height() * 0.6);
        top.lineTo(body.right() + 1, body.top());
        top.closeSubpath();
        p.setBrush(roof);
        p.drawPath(top);
        p.setBrush(wall);
        p.drawRect(body);
    };
    switch (index) {
    case BuildTreeRootImage:
        house(QRectF(1.5, 8.5, 6, 6), QColor(0xf2, 0xe3, 0xb3), QColor(0x3c, 0x9a, 0x4c));
        house(QRectF(8.5, 7.5, 6, 7), QColor(0xf2, 0xe3, 0xb3), QColor(0x3c, 0x9a, 0x4c));
        break;
    case BuildTreeBuildingImage:
        p.setBrush(QColor(0x5b, 0x8f, 0xd6));
        p.drawRect(QRectF(3.5, 1.5, 9, 13));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xf5, 0xf5, 0xdc));
        for (int row = 0; row < 4; ++row) {
            for (int col = 0; col < 2; ++col)
                p.drawRect(QRectF(5 + col * 4, 3 + row * 3, 2, 2));
        }
        break;
    case BuildTreeUnitImage:
        p.setBrush(QColor(0xd9, 0x8c, 0x3f));
        p.drawRect(QRectF(4.5, 1.5, 7, 13));
        p.setBrush(QColor(0x33, 0x33, 0x33));
        p.drawEllipse(QPointF(9.5, 8.5), 0.9, 0.9);
        break;
    default:
        return QPixmap();
    }
    return pixmap;
}

using Icons = QHash<int, QIcon>;

QTreeWidgetItem* makeItems(const BuildTreeNode& node, const Icons& icons)
{
    auto* item = new QTreeWidgetItem(QStringList{node.Text});
    item->setData(0, Qt::UserRole, node.ImageIndex);
    item->setIcon(0, icons.value(node.ImageIndex));
    QList<QTreeWidgetItem*> children;
    children.reserve(qsizetype(node.Children.size()));
    for (const BuildTreeNode& child : node.Children)
        children << makeItems(child, icons);
    item->addChildren(children);
    return item;
}

} // namespace

// --- ListGrid -------------------------------------------------------------------------------

ListGrid::ListGrid(ListModel& model, QWidget* parent)
    : QTableView(parent), m_model(model), m_popup(new QMenu(this))
{
    setModel(&m_model);
    setItemDelegate(new CheckCellDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setWordWrap(false);
    setAlternatingRowColors(true);
    // Every row is as high as the font: no row is measured, so a long list costs nothing here.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    verticalHeader()->hide();
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    OnSignal(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) {
            Q_EMIT rowChosen(index.row());
            Q_EMIT rowPicked(index.row());
        }
    });
    OnSignal(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            toggleRow(index.row());
    });
}

void ListGrid::Open(ListQuery query, int idx, FallbackRow fallback)
{
    const int row = CurrentRow();
    try {
        m_model.Open(std::move(query));
    } catch (...) {
        Q_EMIT loaded(0);
        throw;
    }
    place(idx, fallback == FallbackRow::SameRow ? std::max(row, 0) : 0);
}

void ListGrid::Reload(int idx, FallbackRow fallback)
{
    const int row = CurrentRow();
    try {
        m_model.Reopen();
    } catch (...) {
        Q_EMIT loaded(0);
        throw;
    }
    place(idx, fallback == FallbackRow::SameRow ? std::max(row, 0) : 0);
}

void ListGrid::place(int idx, int fallbackRow)
{
    int row = -1;
    try {
        if (idx > 0)
            row = m_model.LocateIdx(idx);
    } catch (...) {
        // The list is open but its rows cannot be counted: show it from the top and say why.
        MakeCurrent(0);
        Q_EMIT loaded(RecordCount());
        throw;
    }
    if (row < 0)
        row = std::min(fallbackRow, RecordCount() - 1);
    MakeCurrent(row);
    Q_EMIT loaded(RecordCount());
}

void ListGrid::Clear()
{
    m_model.Close();
    Q_EMIT loaded(0);
}

int ListGrid::CurrentIdx() const
{
    const int row = CurrentRow();
    return row < 0 ? -1 : m_model.IdxAt(row);
}

int ListGrid::CurrentRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

bool ListGrid::MakeCurrent(int row)
{
    if (!MakeCurrentRow(selectionModel(), row))
        return false;
    scrollTo(currentIndex(), QAbstractItemView::EnsureVisible);
    return true;
}

void ListGrid::toggleRow(int row)
{
    if (!m_toggle)
        return;
    const int idx = m_model.IdxAt(row);
    if (idx < 0) // not read (shown empty)
        return;
    Guarded([&] { m_toggle(idx); });
}

void ListGrid::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QModelIndex under = indexAt(viewport()->mapFromGlobal(event->globalPos()));
        if (under.isValid() && under.row() != CurrentRow())
            MakeCurrent(under.row());
    }
    popUp(this, m_popup, event);
}

void ListGrid::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        if (CurrentRow() >= 0 && !event->isAutoRepeat())
            toggleRow(CurrentRow());
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (CurrentRow() >= 0 && !event->isAutoRepeat())
            Q_EMIT rowPicked(CurrentRow());
        event->accept();
        return;
    }
    const int before = CurrentRow();
    QTableView::keyPressEvent(event);
    const int after = CurrentRow();
    if (after >= 0 && after != before)
        Q_EMIT rowChosen(after);
}

// --- BuildTreeView ------------------------------------------------------------------------------

BuildTreeView::BuildTreeView(QWidget* parent) : QTreeWidget(parent), m_popup(new QMenu(this))
{
    setColumnCount(1);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    OnSignal(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (QTreeWidgetItem* node = itemFromIndex(index))
            Q_EMIT nodeChosen(node);
    });
}

void BuildTreeView::Fill()
{
    try {
        SetTree(FillBuildTree(*dm));
    } catch (...) {
        SetTree(BuildTreeNode{QString::fromUtf8(BuildTreeRootText), BuildTreeRootImage, {}});
        throw;
    }
}

void BuildTreeView::SetTree(const BuildTreeNode& root)
{
    // The items are made off the tree and handed over as one branch, so the view sees one insert.
    Icons icons;
    for (int index : {BuildTreeRootImage, BuildTreeBuildingImage, BuildTreeUnitImage})
        icons.insert(index, ImageIcon(index));
    QTreeWidgetItem* top = makeItems(root, icons);
    setUpdatesEnabled(false);
    clear();
    addTopLevelItem(top);
    expandAll();
    setUpdatesEnabled(true);
}

bool BuildTreeView::IsUnit(const QTreeWidgetItem* node)
{
    return node && node->childCount() == 0 && node->parent();
}

QString BuildTreeView::BuildingText(const QTreeWidgetItem* unit)
{
    return unit && unit->parent() ? unit->parent()->text(0).trimmed() : QString();
}

QString BuildTreeView::UnitText(const QTreeWidgetItem* unit)
{
    return unit && unit->parent() ? TextBeforeDash(unit->text(0)) : QString();
}

int BuildTreeView::ImageIndex(const QTreeWidgetItem* node)
{
    return node ? node->data(0, Qt::UserRole).toInt() : -1;
}

QIcon BuildTreeView::ImageIcon(int index)
{
    const QPixmap picture = drawImage(index);
    return picture.isNull() ? QIcon() : QIcon(picture);
}

void BuildTreeView::contextMenuEvent(QContextMenuEvent* event)
{
    popUp(this, m_popup, event);
}

void BuildTreeView::keyPressEvent(QKeyEvent* event)
{
    const QTreeWidgetItem* before = currentItem();
    QTreeWidget::keyPressEvent(event);
    QTreeWidgetItem* after = currentItem();
    if (after && after != before)
        Q_EMIT nodeChosen(after);
}
