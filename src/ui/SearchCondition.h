#pragma once

#include "Dialog.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The small search dialog two windows share: the operator picks one of two kinds of value (a
// terminal number or name, a card number or owner name) and types it. The caller labels the two
// choices, shows the dialog modally, then reads Confirmed, which choice is taken and its text.
// One instance lives for the whole run (SearchCondition()), so the choice and both texts stay
// from one use to the next; only Confirmed starts cleared at every showing. The dialog runs no
// query. User-interface thread only.
class TFormSearchCondition : public Dialog {
    Q_OBJECT
public:
    explicit TFormSearchCondition(QWidget* parent = nullptr);

    // The captions of the two choices (the boxes are announced by them too).
    void SetCaptions(const QString& first, const QString& second);
    // Which choice is taken, and its text as typed.
    bool FirstChosen() const;
    QString ChosenText() const;

    // Set by "确 定"; cleared at every showing, by "取 消", the close box and Escape.
    bool Confirmed = false;

    QLabel* lblHint;
    // Each choice is a radio button and its caption label, whose buddy is the choice's box; a
    // click on the caption takes the choice too.
    QLabel* lbl1;
    QLabel* lbl2;
    QRadioButton* rb1;
    QRadioButton* rb2;
    QLineEdit* edt1;
    QLineEdit* edt2;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    void FormShow() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void btnOkClick();
    void btnCancelClick();
};

// The dialog of the run: made hidden the first time it is asked for (the program asks at
// start-up) and kept until FreeSearchCondition (the program's end).
TFormSearchCondition* SearchCondition();
void FreeSearchCondition();
