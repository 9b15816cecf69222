#include "Dialog.h"

void TDialog::showEvent(QShowEvent* event)
{
    if (!m_opened) {
        m_opened = true;
        FormShow();
    }
    QDialog::showEvent(event);
}

void TDialog::done(int result)
{
    m_opened = false;
    QDialog::done(result);
}
