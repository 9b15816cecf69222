#pragma once

#include <QFrame>
#include <QStringList>
#include <vector>

class QLabel;
class QPushButton;

// The main window's list of the first steps of a new office, in their order: each step a button
// that names the step and whether it is done ("小区资料：已完成"), which opens the step's window.
// The main window decides what each step opens and when it is done. Main thread.
class FirstStepsPanel : public QFrame {
    Q_OBJECT
public:
    explicit FirstStepsPanel(const QStringList& steps, QWidget* parent = nullptr);

    int StepCount() const { return int(m_steps.size()); }
    // The step's button: its caption and its accessible name are the step and its state.
    QPushButton* Step(int step) const { return m_steps[size_t(step)].button; }
    bool Done(int step) const { return m_steps[size_t(step)].done; }
    void SetDone(int step, bool done);

private:
    struct StepLine {
        QString caption;
        QLabel* mark = nullptr;
        QPushButton* button = nullptr;
        bool done = false;
    };
    void showStep(const StepLine& line);

    std::vector<StepLine> m_steps;
};
