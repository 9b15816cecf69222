#pragma once

#include "store/Dialogs.h"

// Message boxes and file dialogs as the operator sees them: modal, with the icon and buttons asked
// for, standard buttons in the operator's language. Message boxes are titled "IC卡脱机系统".
class WidgetDialogs final : public Dialogs {
public:
    MsgAnswer message(MsgIcon icon, MsgButtons buttons, const QString& text) override;
    QString openFileName(const QString& caption, const QString& folder, const QString& filter) override;
    QString saveFileName(const QString& caption, const QString& folder, const QString& filter) override;
};
