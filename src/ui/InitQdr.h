#pragma once

#include "Dialog.h"

#include <cstdint>

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;

// Formatting cards for the system, or returning them to blank, one card after another.
class TFormInit_QDR : public TDialog {
    Q_OBJECT
public:
    explicit TFormInit_QDR(QWidget* parent = nullptr);
    ~TFormInit_QDR() override;

    // The opener's choice: restore to blank ("IC卡恢复白卡") or format ("格式化IC卡").
    void setMode(bool reset);

    // Updated by the answer handler for every card of a run.
    void cardAnswered(uint8_t result);

    bool running = false;
    int successCount = 0;
    int failureCount = 0;
    uint8_t lastResult = 0;

    QLabel* lblHeading;
    QLabel* pnlSector;
    QLabel* pnlSuccess;
    QLabel* pnlResult;
    QPushButton* btnClear;
    QPushButton* btnRun;
    QPushButton* btnReturn;
    QCheckBox* chkReset;
    QWidget* buttonRow;
    QTimer* tmr1;

    void done(int result) override;

protected:
    // The sector, "..." as result, the "重置" box by operator level; answers of a run reach the
    // window from now on.
    void FormShow() override;

private:
    void btnRunClick();
    void btnClearClick();
    // Whatever changed the box (click, Space, setChecked, an assistive tool): stop a run and
    // colour the button row.
    void chkResetToggled();
    void tmr1Timer();
    void stopRun();

    class Counters;
    Counters* m_counters;
};
