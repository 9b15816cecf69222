#pragma once

#include "Dialog.h"

#include <memory>

class QAction;
class QGroupBox;
class QLineEdit;
class QPushButton;
class ListGrid;
class ListModel;
class ValueLabel;

// The community's door terminals (table TerminalInfo): number 0 to 255 as set on the terminal's
// board, name and remark; registered, renamed, marked and deleted here. The owner windows grant
// them in their terminal grids. Everything is kept in the database; the window lives for one
// modal showing. User-interface thread only.
class TFormTerminalRegster : public Dialog {
    Q_OBJECT
public:
    explicit TFormTerminalRegster(QWidget* parent = nullptr);
    ~TFormTerminalRegster() override;

    ValueLabel* lblCount;
    QPushButton* btnUndoSelect;
    ListGrid* grid;
    QAction* actSelectAll;
    QAction* actSelectNone;
    QAction* actDeleteRow;
    QGroupBox* grpInfo;
    QAction* actClearInput;
    QLineEdit* edtTerminalID;
    QLineEdit* edtTerminalName;
    QLineEdit* edtRemark;
    QPushButton* btnSearch;
    QPushButton* btnAdd;
    QPushButton* btnModify;
    QPushButton* btnDelete;
    QPushButton* btnReturn;
    QPushButton* btnAuto;

    // Lists every terminal in number order and makes the row of idx current (the first row when
    // idx is not above 0 or not listed).
    void Reload(int idx = 0);

protected:
    void FormShow() override;

private:
    // The number box is empty, or holds a whole number from 0 to 255. Otherwise the operator is
    // told the range, the focus goes back to the box, and false.
    bool CheckTerminalID();
    // There is room for one more terminal; otherwise the operator is told so, and false.
    bool CheckCapacity();

    void btnAddClick();
    void btnModifyClick();
    void btnDeleteClick();
    void btnSearchClick();
    void btnAutoClick();
    void actDeleteRowClick();
    void actSelectAllClick();
    void actSelectNoneClick();
    void actClearInputClick();
    void gridRowPicked(int row);
    void gridToggle(int idx);

    std::unique_ptr<ListModel> m_model;
};
