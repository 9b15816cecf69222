#pragma once

#include <QRect>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class SimCardIssuer;

// The simulator's control window, in Chinese like the program an office trains on: the cards with
// serial, reader slot and sector states, the records of the chosen card; new blank card; put on and
// take off the reader; the fault switches; unplug and plug. It keeps to a strip at the right edge
// of the screen, beside the program's main window (link/SimulatorScreen.h). Main thread.
class SimWindow final : public QWidget {
    Q_OBJECT
public:
    explicit SimWindow(SimCardIssuer* issuer, QWidget* parent = nullptr);

    // Puts the window, frame included, into the simulator's strip of the primary screen. Called
    // before the window is shown, and again once the window manager has framed it.
    void PlaceBesideProgram();

    QTableWidget* table() const { return m_table; }
    QPlainTextEdit* content() const { return m_content; }
    QLabel* status() const { return m_status; }
    QPushButton* plugButton() const { return m_plugButton; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshCards();
    void refreshContent();
    void refreshStatus();
    uint32_t selectedSerial(bool* ok) const;

    SimCardIssuer* m_issuer;
    QTableWidget* m_table;
    QPlainTextEdit* m_content;
    QLabel* m_status;
    QPushButton* m_plugButton;
    QSpinBox* m_readFaults;
    QSpinBox* m_writeFaults;
    QSpinBox* m_noAnswerFaults;
    QSpinBox* m_corruptFaults;
    QSpinBox* m_delay;
    QCheckBox* m_highBit;
    bool m_placed = false;
};
