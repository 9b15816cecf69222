#include "Dialogs.h"

#include <QDebug>

namespace {

class LogDialogs final : public Dialogs {
public:
    MsgAnswer message(MsgIcon, MsgButtons buttons, const QString& text) override
    {
        qWarning().noquote() << text;
        switch (buttons) {
        case MsgButtons::Ok:
            return MsgAnswer::Ok;
        case MsgButtons::Abort:
            return MsgAnswer::Abort;
        case MsgButtons::YesNo:
            break;
        }
        return MsgAnswer::No;
    }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
};

LogDialogs logDialogs;
Dialogs* current = nullptr;

} // namespace

Dialogs& dialogs()
{
    return current ? *current : logDialogs;
}

void setDialogs(Dialogs* d)
{
    current = d;
}

void ShowMessage(const QString& text)
{
    dialogs().message(MsgIcon::None, MsgButtons::Ok, text);
}

void ShowInformation(const QString& text)
{
    dialogs().message(MsgIcon::Information, MsgButtons::Ok, text);
}

void ShowRefusal(const QString& text)
{
    dialogs().message(MsgIcon::Warning, MsgButtons::Abort, text);
}

void ShowError(const QString& text)
{
    dialogs().message(MsgIcon::Error, MsgButtons::Abort, text);
}

void ShowWarning(const QString& text)
{
    dialogs().message(MsgIcon::Warning, MsgButtons::Ok, text);
}

bool AskYesNo(const QString& text)
{
    return dialogs().message(MsgIcon::Warning, MsgButtons::YesNo, text) == MsgAnswer::Yes;
}
