#include "AlterUserInfo.h"

TFormAlter::TFormAlter(QWidget* parent) : TCardDialog(parent, CloseRule::LeavePending, Polling::FromCreation, 200)
{
    setWindowTitle(QStringLiteral("增加业主信息"));
}

TFormAlter::~TFormAlter() = default;

void TFormAlter::SetMode(Mode mode, int idx)
{
    m_mode = mode;
    m_idx = idx;
}
