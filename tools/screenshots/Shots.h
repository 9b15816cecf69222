#pragma once

#include "store/Dialogs.h"

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class TFormBlackNameInfo;

// What both sets of pictures share: where they are saved, how a window becomes a picture, waiting
// for the card issuer's answers while the event loop runs, and the message boxes, which are
// answered from a list and, when a picture of one is wanted, shown for real and saved.
// User-interface thread only.

// The folder the pictures are saved into.
void SetOutputFolder(const QString& folder);
// Saves the window as the named picture (with as few colours as it needs); false when it failed.
bool Save(QWidget* w, const QString& name);
// Saves the window with a popup (a menu) drawn over it where it is shown.
bool SaveWithPopup(QWidget* window, QWidget* popup, const QString& name);
// Saves the whole screen, as an office sees it.
bool SaveScreen(const QString& name);
// Runs the event loop until done() holds; false when ms ran out first.
bool WaitFor(const std::function<bool()>& done, int ms = 3000);
// Runs the event loop for ms.
void Pause(int ms);
// Reads the blacklist card on the card issuer through the window's button and saves the listing
// it opens, once filled, as the named picture; false when it failed.
bool SaveBlacklistListing(TFormBlackNameInfo& black, const QString& name);

// The message boxes and file dialogs of the pictures' run. Without answers waiting, a question is
// answered No, a file dialog is cancelled and a message is only noted on standard error.
class ShotDialogs final : public Dialogs {
public:
    MsgAnswer message(MsgIcon icon, MsgButtons buttons, const QString& text) override;
    QString openFileName(const QString& caption, const QString& folder, const QString& filter) override;
    QString saveFileName(const QString& caption, const QString& folder, const QString& filter) override;

    // The next questions are answered Yes, count of them.
    void AnswerYes(int count = 1) { m_yes += count; }
    // The next file dialog gives this name.
    void AnswerFile(const QString& path) { m_files << path; }
    // The next message that contains the text is shown as the operator sees it, saved over the
    // window it came from as the named picture, and closed.
    void CaptureMessage(const QString& name, QWidget* over, const QString& containing = QString())
    {
        m_capture = name;
        m_captureOver = over;
        m_captureText = containing;
    }
    // Every message shown so far, in order.
    const QStringList& Messages() const { return m_messages; }
    // False once a capture failed.
    bool CapturesOk() const { return m_capturesOk; }

private:
    int m_yes = 0;
    QStringList m_files;
    QString m_capture;
    QString m_captureText;
    QWidget* m_captureOver = nullptr;
    QStringList m_messages;
    bool m_capturesOk = true;
};
