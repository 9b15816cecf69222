#pragma once

#include <QString>

// The one seam for message boxes and file dialogs. The windows install a widget implementation;
// tests install one that answers from a queue and records every text, so nothing ever blocks.

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, Abort, YesNo };
enum class MsgAnswer { Ok, Abort, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MsgAnswer message(MsgIcon icon, MsgButtons buttons, const QString& text) = 0;
    // Empty text when the operator cancels. The save dialog asks nothing about an existing file:
    // the program asks its own question.
    virtual QString openFileName(const QString& caption, const QString& folder, const QString& filter) = 0;
    virtual QString saveFileName(const QString& caption, const QString& folder, const QString& filter) = 0;
};

// The installed implementation; without one, messages go to the log and are answered No/Ok.
Dialogs& dialogs();
// Installs d (not owned); nullptr restores the default.
void setDialogs(Dialogs* d);

// The kinds of box the program shows.
// A notice: plain box with OK.
void ShowMessage(const QString& text);
// An information box with OK.
void ShowInformation(const QString& text);
// A refusal: warning box with a single Abort button.
void ShowRefusal(const QString& text);
// An error box with a single Abort button (failed statements, missing files).
void ShowError(const QString& text);
// A warning box with OK.
void ShowWarning(const QString& text);
// A question before a destructive action: warning box with Yes and No. True for Yes.
bool AskYesNo(const QString& text);
