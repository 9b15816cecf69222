#pragma once

#include "CardDialog.h"
#include "OwnerFields.h"
#include "office/Lists.h"
#include "store/DM.h"
#include "store/SqlText.h"

#include <QByteArray>
#include <memory>

class QAction;
class QCheckBox;
class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidgetItem;
class BuildTreeView;
class ListGrid;
class ListModel;
class TerminalGrid;
class ValueLabel;

// Owner cards one after another: the operator picks an owner from the list (owners whose card is
// reported lost are left out), lays a card on the card issuer and writes it; the card's serial,
// expiry and terminals are then registered to that owner. The window also reads a card to show
// whose it is, binds a card written elsewhere, searches owners, and exports and imports the owner
// data file. Answers are polled every 200 ms while it is open; closing sends command 9. The
// result line shows a success for two seconds and a failure until the next card action.
// User-interface thread only.
class TFormWriteUserCard : public CardDialog {
    Q_OBJECT
public:
    explicit TFormWriteUserCard(QWidget* parent = nullptr);
    ~TFormWriteUserCard() override;

    // The owner list with a filter (conditions beginning " and ", with their values); moves to
    // the owner of idx when it is listed, else to the first row.
    void LoadList(const ListQuery& owners = IssuingList(), int idx = 0);

    QPushButton* btnImport;
    QPushButton* btnExport;
    QPushButton* btnTerminals;
    QPushButton* btnSearch;
    QPushButton* btnReturn;
    QPushButton* btnBuildInfo;
    BuildTreeView* tvBuild;
    ValueLabel* lblCount;
    QPushButton* btnAddOwner;
    ListGrid* grdOwners;
    ValueLabel* lblSector;
    ValueLabel* lblRegion;
    ValueLabel* lblCardNo;
    ValueLabel* lblCardID;
    ValueLabel* lblDongHao;
    ValueLabel* lblDanYuan;
    ValueLabel* lblFangHao;
    ValueLabel* lblUserName;
    QLabel* imgPhoto;
    QCheckBox* chkUseExpiry;
    QDateEdit* dtpExpiry;
    QCheckBox* chkProperty;
    TerminalGrid* grid;
    QPushButton* btnBind;
    QPushButton* btnRead;
    QPushButton* btnWrite;
    QLabel* lblResult;
    QWidget* pnlProgress;
    QLabel* lblProgress;
    QProgressBar* pbProgress;
    QTimer* tmrResult;

    // The result line's resting text.
    static const char* const ResultHint;

protected:
    void FormShow() override;
    void tmrAnswerTimer() override;

private:
    // Before a card action: the result line at rest, whatever the last answer left there.
    void ClearResult();
    void btnWriteClick();
    void btnReadClick();
    void btnBindClick();
    void btnSearchClick();
    void btnBuildInfoClick();
    void btnTerminalsClick();
    void btnAddOwnerClick();
    void btnExportClick();
    void btnImportClick();
    // The progress panel with its text and bar, repainted.
    void ShowProgress(const QString& text, int done, int total);
    // A node chosen in the tree, by click or by key.
    void tvBuildClick(QTreeWidgetItem* node);
    void gridRowChosen();
    void chkPropertyApply();
    // The owner of the grid's current row, loaded and shown.
    void ShowCurrentOwner();
    // The shown owner record on screen.
    void ShowOwner();
    void ShowNoOwner();
    // The card just written or bound becomes the owner idx's, with its expiry and terminals, and
    // the list shows that owner; nothing is registered for no owner (an empty list).
    void RegisterCard(int idx);

    std::unique_ptr<ListModel> m_model;
    // The owner shown.
    TuserInfoRec m_rec;
    // The owner's boxes the row is shown in.
    OwnerFields m_fields;
    QByteArray m_photoBytes;
    QByteArray m_terminalBytes;
    // The owner of the grid's current row when "写用户卡" or "绑定IC卡" sent the command in
    // flight; none for "读用户卡", whose answer only shows whose card it is.
    CardFor m_cardFor;
};
