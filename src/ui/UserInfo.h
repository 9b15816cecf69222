#pragma once

#include "CardDialog.h"
#include "UserInfoSearch.h"
#include "link/LinkHooks.h"

#include <memory>

class QAction;
class QLabel;
class QPushButton;
class QTreeWidgetItem;
class BuildTreeView;
class ListGrid;
class ListModel;
class ValueLabel;

// The owner list: every owner of the community, or those of the unit chosen in the building tree,
// or those the owner search found; from here owners are added, changed, looked at, deleted, marked
// and reported lost or found, each through the owner record editor or one statement, after which
// the list is read again. While it is open the answer handler reaches it (CurrentOwnerList) to show
// every owner again after a single-owner blacklist card was written. Everything is kept in the
// database; the filter lives as long as the window, which lives for one modal showing.
// User-interface thread only.
class TFormUserInfo : public CardDialog, private OwnerListHook {
    Q_OBJECT
public:
    explicit TFormUserInfo(QWidget* parent = nullptr);
    ~TFormUserInfo() override;

    BuildTreeView* tree;
    QAction* actBuildInfo;
    ListGrid* grid;
    QAction* actDetails;
    QAction* actModify;
    QAction* actDeleteRow;
    QAction* actLost;
    QAction* actFound;
    QAction* actSelectAll;
    QAction* actSelectNone;
    QAction* actWriteBlack;
    QAction* actWriteWhite;
    ValueLabel* lblCount;
    QLabel* lblHint;
    QPushButton* btnAdd;
    QPushButton* btnModify;
    QPushButton* btnDeleteSelected;
    QPushButton* btnSearch;
    QPushButton* btnReturn;

    // Lists the owners the filter lets through, in building and unit order, and makes the owner of
    // idx current (the first row when idx is not above 0 or not listed). Throws OperationError, the
    // list left empty, when the query fails or a searched number was not one.
    void Reload(int idx = 0);
    // Empties the filter and lists every owner, on the owner of idx. This is what the answer
    // handler does after a single-owner blacklist or whitelist card was written.
    void ReloadAll(int idx = 0);
    // The conditions the list shows: empty at each opening, then those of the unit chosen in the
    // tree or of the last search.
    const OwnerFilter& Filter() const { return m_filter; }

protected:
    // The filter emptied, the owner list made the one the answer handler reloads, the tree filled,
    // every mark cleared, every owner listed.
    void FormShow() override;

private:
    void reloadAt(int idx) override;

    void treeNodeChosen(QTreeWidgetItem* node);
    void actBuildInfoClick();
    void btnAddClick();
    void btnModifyClick();
    void btnDeleteSelectedClick();
    void btnSearchClick();
    void actDetailsClick();
    void actDeleteRowClick();
    void actLostClick();
    // The single-owner blacklist (1) or whitelist (0) card of the current owner.
    void WriteCard(uint8_t flag);
    void actFoundClick();
    void actSelectAllClick();
    void actSelectNoneClick();
    void gridToggle(int idx);

    std::unique_ptr<ListModel> m_model;
    OwnerFilter m_filter;
};
