#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class SimCardIssuer;

// The simulator's control window: the cards with serial, reader slot, sector states and content;
// new blank card; put on and take off the reader; the fault switches; unplug and plug.
class SimWindow final : public QWidget {
    Q_OBJECT
public:
    explicit SimWindow(SimCardIssuer* issuer, QWidget* parent = nullptr);

private:
    void refreshCards();
    void refreshStatus();
    uint32_t selectedSerial(bool* ok) const;

    SimCardIssuer* m_issuer;
    QTableWidget* m_table;
    QLabel* m_status;
    QPushButton* m_plugButton;
    QSpinBox* m_readFaults;
    QSpinBox* m_writeFaults;
    QSpinBox* m_noAnswerFaults;
    QSpinBox* m_corruptFaults;
    QSpinBox* m_delay;
    QCheckBox* m_highBit;
};
