#pragma once

#include "Dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

// Database maintenance: backup, restore, and emptying under a confirmation code; for the
// administrator, the operator levels' passwords.
class TfrmFixDataBase : public Dialog {
    Q_OBJECT
public:
    explicit TfrmFixDataBase(QWidget* parent = nullptr);

    QTabWidget* pages;
    QWidget* pageBackup;
    QWidget* pageInit;
    QWidget* pageBrand;
    QPushButton* btn4;
    QPushButton* btnRecover;
    QLabel* lblFolder;   // the program folder in use
    QLabel* lblDatabase; // the database file in use
    QPushButton* btnInit;
    QLabel* pnlConfirm;
    QLineEdit* edtConfirm;
    QComboBox* cbbBrand;
    // The passwords (shown at the administrator's level only).
    QWidget* pagePasswords;
    QComboBox* cbbPasswordLevel; // 管理员, 维护员, 物业管家
    QLabel* lblPasswordState;    // the written password, none, or the office's own and when it was set
    QLineEdit* edtNewPassword;
    QLineEdit* edtRepeatPassword;
    QPushButton* btnChangePassword;
    QPushButton* btnRemovePassword; // 物业管家 only: no password again

    void NewConfirmCode();

protected:
    // Buttons and pages by operator level, and a new confirmation code.
    void FormShow() override;

private:
    void btn4Click();
    void btnRecoverClick();
    void btnInitClick();
    void btnChangePasswordClick();
    void btnRemovePasswordClick();
    QWidget* makePasswordPage();
    int passwordLevel() const;
    void showPasswordState();
    void recordPasswordChange(const QString& details, bool done);
    QPushButton* exitButton(QWidget* page);
};
