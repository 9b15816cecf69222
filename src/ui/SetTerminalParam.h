#pragma once

#include "Dialog.h"

#include <QByteArray>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// Device cards: the sector and community identifier every card depends on, written to a device
// card together with the current hour, read back, or only saved.
class TFormSetTerminalParam : public TDialog {
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
    // Fills the boxes from the settings, clears CardDataReady and starts the timer.
    void FormShow() override;

private:
    void btnReadClick();
    void btnWriteClick();
    void btnSaveClick();
    void tmr1Timer();
    // The identifier bytes to store, or nothing after telling the operator that the box holds no
    // valid identifier.
    std::optional<QByteArray> regionToStore();

    bool m_closing = false;
};
