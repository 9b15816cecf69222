#include "Dialog.h"

#include "Widgets.h"
#include "store/OperationError.h"

void Dialog::showEvent(QShowEvent* event)
{
    if (!m_opened) {
        m_opened = true;
        BeginOpening();
        // A lookup that fails while the window fills itself is shown; the window opens all the same.
        Guarded([this] { FormShow(); });
        // Placed once filled: the show step decides which controls the window has this time.
        PlaceOnScreen(this, m_openingSize);
    }
    QDialog::showEvent(event);
}

void Dialog::done(int result)
{
    m_opened = false;
    QDialog::done(result);
}
