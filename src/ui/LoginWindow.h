#pragma once

#include "Dialog.h"

#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The login window: the operator picks a role; the two higher roles need their password, and
// 物业管家 one when the office set it (office/Passwords.h).
class TFormLogin : public Dialog {
    Q_OBJECT
public:
    explicit TFormLogin(QWidget* parent = nullptr);

    // Set by the opener before showing: 0 branded title, 1 plain title, other values keep the
    // title the window was designed with.
    uint8_t PlainTitle = 0xFF;
    // Set by the window.
    uint8_t Level = 0;
    bool LoggedIn = false;
    // The action a refused password is recorded under in the operation log (the opener's: the
    // first login or a switch of operator).
    QString LogAs;

    QComboBox* cbb1;
    QLineEdit* EditPassword;
    QPushButton* ButtonLogon;
    QPushButton* ButtonCancel;
    QLabel* lblTitle;
    QLabel* lblVersion;

protected:
    // The version and the title by PlainTitle.
    void FormShow() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ButtonLogonClick();
    void ButtonCancelClick();
    void recordRefusal(const QString& role, const QString& refusal);
};
