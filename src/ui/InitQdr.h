#pragma once

#include "CardDialog.h"
#include "link/LinkHooks.h"

#include <cstdint>

class QCheckBox;
class QLabel;
class QPushButton;
class QWidget;

// Formatting cards for the system, or returning them to blank, one card after another. While the
// window is open the answer handler counts the cards of a run in it; closing stops a run (command
// 9) and leaves PendingCommand at 9.
class TFormInit_QDR : public CardDialog, private InitRunCounters {
    Q_OBJECT
public:
    explicit TFormInit_QDR(QWidget* parent = nullptr);
    // A run still going when the window goes is stopped.
    ~TFormInit_QDR() override;

    // The opener's choice: restore to blank ("IC卡恢复白卡") or format ("格式化IC卡").
    void setMode(bool reset);

    // Updated by the answer handler for every card of a run.
    void cardAnswered(uint8_t result) override;

    bool running = false;
    int successCount = 0;
    int failureCount = 0;
    uint8_t lastResult = 0;
    // Cards formatted (result 0 while formatting) since the window opened; "清空" leaves it.
    int cardsFormatted = 0;
    // The run going on, for its entry in the operation log when it stops.
    uint8_t m_runCommand = 0;
    int m_runCards = 0;
    int m_runFailed = 0;

    QLabel* lblHeading;
    QLabel* pnlSector;
    QLabel* pnlSuccess;
    QLabel* pnlResult;
    QPushButton* btnClear;
    QPushButton* btnRun;
    QPushButton* btnReturn;
    QCheckBox* chkReset;
    QWidget* buttonRow;

    void done(int result) override;

protected:
    // The sector, "..." as result, the "重置" box by operator level.
    void FormShow() override;
    // Shows the success count and the last card's result.
    void tmrAnswerTimer() override;

private:
    void btnRunClick();
    void btnClearClick();
    // Whatever changed the box (click, Space, setChecked, an assistive tool): stop a run and
    // colour the button row.
    void chkResetToggled();
    void stopRun();
};
