#pragma once

#include "Dialog.h"
#include "cards/Digits.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QDate;
class QTimer;

// The base of the windows that work with the card issuer (device cards, card runs, owner cards,
// blacklist cards and their listing). It holds the steps they share:
// - a card command: refused with "请插入发卡器" while no card issuer is attached, an owner,
//   blacklist or whitelist card also while the community identifier is empty; otherwise the
//   command's record is filled and the command issued, in that order (IssueCardCommand);
// - the answer polled on the window's timer (tmrAnswer, 100 or 200 ms, calling tmrAnswerTimer),
//   running while the window is open, or from creation on;
// - what closing does to a command in flight (CloseRule), by any way of closing, also when the
//   window is destroyed while open;
// - the answer handler's pointers to the window (CurrentInitRunCounters, CurrentBlackListWindow,
//   CurrentOwnerList), set while the window is open and cleared when it closes or is destroyed,
//   so that an answer never reaches a window that is gone (KeepAnswerHook).
// Main thread.
class CardDialog : public Dialog {
    Q_OBJECT
public:
    // What closing the window does to a card command in flight.
    enum class CloseRule {
        SendStop,     // PendingCommand 9 and CommandEvent signalled: command 9 goes out
        ResetToIdle,  // PendingCommand 9 without signalling: a late answer is ignored
        LeavePending, // nothing: the command stays pending
    };
    // When the answer timer runs (it always stops when the window closes).
    enum class Polling {
        None,         // the window does not poll
        WhileOpen,    // from each opening
        FromCreation, // from creation, and again from each opening
    };

    CardDialog(QWidget* parent, CloseRule onClose, Polling polling = Polling::None, int intervalMs = 200);
    ~CardDialog() override;

    // The answer timer; null for Polling::None.
    QTimer* tmrAnswer = nullptr;

    // Closes the window after applying its close rule. Windows that override it call it last.
    void done(int result) override;

    // Refuses (false) unless the command may go out now (CardCommandAllowed). Otherwise runs
    // fill, which fills the command's record or refuses (false, after telling the operator why),
    // and then issues the command: PendingCommand := code, CommandEvent signalled.
    static bool IssueCardCommand(uint8_t code, const std::function<bool()>& fill = {});
    // Whether the card command may go out now; if not, the operator has been told why. It needs
    // an attached card issuer ("请插入发卡器"); the cards that door terminals check against their
    // community (owner cards, blacklist and whitelist cards: commands 3 and 6) need the community
    // identifier as well (RequireRegionID). Reads, device cards and card runs do not: they are how
    // the identifier gets set and cards get ready.
    static bool CardCommandAllowed(uint8_t code);

protected:
    // Keeps slot (one of the answer handler's Current... pointers) at hook while the window is open.
    template <typename Hook> void KeepAnswerHook(Hook*& slot, Hook* hook)
    {
        m_hooks.push_back({[&slot, hook] { slot = hook; },
                           [&slot, hook] {
                               if (slot == hook)
                                   slot = nullptr;
                           }});
        if (IsOpen())
            slot = hook;
    }

    // One tick of the answer timer: take over an answer that has arrived.
    virtual void tmrAnswerTimer() {}

    void BeginOpening() final;

private:
    struct HookSlot {
        std::function<void()> set;
        std::function<void()> clear;
    };
    // The close rule, the timer stopped and the hooks cleared.
    void endCardWork();

    CloseRule m_onClose;
    Polling m_polling;
    std::vector<HookSlot> m_hooks;
};

// The owner an owner card command in flight was issued for, in the owner card windows: the answer
// registers the card to that owner, whichever owner the window shows by the time it comes. Set
// when the command goes out, taken once by its answer; a command that registers nothing (a read
// to see whose a card is) leaves none.
class CardFor {
public:
    // The command just issued registers its card to the owner idx.
    void Issued(int idx) { m_idx = idx; }
    // The command just issued registers nothing, or the one in flight ended without an answer.
    void Forget() { m_idx.reset(); }
    // The owner's row from was replaced by the row to (the same owner saved again).
    void Replaced(int from, int to)
    {
        if (m_idx == from)
            m_idx = to;
    }
    // The owner of the answer that has arrived; empty when it registers nothing. Once only.
    std::optional<int> Take() { return std::exchange(m_idx, std::nullopt); }

private:
    std::optional<int> m_idx;
};

// The owner card record of a write (UserCardRec) from the window's controls: the settings' sector
// and community identifier, the expiry (yymmdd and a zero byte) and whether it is in force, and the
// terminals. The card kind and serial are left as they are.
void FillOwnerCard(bool useExpiry, const QDate& expiry, const TerminalBitmap& terminals);
