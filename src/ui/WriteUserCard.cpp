#include "WriteUserCard.h"

#include "Actions.h"
#include "AlterUserInfo.h"
#include "BuildInfo.h"
#include "InputDongHao.h"
#include "ListScreen.h"
#include "OwnerFields.h"
#include "SearchCondition.h"
#include "TerminalRegister.h"
#include "TerminalSel.h"
#include "Widgets.h"
#include "cards/Digits.h"
#include "cards/Gbk.h"
#include "link/CardLog.h"
#include "link/CommandFrames.h"
#include "link/ProgramState.h"
#include "link/ResultTexts.h"
#include "office/OwnerCards.h"
#include "store/AppPath.h"
#include "store/CardOwners.h"
#include "store/Clock.h"
#include "store/Dialogs.h"
#include "store/ListModel.h"
#include "store/OperationError.h"
#include "store/OwnerExchange.h"
#include "store/OwnerStatements.h"
#include "store/SaveLoad.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstring>

namespace {

const QList<ListColumn> Columns = {
    {QStringLiteral("序号"), QStringLiteral("idx")},
    {QStringLiteral("业主姓名"), QStringLiteral("UserName")},
    {QStringLiteral("卡编号"), QStringLiteral("CardNo")},
    {QStringLiteral("栋号"), QStringLiteral("DongHao")},
    {QStringLiteral("单元号"), QStringLiteral("DanYuan")},
    {QStringLiteral("房间号"), QStringLiteral("FangHao")},
    {QStringLiteral("IC卡号"), QStringLiteral("CardID"), ListColumnKind::CardSerial},
};

const QString Unknown = QStringLiteral("...");

// While an export or import runs, no answer of the card issuer is taken over: registering a card
// would write to the owners in the middle of the run. The answer waits for the timer's next tick.
class PauseAnswers {
public:
    explicit PauseAnswers(QTimer* timer) : m_timer(timer), m_wasActive(timer->isActive()) { m_timer->stop(); }
    ~PauseAnswers()
    {
        if (m_wasActive)
            m_timer->start();
    }
    PauseAnswers(const PauseAnswers&) = delete;
    PauseAnswers& operator=(const PauseAnswers&) = delete;

private:
    QTimer* m_timer;
    bool m_wasActive;
};

} // namespace

const char* const TFormWriteUserCard::ResultHint = "注意：先放好卡，再进行读写";

TFormWriteUserCard::TFormWriteUserCard(QWidget* parent)
    : CardDialog(parent, CloseRule::SendStop, Polling::WhileOpen, 200),
      m_model(std::make_unique<ListModel>(*dm, Columns))
{
    setWindowTitle(QStringLiteral("业主发卡"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMaximizeButtonHint);
    m_rec.PhotoStream = &m_photoBytes;
    m_rec.TerminalStream = &m_terminalBytes;

    // Top bar.
    btnImport = MakeButton(QStringLiteral("导入业主资料"), this);
    btnExport = MakeButton(QStringLiteral("导出业主资料"), this);
    btnTerminals = MakeButton(QStringLiteral("门禁登记"), this);
    btnSearch = MakeButton(QStringLiteral("查  询"), this);
    btnReturn = MakeButton(QStringLiteral("返  回"), this);
    auto* hint = new QLabel(QStringLiteral("提示：请在业主管理的功能项修改授权开启的门禁"), this);
    hint->setStyleSheet(QStringLiteral("color: #a05a00;"));
    auto* top = new QHBoxLayout;
    top->addWidget(MakeHeading(QStringLiteral("业主发卡"), this));
    top->addSpacing(12);
    top->addWidget(hint, 0, Qt::AlignBottom);
    top->addStretch();
    for (QPushButton* b : {btnImport, btnExport, btnTerminals, btnSearch, btnReturn})
        top->addWidget(b);

    // Left: the tree, then the owners.
    btnBuildInfo = MakeButton(QStringLiteral("录入小区资料"), this);
    tvBuild = new BuildTreeView(this);
    QAction* treeBuildInfo = tvBuild->PopupMenu()->addAction(QStringLiteral("小区资料录入"));
    lblCount = MakeValueLabel(QStringLiteral("0"), this);
    btnAddOwner = MakeButton(QStringLiteral("录入业主资料"), this);
    grdOwners = new ListGrid(*m_model, this);
    grdOwners->setToolTip(QStringLiteral("说明: 已挂失的卡不会被显示"));
    grdOwners->setAccessibleName(QStringLiteral("业主资料"));
    grdOwners->horizontalHeader()->setDefaultSectionSize(70);
    grdOwners->horizontalHeader()->resizeSection(0, 56);
    grdOwners->horizontalHeader()->resizeSection(1, 90);
    grdOwners->horizontalHeader()->resizeSection(2, 110);
    QAction* gridAddOwner = grdOwners->PopupMenu()->addAction(QStringLiteral("录入业主资料"));
    auto* left = new QVBoxLayout;
    {
        auto* row = new QHBoxLayout;
        QLabel* title = CaptionFor(tvBuild, QStringLiteral("小区资料"), this);
        title->setStyleSheet(QStringLiteral("font-weight: bold;"));
        row->addWidget(title);
        row->addStretch();
        row->addWidget(btnBuildInfo);
        left->addLayout(row);
        left->addWidget(tvBuild, 2);
        auto* owners = new QHBoxLayout;
        auto* ownersTitle = new QLabel(QStringLiteral("业主资料"), this);
        ownersTitle->setStyleSheet(QStringLiteral("font-weight: bold;"));
        owners->addWidget(ownersTitle);
        owners->addSpacing(10);
        owners->addWidget(CaptionFor(lblCount, QStringLiteral("共"), this));
        owners->addWidget(lblCount);
        owners->addWidget(new QLabel(QStringLiteral("条记录"), this));
        owners->addStretch();
        owners->addWidget(btnAddOwner);
        left->addLayout(owners);
        left->addWidget(grdOwners, 3);
    }

    // Right: the owner, the conditions, the terminals.
    auto* grpOwner = new QGroupBox(QStringLiteral("业主资料"), this);
    lblSector = MakeValueLabel(Unknown, grpOwner);
    lblRegion = MakeValueLabel(Unknown, grpOwner);
    lblCardNo = MakeValueLabel(Unknown, grpOwner);
    lblCardID = MakeValueLabel(Unknown, grpOwner);
    lblDongHao = MakeValueLabel(Unknown, grpOwner);
    lblDanYuan = MakeValueLabel(Unknown, grpOwner);
    lblFangHao = MakeValueLabel(Unknown, grpOwner);
    lblUserName = MakeValueLabel(Unknown, grpOwner);
    imgPhoto = MakePhotoBox({100, 125}, grpOwner);
    {
        auto* g = new QGridLayout;
        const struct {
            const char* caption;
            ValueLabel* value;
        } values[] = {{"使用扇区：", lblSector}, {"小区标识：", lblRegion}, {"卡编号：", lblCardNo},
                      {"IC卡号：", lblCardID},   {"栋号：", lblDongHao},    {"单元号：", lblDanYuan},
                      {"房号：", lblFangHao},    {"姓名：", lblUserName}};
        int i = 0;
        for (const auto& v : values) {
            g->addWidget(CaptionFor(v.value, QString::fromUtf8(v.caption), grpOwner), i / 2, (i % 2) * 2);
            g->addWidget(v.value, i / 2, (i % 2) * 2 + 1);
            v.value->setMinimumWidth(100);
            ++i;
        }
        g->setColumnStretch(1, 1);
        g->setColumnStretch(3, 1);
        auto* h = new QHBoxLayout(grpOwner);
        h->setContentsMargins(CompactGroupMargins);
        h->addLayout(g, 1);
        h->addWidget(imgPhoto);
    }
    auto* grpConditions = new QGroupBox(QStringLiteral("开门判断条件"), this);
    chkUseExpiry = new QCheckBox(QStringLiteral("使用有效期"), grpConditions);
    dtpExpiry = new QDateEdit(grpConditions);
    dtpExpiry->setCalendarPopup(true);
    dtpExpiry->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    dtpExpiry->setAccessibleName(QStringLiteral("有效期"));
    chkProperty = new QCheckBox(QStringLiteral("物管卡"), grpConditions);
    {
        auto* h = new QHBoxLayout(grpConditions);
        h->setContentsMargins(CompactGroupMargins);
        h->addWidget(chkUseExpiry);
        h->addWidget(CaptionFor(dtpExpiry, QStringLiteral("有效期："), grpConditions));
        h->addWidget(dtpExpiry);
        h->addSpacing(16);
        h->addWidget(chkProperty);
        h->addStretch();
    }
    auto* grpTerminals = new QGroupBox(QStringLiteral("登记的门禁"), this);
    grid = new TerminalGrid(grpTerminals);
    m_fields = {.cardNo = lblCardNo,
                .dongHao = lblDongHao,
                .danYuan = lblDanYuan,
                .fangHao = lblFangHao,
                .userName = lblUserName,
                .useExpiry = chkUseExpiry,
                .expiry = dtpExpiry,
                .property = chkProperty,
                .terminals = grid};
    grid->setAccessibleName(QStringLiteral("登记的门禁"));
    auto* gridTerminals = new QAction(QStringLiteral("门禁登记"), grid);
    grid->addAction(gridTerminals);
    grid->setContextMenuPolicy(Qt::ActionsContextMenu);
    {
        auto* v = new QVBoxLayout(grpTerminals);
        v->setContentsMargins(CompactGroupMargins);
        v->addWidget(grid);
    }
    auto* right = new QVBoxLayout;
    right->addWidget(grpOwner);
    right->addWidget(grpConditions);
    right->addWidget(grpTerminals, 1);

    // Bottom: the card buttons, the result line, the progress of an export or import.
    btnBind = MakeButton(QStringLiteral("绑定IC卡"), this);
    btnRead = MakeButton(QStringLiteral("读用户卡"), this);
    btnWrite = MakeButton(QStringLiteral("写用户卡"), this);
    lblResult = new QLabel(QString::fromUtf8(ResultHint), this);
    lblResult->setStyleSheet(QStringLiteral("color: #b03030; font-weight: bold;"));
    pnlProgress = new QWidget(this);
    lblProgress = new QLabel(QStringLiteral("正在传送..."), pnlProgress);
    pbProgress = new QProgressBar(pnlProgress);
    pbProgress->setAccessibleName(QStringLiteral("进度"));
    {
        auto* h = new QHBoxLayout(pnlProgress);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(lblProgress);
        h->addWidget(pbProgress, 1);
    }
    pnlProgress->hide();
    auto* bottom = new QHBoxLayout;
    for (QPushButton* b : {btnBind, btnRead, btnWrite})
        bottom->addWidget(b);
    bottom->addSpacing(16);
    bottom->addWidget(lblResult, 1);

    auto* body = new QHBoxLayout;
    body->addLayout(left, 4);
    body->addLayout(right, 5);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 8, 14, 8);
    layout->addLayout(top);
    layout->addLayout(body, 1);
    layout->addLayout(bottom);
    layout->addWidget(pnlProgress);
    SetOpeningSize({1340, 860}); // where the screen has room: every owner column, more terminals

    tmrResult = new QTimer(this);
    tmrResult->setInterval(2000);
    OnSignal(tmrResult, &QTimer::timeout, this, [this] {
        tmrResult->stop();
        lblResult->setText(QString::fromUtf8(ResultHint));
    });

    OnClick(btnWrite, this, &TFormWriteUserCard::btnWriteClick);
    OnClick(btnRead, this, &TFormWriteUserCard::btnReadClick);
    OnClick(btnBind, this, &TFormWriteUserCard::btnBindClick);
    OnClick(btnSearch, this, &TFormWriteUserCard::btnSearchClick);
    OnClick(btnReturn, this, &TFormWriteUserCard::accept);
    OnClick(btnBuildInfo, this, &TFormWriteUserCard::btnBuildInfoClick);
    OnSignal(treeBuildInfo, &QAction::triggered, this, &TFormWriteUserCard::btnBuildInfoClick);
    OnClick(btnTerminals, this, &TFormWriteUserCard::btnTerminalsClick);
    OnSignal(gridTerminals, &QAction::triggered, this, &TFormWriteUserCard::btnTerminalsClick);
    OnClick(btnAddOwner, this, &TFormWriteUserCard::btnAddOwnerClick);
    OnSignal(gridAddOwner, &QAction::triggered, this, &TFormWriteUserCard::btnAddOwnerClick);
    OnClick(btnExport, this, &TFormWriteUserCard::btnExportClick);
    OnClick(btnImport, this, &TFormWriteUserCard::btnImportClick);
    OnClick(chkProperty, this, &TFormWriteUserCard::chkPropertyApply);
    OnSignal(tvBuild, &BuildTreeView::nodeChosen, this, &TFormWriteUserCard::tvBuildClick);
    OnSignal(grdOwners, &ListGrid::rowChosen, this, &TFormWriteUserCard::gridRowChosen);
    OnSignal(grdOwners, &ListGrid::loaded, this, [this](int n) { lblCount->setText(QString::number(n)); });
}

TFormWriteUserCard::~TFormWriteUserCard() = default;

void TFormWriteUserCard::LoadList(const ListQuery& owners, int idx)
{
    grdOwners->Open(owners, idx);
}

void TFormWriteUserCard::FormShow()
{
    lblResult->setText(QString::fromUtf8(ResultHint));
    LoadList();
    grid->BuildGrid();
    chkPropertyApply();
    dtpExpiry->setDate(QDate(Now().date().year() + 2, 1, 1));
    lblSector->setText(QString::number(SystemInfo.Sector));
    lblRegion->setText(GbkToString(SystemInfo.RegionID, 8));
    tvBuild->Fill();
}

void TFormWriteUserCard::chkPropertyApply()
{
    m_fields.ApplyProperty();
}

void TFormWriteUserCard::gridRowChosen()
{
    ShowCurrentOwner();
}

void TFormWriteUserCard::ShowCurrentOwner()
{
    const int idx = grdOwners->CurrentIdx();
    if (idx <= 0)
        return;
    if (LoadUserInfoByIdx(*dm, idx, m_rec) > 0)
        ShowOwner();
}

void TFormWriteUserCard::ShowOwner()
{
    m_fields.Show(m_rec);
    ShowCardSerial(lblCardID, m_rec.CardID);
    // Every owner shows a picture: a photo that cannot be shown is said, then the placeholder.
    ShowOwnerPhoto(imgPhoto, m_rec, PhotoFailure::WarnThenPlaceholder);
}

void TFormWriteUserCard::ShowNoOwner()
{
    for (ValueLabel* value : {lblDongHao, lblDanYuan, lblFangHao, lblUserName})
        value->setText(Unknown);
    ShowPlaceholderPhoto(imgPhoto);
}

void TFormWriteUserCard::tvBuildClick(QTreeWidgetItem* node)
{
    try {
        if (BuildTreeView::IsUnit(node)) {
            const std::optional<int> building = ParseInt32(BuildTreeView::BuildingText(node));
            const std::optional<int> unit = ParseInt32(BuildTreeView::UnitText(node));
            if (!building || !unit)
                throw OperationError(QStringLiteral("not a unit"));
            LoadList(IssuingListOfUnit(*building, *unit));
        } else if (tvBuild->IsRoot(node) && node->childCount() > 0) {
            LoadList();
        } else if (!node || !node->parent()) {
            throw OperationError(QStringLiteral("no building"));
        }
    } catch (const OperationError&) {
        ShowMessage(QStringLiteral("请输入小区资料"));
    }
}

void TFormWriteUserCard::btnSearchClick()
{
    TFormSearchCondition* search = SearchCondition();
    search->SetCaptions(QStringLiteral("IC卡编码:"), QStringLiteral("用户姓名:"));
    search->exec();
    if (!search->Confirmed)
        return;
    const QString text = search->ChosenText();
    if (search->FirstChosen()) {
        const bool shown = LoadUserInfoByCardNo(*dm, text, m_rec) > 0;
        if (shown)
            ShowOwner();
        // A card serial typed in place of the card number (as stored or as the card issuer shows
        // it) finds the owner who holds the card as well, who is shown when no card number matched.
        LoadList(IssuingListOfCard(text));
        if (!shown && grdOwners->RecordCount() > 0)
            ShowCurrentOwner();
    } else {
        if (LoadUserInfoByName(*dm, text, m_rec) > 0)
            ShowOwner();
        LoadList(IssuingListByName(text));
    }
}

void TFormWriteUserCard::ClearResult()
{
    tmrResult->stop();
    lblResult->setText(QString::fromUtf8(ResultHint));
}

void TFormWriteUserCard::btnWriteClick()
{
    ClearResult();
    const int idx = grdOwners->CurrentIdx();
    // The card issuer and the community identifier are asked for first, an owner chosen after.
    if (IssueCardCommand(CmdWriteOwnerCard, [this, idx] {
            if (idx <= 0)
                return false;
            FillOwnerCard(chkUseExpiry->isChecked(), dtpExpiry->date(), grid->Bitmap());
            return true;
        }))
        m_cardFor.Issued(idx);
}

void TFormWriteUserCard::btnReadClick()
{
    ClearResult();
    if (IssueCardCommand(CmdReadOwnerCard))
        m_cardFor.Forget();
}

void TFormWriteUserCard::btnBindClick()
{
    ClearResult();
    const int idx = grdOwners->CurrentIdx();
    if (IssueCardCommand(CmdReadOwnerCard))
        m_cardFor.Issued(idx);
}

void TFormWriteUserCard::tmrAnswerTimer()
{
    if (!CardDataReady)
        return;
    CardDataReady = 0;
    const bool written = PendingCommand == CmdWriteOwnerCard;
    // A write or a bind registers the card to the owner it was sent for, also when the operator
    // has chosen another owner since.
    const std::optional<int> issuedFor = m_cardFor.Take();
    const int result = CardResult;
    // A success leaves the result line after two seconds; a failure stays until the next card
    // action, for an operator who looked away.
    if (result == 0)
        tmrResult->start();
    else
        tmrResult->stop();
    // Idle again before anything below can fail, so that the answer is taken only once.
    PendingCommand = IdleCommand;
    if (result != 0)
        RecordOwnerCardAnswer(written ? OwnerCardUse::Written : OwnerCardUse::Read, result,
                              issuedFor.value_or(0));
    if (result != 0) {
        ShowNoOwner();
    } else {
        lblRegion->setText(GbkToString(UserCardRec.RegionID, 8));
        lblSector->setText(QString::number(UserCardRec.Sector));
        const QString serial = PadNumber(UserCardRec.CardSerial, 10);
        ShowCardSerial(lblCardID, serial);
        chkUseExpiry->setChecked(UserCardRec.UseExpiry != 0);
        std::memcpy(m_rec.VaildTerminal.data(), UserCardRec.Terminals, m_rec.VaildTerminal.size());
        dtpExpiry->setDate(OwnerCardExpiry(UserCardRec));
        if (written) {
            RegisterCard(issuedFor.value_or(0));
            RecordOwnerCardAnswer(OwnerCardUse::Written, result, issuedFor.value_or(0));
        } else if (issuedFor) {
            grid->SetBitmap(UserCardRec.Terminals);
            RegisterCard(*issuedFor);
            RecordOwnerCardAnswer(OwnerCardUse::Bound, result, *issuedFor);
        } else {
            RecordOwnerCardAnswer(OwnerCardUse::Read, result, 0);
            if (FindUserByCardID(*dm, serial) > 0) {
                const int row = m_model->LocateCardID(serial);
                if (row >= 0)
                    grdOwners->MakeCurrent(row);
                ShowCurrentOwner();
            } else {
                grid->SetBitmap(UserCardRec.Terminals);
                ShowNoOwner();
                ShowWarning(QStringLiteral("注意：此卡未登记！"));
            }
            return;
        }
    }
    lblResult->setText(result == 0 ? ResultText(result) : CardFailureText(result));
}

void TFormWriteUserCard::RegisterCard(int idx)
{
    if (idx <= 0)
        return;
    // The card, its expiry and its terminals (as the answer put them on screen) go to the owner
    // together, or not at all; the card serial through the registration alone.
    TuserInfoRec card;
    card.idx = idx;
    card.IsUseExpDate = chkUseExpiry->isChecked();
    card.chUseExpdate = card.IsUseExpDate ? QStringLiteral("是") : QStringLiteral("否");
    card.ExpDate = dtpExpiry->date();
    std::memcpy(card.VaildTerminal.data(), UserCardRec.Terminals, card.VaildTerminal.size());
    RegisterWrittenCard(idx, lblCardID->text(), &card);
    LoadList();
    // The list on the card's owner, and that owner shown.
    const int row = m_model->LocateCardID(PadNumber(UserCardRec.CardSerial, 10));
    if (row >= 0 && grdOwners->MakeCurrent(row))
        ShowCurrentOwner();
}

void TFormWriteUserCard::btnBuildInfoClick()
{
    {
        TFormBuildInfo window(this);
        window.exec();
    }
    tvBuild->Fill();
}

void TFormWriteUserCard::btnTerminalsClick()
{
    {
        TFormTerminalRegster window(this);
        window.exec();
    }
    grid->BuildGrid();
    chkPropertyApply();
}

void TFormWriteUserCard::btnAddOwnerClick()
{
    // The editor takes the answers of its own card operations while it is open. A success on the
    // result line still goes afterwards; a failure stays.
    tmrAnswer->stop();
    const bool resultShown = tmrResult->isActive();
    tmrResult->stop();
    {
        TFormAlter editor(this);
        editor.SetMode(TFormAlter::Mode::Add);
        editor.exec();
    }
    tmrAnswer->start();
    if (resultShown)
        tmrResult->start();
    LoadList();
}

void TFormWriteUserCard::ShowProgress(const QString& text, int done, int total)
{
    lblProgress->setText(text);
    pbProgress->setRange(0, std::max(total, 1));
    pbProgress->setValue(std::min(done, std::max(total, 1)));
    pnlProgress->show();
    // Repaints and timers go on; the operator's input waits until the run is over.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFormWriteUserCard::btnExportClick()
{
    TFormInputDongHao* place = InputDongHao();
    place->exec();
    if (!place->Confirmed)
        return;
    const std::optional<ExportFilter> filter = ChooseExport(place->BuildingText, place->UnitText);
    if (!filter)
        return;
    const QString fileName = AskExportFileName();
    if (!fileName.isEmpty()) {
        const QString text = QStringLiteral("正在导出...");
        ShowProgress(text, 0, 1);
        PauseAnswers pause(tmrAnswer);
        const ExchangeResult result =
            ExportOwners(fileName, *filter, [&](int done, int total) { ShowProgress(text, done, total); });
        pnlProgress->hide();
        if (!result.ok()) {
            ShowExchangeResult(result);
            return;
        }
    }
    ShowMessage(QString::fromUtf8(ExchangeDoneText));
}

void TFormWriteUserCard::btnImportClick()
{
    const QString fileName = AskImportFileName();
    if (fileName.isEmpty())
        return;
    const QString text = QStringLiteral("正在复制...");
    ShowProgress(text, 0, 100);
    ExchangeResult result;
    {
        PauseAnswers pause(tmrAnswer);
        result = ImportOwners(fileName, [&](int done, int total) { ShowProgress(text, done, total); });
    }
    ShowExchangeResult(result);
    pnlProgress->hide();
    LoadList();
}
