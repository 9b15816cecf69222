#pragma once

#include "Dialog.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The building and unit dialog of the owner export ("导出用户数据"): the operator types the
// building and unit whose owners are written, or leaves both empty for the whole community. One
// instance lives for the whole run (InputDongHao()) and keeps the texts last confirmed, which fill
// the boxes at the next showing. "确定" keeps the typed texts and sets Confirmed; "取消", the close
// box and Escape clear Confirmed and keep the texts, so a closed dialog never starts an export with
// the texts of an earlier one. The caller shows it
// modally and reads Confirmed and the two texts; the export choice (ChooseExport, in the store)
// judges them. User-interface thread only.
class TFormInputDongHao : public Dialog {
    Q_OBJECT
public:
    explicit TFormInputDongHao(QWidget* parent = nullptr);

    // The texts confirmed last, empty at first.
    QString BuildingText;
    QString UnitText;
    // Set by "确定", cleared by "取消" and by closing; false at first.
    bool Confirmed = false;

    // Closing without "确定" (取消, the close box, Escape) cancels.
    void reject() override;

    QLabel* lblHeading;
    QLineEdit* edtDongHao;
    QLineEdit* edtDanYuan;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    void FormShow() override;

private:
    void btnOkClick();
    void btnCancelClick();
};

// The dialog of the run: made hidden the first time it is asked for (the program asks at start-up)
// and kept until FreeInputDongHao (the program's end).
TFormInputDongHao* InputDongHao();
void FreeInputDongHao();
