#pragma once

#include "store/BuildTree.h"
#include "store/ListModel.h"

#include <QIcon>
#include <QTableView>
#include <QTreeWidget>
#include <functional>

struct BuildTreeNode;
class QMenu;

// The pieces the list screens share: the grid over a positioned list model, and the tree of
// buildings and units that the owner windows filter by. Neither writes to the database; the
// window does that and then reloads. Functions that read the database throw OperationError to
// their caller (the window's handler, run guarded); painting and the model's data never throw.
// User-interface thread only.

// Where a reload puts the current row when the idx it was given is not listed (or not above 0).
enum class FallbackRow {
    First,   // the first row
    SameRow, // the row at the place the current row had (the last row when the list got shorter)
};

// A read-only grid of whole rows over a ListModel (which the window owns and keeps alive).
// Check columns (selFlag) show a check box, never toggled by the grid itself: a double click on a
// row, or Space on the current row, hands the row's idx to the window's toggle. The grid's
// accessible name is set like any input's (CaptionFor, or setAccessibleName).
class ListGrid : public QTableView {
    Q_OBJECT
public:
    explicit ListGrid(ListModel& model, QWidget* parent = nullptr);

    ListModel& Model() const { return m_model; }

    // The window's toggle of a row's mark: called with the idx of the row double-clicked. It runs
    // guarded: an error it throws is shown through the dialog seam and goes no further.
    using ToggleHandler = std::function<void(int idx)>;
    void SetToggle(ToggleHandler toggle) { m_toggle = std::move(toggle); }

    // Opens the list with a (new) query and makes the row of idx current; when idx is not above 0
    // or not listed, the row fallback says (SameRow: the place the current row had before).
    // Throws OperationError and leaves the list empty when the query fails.
    void Open(ListQuery query, int idx = 0, FallbackRow fallback = FallbackRow::First);
    // The same query again after a change: reopens the list and makes the row of idx current;
    // when idx is not above 0 or no longer listed, the row fallback says. Before the first Open it
    // does nothing. Throws OperationError and leaves the list empty when the query fails.
    void Reload(int idx = 0, FallbackRow fallback = FallbackRow::First);

    // Empties the list (a search that could not run): no rows, the query forgotten, loaded(0).
    void Clear();

    // The idx of the current row; -1 when there is none (the list is empty).
    int CurrentIdx() const;
    // The current row; -1 when there is none.
    int CurrentRow() const;
    // Makes the row current (and shows it); false, and nothing changed, outside the list.
    bool MakeCurrent(int row);
    // The rows listed (0 when not open).
    int RecordCount() const { return m_model.RecordCount(); }

    // The pop-up menu shown on a right click or the menu key, empty at first: the window adds its
    // items. A right click makes the row under the pointer current before the menu shows.
    QMenu* PopupMenu() const { return m_popup; }

Q_SIGNALS:
    // After every Open and Reload, also one that failed (with 0): the count for the window's
    // count label.
    void loaded(int recordCount);
    // The operator chose a row: clicked it, or moved onto it with the keyboard. Not sent when a
    // reload or the window makes a row current.
    void rowChosen(int row);
    // The operator picked a row to take from: clicked it, or pressed Enter on the current row.
    // Moving with the keyboard picks nothing, so a window that fills its boxes from the row picked
    // keeps what was typed while the operator looks through the list.
    void rowPicked(int row);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void place(int idx, int fallbackRow);
    void toggleRow(int row);

    ListModel& m_model;
    ToggleHandler m_toggle;
    QMenu* m_popup;
};

// The tree of the community's buildings and units: root "小区栋号/单元", a node per building, under
// it a node per unit titled "unit - [nickname]"; filled from the data module in one call and shown
// fully expanded. A window takes the place of a unit node (one without children) from the node's
// parent (the building) and the text before the dash of its own (the unit).
class BuildTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit BuildTreeView(QWidget* parent = nullptr);

    // Fills the tree from FillBuildTree(*dm). When that throws, the tree shows the root alone and
    // the OperationError goes on to the caller.
    void Fill();
    // Shows a tree made already (the root of FillBuildTree and everything below it).
    void SetTree(const BuildTreeNode& root);

    // The root node (none only before the first fill).
    QTreeWidgetItem* Root() const { return topLevelItem(0); }
    bool IsRoot(const QTreeWidgetItem* node) const { return node && node == Root(); }
    // Whether the current node is the root.
    bool RootChosen() const { return IsRoot(currentItem()); }
    // Whether any building is listed (the root has children).
    bool HasBuildings() const { return Root() && Root()->childCount() > 0; }

    // A unit node: one without children below a parent (the root of an empty tree has no children,
    // but no building either, so it is not one).
    static bool IsUnit(const QTreeWidgetItem* node);
    // For a unit node: its building, the parent's text trimmed; and its unit, the text before the
    // first "-" of its own, trimmed. Empty for a node that has no parent.
    static QString BuildingText(const QTreeWidgetItem* unit);
    static QString UnitText(const QTreeWidgetItem* unit);
    // The image index a node was given (root 3, building 1, unit 2); -1 for no node.
    static int ImageIndex(const QTreeWidgetItem* node);
    // The picture of an image index; a null icon for an index that has none.
    static QIcon ImageIcon(int index);

    // The pop-up menu shown on a right click or the menu key, empty at first: the window adds its
    // items.
    QMenu* PopupMenu() const { return m_popup; }

Q_SIGNALS:
    // The operator chose a node: clicked it, or moved onto it with the keyboard. Not sent when a
    // fill or the window makes a node current.
    void nodeChosen(QTreeWidgetItem* node);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QMenu* m_popup;
};
