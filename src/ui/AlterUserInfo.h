#pragma once

#include "CardDialog.h"
#include "OwnerFields.h"
#include "store/DM.h"

#include <QByteArray>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QTreeWidgetItem;
class QToolButton;
class BuildTreeView;
class TerminalGrid;
class ValueLabel;
struct CardHolder;

// The owner record editor: one owner created, changed or looked at, the owner's card written, any
// owner card read to see whose it is; or a card written for no owner at all. The opener creates
// the window, sets the mode (and the owner for modify and details), shows it modally and destroys
// it afterwards. The answers of the card issuer are polled every 200 ms from creation on; closing
// leaves a command in flight as it is. The hint line waits for each answer and then shows its
// outcome (a failure's text in red, kept until the next card action), or that the card issuer
// went away or did not answer. User-interface thread only.
class TFormAlter : public CardDialog {
    Q_OBJECT
public:
    enum class Mode {
        Add,       // "增加业主信息"
        Modify,    // "修改业主信息", for the owner of the given idx
        Details,   // "查询业主详细信息", for the owner of the given idx
        Ownerless, // "无业主发卡": a card that belongs to no owner
    };

    explicit TFormAlter(QWidget* parent = nullptr);
    ~TFormAlter() override;

    // Before showing: the mode, and the owner's idx in modify and details mode.
    void SetMode(Mode mode, int idx = 0);
    Mode WindowMode() const { return m_mode; }
    // The owner being edited: given by the opener, or the row an add replaced or inserted; 0 for
    // none (also after "清空输入").
    int CurrentIdx() const { return m_idx; }
    // The photo chosen with "导入" during this showing; empty until one is.
    const QString& ChosenPhoto() const { return m_photoPath; }

    QLabel* lblHint;
    QWidget* pnlQuick;
    QPushButton* btnBuildInfo;
    QPushButton* btnTerminals;
    QPushButton* btnClear;
    QPushButton* btnSave;
    BuildTreeView* tvBuild;
    QWidget* pnlTree;
    QGroupBox* grpOwner;
    QLineEdit* edtCardNo;
    QPushButton* btnCheckNo;
    QLineEdit* edtDongHao;
    QLineEdit* edtDanYuan;
    QLineEdit* edtFangHao;
    ValueLabel* lblSerial;
    QLineEdit* edtUserName;
    QComboBox* cbbSex;
    QLineEdit* edtPhone;
    QPlainTextEdit* mmoRemark;
    QLabel* imgPhoto;
    QPushButton* btnPhoto;
    QToolButton* btnNoPhoto;
    QGroupBox* grpTerminals;
    TerminalGrid* grid;
    QCheckBox* chkUseExpiry;
    QLabel* lblExpiry;
    QDateEdit* dtpExpiry;
    QCheckBox* chkProperty;
    ValueLabel* lblRegion;
    QPushButton* btnWrite;
    QPushButton* btnRead;
    QPushButton* btnCancel;
    QPushButton* btnSelectAll;
    QPushButton* btnSelectNone;
    QGroupBox* grpCard;
    ValueLabel* lblCardSerial;
    ValueLabel* lblCardRegion;
    QCheckBox* chkCardUseExpiry;
    ValueLabel* lblCardExpiry;
    QComboBox* cbbCardType;
    QTimer* tmrHint;
    // Runs while the hint waits for an answer ("等待写卡...", "等待读卡..."); when it runs out,
    // the hint says the card issuer did not answer.
    QTimer* tmrNoAnswer;

    // The hint line's idle text.
    static const char* const IdleHint;

protected:
    void FormShow() override;
    // Takes over the answer to a write or a read of an owner card.
    void tmrAnswerTimer() override;

private:
    void btnSaveClick();
    void btnWriteClick();
    void btnReadClick();
    void btnClearClick();
    void btnCheckNoClick();
    void btnPhotoClick();
    void btnNoPhotoClick();
    void btnBuildInfoClick();
    void btnTerminalsClick();
    void chkPropertyClick();
    // A node chosen in the tree, by click or by key.
    void tvBuildClick(QTreeWidgetItem* node);
    void tmrHintTimer();
    void tmrNoAnswerTimer();
    // The hint waits for the answer of the command just issued.
    void StartWaiting(const QString& text);
    void StopWaiting();
    // Before a card action: the hint idle again, whatever the last answer left there.
    void ResetHint();

    // Saves the owner from the boxes (and, with write, fills the card record and issues the
    // write). False when the database refused it (reported already); nothing is written then.
    bool SaveOwner(bool write);
    // The owner row's fields from the boxes, on top of what was loaded.
    void FillRecord();
    // Copies the chosen photo into the photo folder, asking before it replaces a file there.
    void CopyPhoto();
    // The card record of a write from the boxes and the grid.
    void FillUserCard();
    // Empties the owner's boxes, the expiry and the terminals ("清空输入" without forgetting the
    // owner).
    void clearInputs();
    void ShowOwner();
    // The boxes from the owner the card read belongs to.
    void ShowFoundOwner(const CardHolder& owner);
    void ShowPlaceholder();
    void SetHint(const QString& text, const QColor& color);

    Mode m_mode = Mode::Add;
    // The hint shows a waiting text for a command this window issued.
    bool m_waiting = false;
    int m_idx = 0;
    // The owner row the owner card write in flight was issued for (0: none, ownerless mode);
    // empty while this window has no write in flight. The answer registers the card to it, even
    // when the boxes have moved on to the next owner since.
    CardFor m_writeFor;
    // The owner's row as loaded and as the next save stores it from the boxes. A save never
    // writes its card serial: the card moves only by a write's answer.
    TuserInfoRec m_rec;
    // The owner's boxes the row is shown in and read from.
    OwnerFields m_fields;
    QByteArray m_photoBytes;
    QByteArray m_terminalBytes;
    QString m_photoPath;
};
