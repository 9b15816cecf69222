#pragma once

#include "Dialog.h"
#include "office/Lists.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The owner search dialog of the owner list: the operator ticks any of five conditions (building,
// unit, room, name, card number) and types their values; the owner list then lists the owners that
// meet all of them. A card serial typed as the card number, in either of its forms, finds the owner
// who holds that card as well. The opener creates the dialog for one modal showing, then reads Confirmed and
// Condition. No query runs here. User-interface thread only.

class TFormSearchUserInfo : public Dialog {
    Q_OBJECT
public:
    explicit TFormSearchUserInfo(QWidget* parent = nullptr);

    // Set by "查询"; cleared at the showing, by "取消", the close box and Escape.
    bool Confirmed = false;
    // What "查询" made of the ticked conditions (in the order of the boxes); empty at the showing,
    // and empty when no condition is ticked: every owner.
    const OwnerFilter& Condition() const { return m_condition; }

    QGroupBox* grpSearch;
    // Each condition is a check box without text, its caption label (whose buddy is the box the
    // value is typed in; a click on it ticks or clears the check box) and that box. Typing into
    // a box ticks its check box.
    QCheckBox* chkDongHao;
    QCheckBox* chkDanYuan;
    QCheckBox* chkFangHao;
    QCheckBox* chkUserName;
    QCheckBox* chkCardNo;
    QLabel* lblDongHao;
    QLabel* lblDanYuan;
    QLabel* lblFangHao;
    QLabel* lblUserName;
    QLabel* lblCardNo;
    QLineEdit* edtDongHao;
    QLineEdit* edtDanYuan;
    QLineEdit* edtFangHao;
    QLineEdit* edtUserName;
    QLineEdit* edtCardNo;
    QPushButton* btnSearch;
    QPushButton* btnCancel;

protected:
    void FormShow() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void btnSearchClick();
    void btnCancelClick();

    OwnerFilter m_condition;
};
