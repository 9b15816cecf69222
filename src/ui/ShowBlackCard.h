#pragma once

#include "CardDialog.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The listing of a blacklist card that was read: its kind, count and community, then every entry
// with its flag, the low 24 bits of the card serial it carries, and the owners whose card serial has
// those bits (one line each). It polls for the read every
// 100 ms while open; closing leaves a pending read as it is. User-interface thread only.
class TFormShowBlackCard : public CardDialog {
    Q_OBJECT
public:
    explicit TFormShowBlackCard(QWidget* parent = nullptr);

    QLabel* pnlHeading;
    QPlainTextEdit* mmoList;
    QPushButton* btnReturn;

    // The lines for the card in BlackListRec, as the listing shows them.
    static QStringList ListingLines();

protected:
    void FormShow() override;
    void tmrAnswerTimer() override;
};
