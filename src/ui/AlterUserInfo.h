#pragma once

#include "CardDialog.h"

// The owner record editor: one owner created, changed or looked at, the owner's card written, any
// owner card read to see whose it is; or a card written for no owner at all. The opener creates
// the window, sets the mode (and the owner for modify and details), shows it modally and destroys
// it afterwards. User-interface thread only.
class TFormAlter : public TCardDialog {
    Q_OBJECT
public:
    enum class Mode {
        Add,       // "增加业主信息"
        Modify,    // "修改业主信息", for the owner of the given idx
        Details,   // "查询业主详细信息", for the owner of the given idx
        Ownerless, // "无业主发卡": a card that belongs to no owner
    };

    explicit TFormAlter(QWidget* parent = nullptr);
    ~TFormAlter() override;

    // Before showing: the mode, and the owner's idx in modify and details mode.
    void SetMode(Mode mode, int idx = 0);
    Mode WindowMode() const { return m_mode; }
    // The owner being edited: given by the opener, or the row an add replaced or inserted; 0 for
    // none.
    int CurrentIdx() const { return m_idx; }

private:
    Mode m_mode = Mode::Add;
    int m_idx = 0;
};
