#pragma once

#include "store/Dialogs.h"

#include <QList>
#include <QStringList>

// Answers message boxes and file dialogs from queues and records what they said, so a test
// never blocks on a modal box. Installs itself for its lifetime.
class TestDialogs final : public Dialogs {
public:
    struct Shown {
        MsgIcon icon;
        MsgButtons buttons;
        QString text;
    };

    TestDialogs() { setDialogs(this); }
    ~TestDialogs() override { setDialogs(nullptr); }
    TestDialogs(const TestDialogs&) = delete;
    TestDialogs& operator=(const TestDialogs&) = delete;

    // Answers for the next Yes/No questions, in order; a question with none queued gets No.
    QList<MsgAnswer> answers;
    // File names for the next file dialogs, in order; none queued means cancelled.
    QStringList fileNames;
    QList<Shown> shown;
    QStringList fileDialogCaptions;
    QStringList fileDialogFilters;

    MsgAnswer message(MsgIcon icon, MsgButtons buttons, const QString& text) override
    {
        shown.append({icon, buttons, text});
        switch (buttons) {
        case MsgButtons::Ok:
            return MsgAnswer::Ok;
        case MsgButtons::Abort:
            return MsgAnswer::Abort;
        case MsgButtons::YesNo:
            break;
        }
        return answers.isEmpty() ? MsgAnswer::No : answers.takeFirst();
    }
    QString openFileName(const QString& caption, const QString&, const QString& filter) override
    {
        fileDialogCaptions << caption;
        fileDialogFilters << filter;
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
    QString saveFileName(const QString& caption, const QString& folder, const QString& filter) override
    {
        return openFileName(caption, folder, filter);
    }

    QStringList texts() const
    {
        QStringList out;
        for (const auto& s : shown)
            out << s.text;
        return out;
    }
    void clear() { shown.clear(); }
};
