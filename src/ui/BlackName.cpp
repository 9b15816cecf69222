#include "BlackName.h"

#include "Actions.h"
#include "ListScreen.h"
#include "ShowBlackCard.h"
#include "UserInfo.h"
#include "Widgets.h"
#include "cards/Digits.h"
#include "link/CommandFrames.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "office/BlackList.h"
#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/ListModel.h"
#include "store/OperationError.h"
#include "store/SaveLoad.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

namespace {

const QList<ListColumn> Columns = {
    {QStringLiteral("栋  号"), QStringLiteral("DongHao")},
    {QStringLiteral("单元号"), QStringLiteral("DanYuan")},
    {QStringLiteral("房  号"), QStringLiteral("FangHao")},
    {QStringLiteral("姓  名"), QStringLiteral("UserName")},
    {QStringLiteral("卡  号"), QStringLiteral("CardID"), ListColumnKind::CardSerial},
};

void fillCardHeader(uint8_t count)
{
    BlackListRec = TBlackListRec{};
    BlackListRec.Kind = BlackListCardKind;
    BlackListRec.Count = count;
    PackDigits(BlackListRec.RegionBCD, SystemInfo.RegionID, 4);
    BlackListTargetCount = 0;
    for (BlackListTarget& target : BlackListTargets)
        target = BlackListTarget{};
}

QPushButton* arrowButton(const char* caption, QWidget* parent)
{
    QPushButton* b = MakeButton(QString::fromUtf8(caption), parent);
    b->setFixedWidth(48);
    return b;
}

} // namespace

BlackListEntry BlackListEntryFor(uint8_t flag, const QString& cardId)
{
    const std::optional<int32_t> serial = CardSerialFromText(cardId);
    if (!serial)
        ThrowNotAnInteger(cardId);
    const auto bits = static_cast<uint32_t>(*serial);
    BlackListEntry entry;
    entry.Flag = flag;
    entry.Serial24[0] = static_cast<uint8_t>(bits & 0xFF);
    entry.Serial24[1] = static_cast<uint8_t>((bits >> 8) & 0xFF);
    entry.Serial24[2] = static_cast<uint8_t>((bits >> 16) & 0xFF);
    return entry;
}

bool WriteSingleOwnerCard(uint8_t flag, int idx, const QString& cardId)
{
    if (idx <= 0) // a row that could not be read: no owner to put on a card
        return false;
    return CardDialog::IssueCardCommand(CmdWriteBlackList, [&] {
        const BlackListEntry entry = BlackListEntryFor(flag, cardId);
        fillCardHeader(1);
        BlackListRec.Entries[0] = entry;
        BlackListTargets[0] = {flag, idx};
        BlackListTargetCount = 1;
        return true;
    });
}

TFormBlackNameInfo::TFormBlackNameInfo(QWidget* parent)
    : CardDialog(parent, CloseRule::ResetToIdle), m_lost(std::make_unique<ListModel>(*dm, Columns)),
      m_prepared(std::make_unique<ListModel>(*dm, Columns))
{
    setWindowTitle(QStringLiteral("黑名单管理"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    KeepAnswerHook<BlackListWindowHook>(CurrentBlackListWindow, this);

    btnReturn = MakeButton(QStringLiteral("返回"), this);
    btnLoss = MakeButton(QStringLiteral("用户挂失"), this);
    auto* note = new QLabel(QStringLiteral("注意：每次写卡不能超过10个黑名单"), this);
    note->setStyleSheet(QStringLiteral("color: #b03030;"));

    grdLost = new ListGrid(*m_lost, this);
    grdPrepared = new ListGrid(*m_prepared, this);
    lblLostCount = MakeValueLabel(QStringLiteral("0"), this);
    lblPreparedCount = MakeValueLabel(QStringLiteral("0"), this);
    actPrepare = grdLost->PopupMenu()->addAction(QStringLiteral("准备写此卡"));
    actPrepareAll = grdLost->PopupMenu()->addAction(QStringLiteral("准备写所有的卡"));
    actRemove = grdPrepared->PopupMenu()->addAction(QStringLiteral("剔除此卡"));
    actRemoveAll = grdPrepared->PopupMenu()->addAction(QStringLiteral("剔除所有的卡"));
    for (ListGrid* grid : {grdLost, grdPrepared}) {
        grid->horizontalHeader()->setDefaultSectionSize(64);
        grid->horizontalHeader()->resizeSection(3, 90);
        grid->setMinimumWidth(380);
    }

    btnPrepareAll = arrowButton(">>", this);
    btnPrepare = arrowButton(">", this);
    btnRemove = arrowButton("<", this);
    btnRemoveAll = arrowButton("<<", this);
    btnRead = MakeButton(QStringLiteral("读黑名单卡"), this);
    btnWriteBlack = MakeButton(QStringLiteral("写黑名单卡"), this);
    btnWriteWhite = MakeButton(QStringLiteral("写白名单卡"), this);

    const auto listColumn = [this](const char* title, ListGrid* grid, ValueLabel* count) {
        auto* v = new QVBoxLayout;
        auto* heading = new QLabel(QString::fromUtf8(title), this);
        heading->setStyleSheet(QStringLiteral("font-weight: bold;"));
        grid->setAccessibleName(heading->text());
        v->addWidget(heading);
        v->addWidget(grid, 1);
        auto* countRow = new QHBoxLayout;
        countRow->addWidget(CaptionFor(count, QStringLiteral("共"), this));
        countRow->addWidget(count);
        countRow->addWidget(new QLabel(QStringLiteral("条记录"), this));
        countRow->addStretch();
        v->addLayout(countRow);
        return v;
    };
    auto* arrows = new QVBoxLayout;
    arrows->addStretch();
    for (QPushButton* b : {btnPrepareAll, btnPrepare, btnRemove, btnRemoveAll})
        arrows->addWidget(b);
    arrows->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(MakeHeading(QStringLiteral("黑名单写卡"), this));
    top->addSpacing(12);
    top->addWidget(note, 0, Qt::AlignBottom);
    top->addStretch();
    top->addWidget(btnLoss);
    top->addWidget(btnReturn);
    auto* lists = new QHBoxLayout;
    lists->addLayout(listColumn("已挂失的用户", grdLost, lblLostCount), 1);
    lists->addLayout(arrows);
    lists->addLayout(listColumn("准备写卡的黑名单", grdPrepared, lblPreparedCount), 1);
    auto* cards = new QHBoxLayout;
    cards->addStretch();
    for (QPushButton* b : {btnRead, btnWriteBlack, btnWriteWhite})
        cards->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->addLayout(top);
    layout->addLayout(lists, 1);
    layout->addLayout(cards);
    SetOpeningSize({900, 560});

    OnClick(btnReturn, this, &TFormBlackNameInfo::accept);
    OnClick(btnLoss, this, &TFormBlackNameInfo::btnLossClick);
    OnClick(btnPrepareAll, this, &TFormBlackNameInfo::btnPrepareAllClick);
    OnClick(btnPrepare, this, &TFormBlackNameInfo::btnPrepareClick);
    OnClick(btnRemove, this, &TFormBlackNameInfo::btnRemoveClick);
    OnClick(btnRemoveAll, this, &TFormBlackNameInfo::btnRemoveAllClick);
    OnSignal(actPrepare, &QAction::triggered, this, &TFormBlackNameInfo::btnPrepareClick);
    OnSignal(actPrepareAll, &QAction::triggered, this, &TFormBlackNameInfo::btnPrepareAllClick);
    OnSignal(actRemove, &QAction::triggered, this, &TFormBlackNameInfo::btnRemoveClick);
    OnSignal(actRemoveAll, &QAction::triggered, this, &TFormBlackNameInfo::btnRemoveAllClick);
    OnClick(btnRead, this, &TFormBlackNameInfo::btnReadClick);
    OnClick(btnWriteBlack, this, [this] { WriteCard(1); });
    OnClick(btnWriteWhite, this, [this] {
        // Ending the losses is offered only for a card that went out: without it the door
        // terminals would go on refusing cards the office shows as valid.
        if (WriteCard(0) && AskYesNo(QStringLiteral("选择的黑名单卡需要解挂吗？(Y/N)"))) {
            ReleasePrepared();
            LoadLists();
        }
    });
    grdLost->SetToggle([this](int) { btnPrepareClick(); });
    grdPrepared->SetToggle([this](int) { btnRemoveClick(); });
    OnSignal(grdLost, &ListGrid::loaded, this, [this](int n) { lblLostCount->setText(QString::number(n)); });
}

TFormBlackNameInfo::~TFormBlackNameInfo() = default;

int TFormBlackNameInfo::PreparedCount()
{
    return ::PreparedCount();
}

void TFormBlackNameInfo::FormShow()
{
    BlackListSource = 1;
    LoadLists();
}

void TFormBlackNameInfo::refreshLists()
{
    LoadLists();
}

void TFormBlackNameInfo::LoadLists()
{
    // Both lists are read even when the first one fails; the first failure goes on to the operator.
    std::exception_ptr failure;
    try {
        grdLost->Open(LostOwnerList(false), grdLost->CurrentIdx(), FallbackRow::SameRow);
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        grdPrepared->Open(LostOwnerList(true), grdPrepared->CurrentIdx(), FallbackRow::SameRow);
        lblPreparedCount->setText(QString::number(PreparedCount()));
    } catch (...) {
        lblPreparedCount->setText(QStringLiteral("0"));
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TFormBlackNameInfo::btnPrepareAllClick()
{
    if (grdLost->RecordCount() == 0)
        return;
    if (grdLost->RecordCount() + grdPrepared->RecordCount() > BlackListMaxEntries) {
        ShowRefusal(QStringLiteral("每次处理不能超过10个黑名单\r请单独挑选记录"));
        return;
    }
    SetPrepared(true);
    LoadLists();
}

void TFormBlackNameInfo::btnPrepareClick()
{
    grdPrepared->MakeCurrent(0);
    if (grdLost->RecordCount() == 0)
        return;
    if (grdPrepared->RecordCount() >= BlackListMaxEntries) {
        ShowRefusal(QStringLiteral("每次处理不能超过10个黑名单\r请先写黑名单"));
        return;
    }
    const int idx = grdLost->CurrentIdx();
    if (idx <= 0) // a row that could not be read: not every lost owner
        return;
    SetPrepared(true, idx);
    LoadLists();
}

void TFormBlackNameInfo::btnRemoveClick()
{
    const int idx = grdPrepared->CurrentIdx();
    if (grdPrepared->RecordCount() == 0 || idx <= 0) // none, or a row that could not be read
        return;
    SetPrepared(false, idx);
    LoadLists();
}

void TFormBlackNameInfo::btnRemoveAllClick()
{
    grdPrepared->MakeCurrent(0);
    if (grdPrepared->RecordCount() == 0)
        return;
    SetPrepared(false);
    LoadLists();
}

bool TFormBlackNameInfo::WriteCard(uint8_t flag)
{
    if (grdPrepared->RecordCount() == 0)
        return false;
    return IssueCardCommand(CmdWriteBlackList, [&] {
        // The entries are made first: a card serial that cannot be read stops the write before
        // anything is filled in.
        const ListModel& rows = grdPrepared->Model();
        const int taken = std::min(rows.RecordCount(), BlackListMaxEntries);
        BlackListEntry entries[BlackListMaxEntries] = {};
        int idxs[BlackListMaxEntries] = {};
        for (int i = 0; i < taken; ++i) {
            idxs[i] = rows.IdxAt(i);
            if (idxs[i] <= 0) {
                // A row whose page could not be read (or that went between the count and the
                // read) would go onto the card as serial 0 for no owner.
                LoadLists();
                ShowRefusal(QStringLiteral("准备写卡的黑名单没有全部读出，已重新读取，请核对后再写卡"));
                return false;
            }
            const QVariant cardId = rows.FieldAt(i, QStringLiteral("CardID"));
            entries[i] = BlackListEntryFor(flag, cardId.isNull() ? QString() : cardId.toString());
        }
        fillCardHeader(static_cast<uint8_t>(taken));
        for (int i = 0; i < taken; ++i) {
            BlackListRec.Entries[i] = entries[i];
            BlackListTargets[i] = {flag, idxs[i]};
        }
        BlackListTargetCount = taken;
        grdPrepared->MakeCurrent(0);
        return true;
    });
}

void TFormBlackNameInfo::btnReadClick()
{
    IssueCommand(CmdReadBlackList);
    TFormShowBlackCard listing(this);
    listing.exec();
}

void TFormBlackNameInfo::btnLossClick()
{
    {
        // The owner list takes over the answers to a single-owner card while it is open.
        TFormUserInfo owners(this);
        owners.exec();
    }
    BlackListSource = 1;
    LoadLists();
}
