#pragma once

#include "Dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

// Database maintenance: backup, restore, and emptying under a confirmation code.
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

    void NewConfirmCode();

protected:
    // Buttons and pages by operator level, and a new confirmation code.
    void FormShow() override;

private:
    void btn4Click();
    void btnRecoverClick();
    void btnInitClick();
    QPushButton* exitButton(QWidget* page);
};
