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

// The community's buildings and units with their nicknames (table BuildInfo): added, replaced,
// marked and deleted here; the owner windows' building trees are made from them. Everything is
// kept in the database; the window lives for one modal showing. User-interface thread only.
class TFormBuildInfo : public Dialog {
    Q_OBJECT
public:
    explicit TFormBuildInfo(QWidget* parent = nullptr);
    ~TFormBuildInfo() override;

    QGroupBox* grpInput;
    QLineEdit* edtDongHao;
    QLineEdit* edtDanYuan;
    QLineEdit* edtDanYuanName;
    QPushButton* btnDelete;
    QPushButton* btnReturn;
    QPushButton* btnAdd;
    QPushButton* btnClear;
    QPushButton* btnSearch;
    ValueLabel* lblCount;
    ListGrid* grid;
    QAction* actSelectAll;
    QAction* actSelectNone;
    QAction* actDeleteRow;

    // Lists every unit, in building and unit order, and makes the row of idx current (the first
    // row when idx is not above 0 or not listed).
    void Reload(int idx = 0);

protected:
    // The boxes emptied, every mark cleared, the list from the top.
    void FormShow() override;

private:
    void btnAddClick();
    void btnDeleteClick();
    void btnClearClick();
    void btnSearchClick();
    void actDeleteRowClick();
    void actSelectAllClick();
    void actSelectNoneClick();
    void gridRowPicked(int row);
    void gridToggle(int idx);

    std::unique_ptr<ListModel> m_model;
};
