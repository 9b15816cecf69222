#pragma once

#include "CardDialog.h"
#include "cards/CardRecords.h"
#include "link/LinkHooks.h"

#include <cstdint>
#include <memory>

class QAction;
class QPushButton;
class ListGrid;
class ListModel;
class ValueLabel;

// Lost cards: the owners reported lost, up to ten of them prepared for the next blacklist card,
// that card (or a whitelist card taking them back) written, and any blacklist card read back into
// its listing. The card issuer's answer updates the owners (the answer handler) and reloads both
// lists through BlackListWindowHook while the window is open; closing withdraws a pending command
// without sending anything. User-interface thread only.
class TFormBlackNameInfo : public CardDialog, public BlackListWindowHook {
    Q_OBJECT
public:
    explicit TFormBlackNameInfo(QWidget* parent = nullptr);
    ~TFormBlackNameInfo() override;

    // Both lists read again (the answer handler calls it after a card was written).
    void refreshLists() override;

    QPushButton* btnReturn;
    QPushButton* btnLoss;
    ListGrid* grdLost;
    ListGrid* grdPrepared;
    ValueLabel* lblLostCount;
    ValueLabel* lblPreparedCount;
    QPushButton* btnPrepareAll;
    QPushButton* btnPrepare;
    QPushButton* btnRemove;
    QPushButton* btnRemoveAll;
    QPushButton* btnRead;
    QPushButton* btnWriteBlack;
    QPushButton* btnWriteWhite;
    QAction* actPrepare;
    QAction* actPrepareAll;
    QAction* actRemove;
    QAction* actRemoveAll;

    // The prepared owners as the count query finds them.
    static int PreparedCount();

protected:
    void FormShow() override;

private:
    void LoadLists();
    void btnPrepareAllClick();
    void btnPrepareClick();
    void btnRemoveClick();
    void btnRemoveAllClick();
    void btnReadClick();
    void btnLossClick();
    // The prepared owners onto a card: flag 1 blacklists them, 0 takes them back. False when
    // nothing was sent (nothing prepared, or refused with the reason told).
    bool WriteCard(uint8_t flag);

    std::unique_ptr<ListModel> m_lost;
    std::unique_ptr<ListModel> m_prepared;
};

// The blacklist or whitelist card of one owner (flag 1 or 0), whatever the owner's loss state:
// the card issuer is asked to write it, and its answer updates that owner. False when nothing was
// sent: no owner (idx not above 0, a row that could not be read), or refused with the operator
// told (no card issuer, no community identifier).
bool WriteSingleOwnerCard(uint8_t flag, int idx, const QString& cardId);

// The card's entry for a card serial text as CardID holds it: the low 24 bits, least significant
// byte first; an empty text gives 0. A text that is not a card serial throws the conversion error.
BlackListEntry BlackListEntryFor(uint8_t flag, const QString& cardId);
