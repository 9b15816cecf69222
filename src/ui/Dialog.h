#pragma once

#include <QDialog>

// The base of the program's modal windows. A window fills its controls in FormShow, which runs
// once per opening: at the first show after construction, and again at the first show after
// done(). Showing the window again in between (after it was minimised or hidden) leaves what the
// operator sees and typed as it was. An error FormShow throws is shown (Guarded), and the window
// opens with what it had filled by then. Each opening puts the window in the middle of the screen,
// at its opening size as far as the screen has room (PlaceOnScreen). Handlers are connected with
// OnSignal / OnClick (Actions.h).
class Dialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;

    // Closes the window; its next show is a new opening. Windows that override it call it last.
    void done(int result) override;

    // Between the first show of an opening and done().
    bool IsOpen() const { return m_opened; }

protected:
    // The size the window opens at where the screen has room for it; without one, its size hint.
    void SetOpeningSize(QSize size) { m_openingSize = size; }
    // The show step of an opening; runs before the window appears.
    virtual void FormShow() {}
    // For the bases of windows: runs at each opening, before FormShow.
    virtual void BeginOpening() {}
    void showEvent(QShowEvent* event) override;

private:
    bool m_opened = false;
    QSize m_openingSize;
};
