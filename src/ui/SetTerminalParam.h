#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// Device cards: the sector and community identifier every card depends on, written to a device
// card together with the current hour, read back, or only saved.
class TFormSetTerminalParam : public QDialog {
    Q_OBJECT
public:
    explicit TFormSetTerminalParam(QWidget* parent = nullptr);

    QLineEdit* edtSector;
    QLineEdit* edtRegion;
    QLabel* lblSyncTime;
    QPushButton* btnRead;
    QPushButton* btnWrite;
    QPushButton* btnSave;
    QPushButton* btnCancel;
    QTimer* tmr1;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void btnReadClick();
    void btnWriteClick();
    void btnSaveClick();
    void tmr1Timer();
    bool regionLengthOk();

    bool m_closing = false;
};
