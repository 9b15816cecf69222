#pragma once

#include "cards/Digits.h"

#include <QString>
#include <QTableView>
#include <array>
#include <cstdint>

// The grid in which the owner card windows choose the door terminals an owner card opens: one
// selector per registered terminal, four to a row in TerminalID order, each showing the
// terminal's number and name and a permission box; and the conversions between the ticked
// selectors and the 32-byte terminal bitmap of the card and the owner row. Each host window keeps
// its own grid. User-interface thread only.

// One terminal selector: what its number label and name label show and whether its permission box
// is ticked. A selector is a value the grid paints, not a widget of its own.
struct TfrmTerminalSel {
    QString NumberText = QStringLiteral("1");
    QString NameText = QStringLiteral("...");
    bool Granted = false;
};

constexpr int TerminalSelCount = TerminalCount;  // selectors a grid holds
constexpr int TerminalSelColumns = 4;            // selectors in a row
constexpr int TerminalSelMinimumWidth = 180;     // narrowest a selector is drawn
constexpr int TerminalSelHeight = 70;            // height of a row of selectors
extern const char* const TerminalSelDefaultName; // the grid's accessible name until the host sets one

class TerminalSelModel;

// The selectors in one view: selector j (from 0) at row j div 4, column j mod 4. Cells past the
// last selector in use are empty: not enabled, never current. Tab reaches and leaves the grid,
// the arrow keys, Home and End move between selectors, Space toggles the current one; a click on
// the permission line ("权限：" and the box) toggles it, and so does a double click anywhere on
// a selector. Screen readers get each selector as a checkable cell named by its number
// and name. Painting and the model's data never throw.
class TerminalGrid : public QTableView {
    Q_OBJECT
public:
    explicit TerminalGrid(QWidget* parent = nullptr);

    // Puts all 256 selectors back to clear, then gives one to each row of
    // "select * from TerminalInfo order by TerminalID", in that order: number label TerminalID as
    // decimal text, name label TerminalName. The first selector becomes current. Throws
    // OperationError, and leaves the grid empty, when the table cannot be read.
    void BuildGrid();

    // The selectors in use (the terminals listed by the last BuildGrid).
    int Count() const;
    // Selector j in use (0 to Count() - 1); for any other j an empty text, false, or nothing done.
    QString NumberText(int j) const;
    QString NameText(int j) const;
    bool IsGranted(int j) const;
    void SetGranted(int j, bool granted);

    // The bitmap from the selectors: 32 zero bytes, then for each selector in use, in order, the
    // bit of the terminal its number label names set when it is ticked and cleared when not. A
    // label that names no terminal (see TerminalFromText) is passed over.
    TerminalBitmap Bitmap() const;
    // The selectors from a bitmap of 32 bytes: each selector in use is ticked exactly when the bit
    // of its terminal is set. Bits of terminals not shown leave no trace.
    void SetBitmap(const uint8_t* bitmap);
    // Tick, or clear, every selector in use.
    void TickAll();
    void ClearAll();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The operator ticked or cleared a selector (mouse, keyboard or an assistive tool); not sent
    // for changes made through the functions above.
    void grantsChanged();

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The selector a cell shows; -1 for an empty or invalid cell.
    int selectorAt(const QModelIndex& index) const;
    QModelIndex cellOf(int j) const;

    TerminalSelModel* m_model;
};
