#pragma once

#include "CardDialog.h"

#include <QByteArray>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

// Device cards: the sector and community identifier every card depends on, written to a device
// card together with the current hour, read back, or only saved. Closing sends command 9.
class TFormSetTerminalParam : public CardDialog {
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

protected:
    // Fills the boxes from the settings and clears CardDataReady.
    void FormShow() override;
    // Takes over a device card that was read.
    void tmrAnswerTimer() override;

private:
    void btnReadClick();
    void btnWriteClick();
    void btnSaveClick();
    // The identifier bytes to store, or nothing after telling the operator that the box holds no
    // valid identifier.
    std::optional<QByteArray> regionToStore();
};
