#include "AlterUserInfo.h"

#include "Actions.h"
#include "BuildInfo.h"
#include "ListScreen.h"
#include "OwnerFields.h"
#include "Photo.h"
#include "Session.h"
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
#include "store/Clock.h"
#include "store/Dialogs.h"
#include "store/FileSync.h"
#include "store/OwnerStatements.h"
#include "store/SaveLoad.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QColor HintIdle(Qt::black);
const QColor HintWaiting(Qt::blue);
const QColor HintResult(Qt::red); // success and failure alike

// The card issuer answers a card command at once, with a result code also when no card lies on
// it; no answer in this time means it is stuck or unplugged.
constexpr int NoAnswerMs = 5000;

// A memo's text as stored: every line ended by CR LF.
QString storedLines(const QString& text)
{
    if (text.isEmpty())
        return text;
    QString out;
    for (const QString& line : text.split(QLatin1Char('\n')))
        out += line + QStringLiteral("\r\n");
    return out;
}

// A stored text shown in a memo: lines split at CR LF (or LF), the last line end dropped.
QString shownLines(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

void chooseText(QComboBox* list, const QString& text)
{
    list->setCurrentIndex(list->findText(text));
}

} // namespace

const char* const TFormAlter::IdleHint = "操作提示：请首先进行门禁资料录入";

TFormAlter::TFormAlter(QWidget* parent)
    : CardDialog(parent, CloseRule::LeavePending, Polling::FromCreation, 200)
{
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMaximizeButtonHint);
    setWindowTitle(QStringLiteral("增加业主信息"));
    m_rec.PhotoStream = &m_photoBytes;
    m_rec.TerminalStream = &m_terminalBytes;

    lblHint = new QLabel(QString::fromUtf8(IdleHint), this);
    QFont hintFont = lblHint->font();
    hintFont.setBold(true);
    lblHint->setFont(hintFont);

    // The quick bar.
    pnlQuick = new QWidget(this);
    btnBuildInfo = MakeButton(QStringLiteral("小区资料录入"), pnlQuick);
    btnTerminals = MakeButton(QStringLiteral("门禁登记"), pnlQuick);
    btnClear = MakeButton(QStringLiteral("清空输入"), pnlQuick);
    btnSave = MakeButton(QStringLiteral("确认增加"), pnlQuick);
    {
        auto* h = new QHBoxLayout(pnlQuick);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(new QLabel(QStringLiteral("快捷功能："), pnlQuick));
        for (QPushButton* b : {btnBuildInfo, btnTerminals, btnClear, btnSave})
            h->addWidget(b);
    }

    // The building tree.
    pnlTree = new QWidget(this);
    tvBuild = new BuildTreeView(pnlTree);
    tvBuild->setMinimumWidth(170);
    QAction* treeBuildInfo = tvBuild->PopupMenu()->addAction(QStringLiteral("小区资料录入"));
    {
        auto* v = new QVBoxLayout(pnlTree);
        v->setContentsMargins(0, 0, 0, 0);
        QLabel* title = CaptionFor(tvBuild, QStringLiteral("小区资料"), pnlTree);
        title->setStyleSheet(QStringLiteral("font-weight: bold;"));
        v->addWidget(title);
        v->addWidget(tvBuild, 1);
    }

    // The owner.
    grpOwner = new QGroupBox(QStringLiteral("业主资料"), this);
    edtCardNo = new QLineEdit(grpOwner);
    btnCheckNo = MakeButton(QStringLiteral("检查编号"), grpOwner);
    edtDongHao = new QLineEdit(grpOwner);
    edtDanYuan = new QLineEdit(grpOwner);
    for (QLineEdit* place : {edtDongHao, edtDanYuan}) {
        place->setReadOnly(true); // filled from the tree or from the owner
        place->setMaximumWidth(90);
    }
    edtFangHao = new QLineEdit(grpOwner);
    edtFangHao->setMaximumWidth(90);
    lblSerial = MakeValueLabel(QString(), grpOwner);
    lblSerial->setMinimumWidth(100);
    edtUserName = new QLineEdit(grpOwner);
    cbbSex = new QComboBox(grpOwner);
    cbbSex->addItems({QStringLiteral("男"), QStringLiteral("女")});
    edtPhone = new QLineEdit(grpOwner);
    mmoRemark = new QPlainTextEdit(grpOwner);
    mmoRemark->setTabChangesFocus(true);
    mmoRemark->setMaximumHeight(52); // two lines in view; more scroll
    imgPhoto = MakePhotoBox({120, 150}, grpOwner);
    btnPhoto = MakeButton(QStringLiteral("导入"), grpOwner);
    btnNoPhoto = new QToolButton(grpOwner);
    btnNoPhoto->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));
    btnNoPhoto->setToolTip(QStringLiteral("默认相片"));
    btnNoPhoto->setAccessibleName(QStringLiteral("默认相片"));
    auto* quickHint =
        new QLabel(QStringLiteral("快速发卡操作提示：不填入资料，系统会使用默认值。"), grpOwner);
    quickHint->setStyleSheet(QStringLiteral("color: #a05a00;"));
    {
        auto* g = new QGridLayout;
        g->setVerticalSpacing(4);
        int row = 0;
        g->addWidget(CaptionFor(edtCardNo, QStringLiteral("卡编号："), grpOwner), row, 0);
        auto* cardNo = new QHBoxLayout;
        cardNo->addWidget(edtCardNo, 1);
        cardNo->addWidget(btnCheckNo);
        g->addLayout(cardNo, row++, 1, 1, 3);
        g->addWidget(CaptionFor(edtDongHao, QStringLiteral("栋号："), grpOwner), row, 0);
        g->addWidget(edtDongHao, row, 1);
        g->addWidget(CaptionFor(edtDanYuan, QStringLiteral("单元号："), grpOwner), row, 2);
        g->addWidget(edtDanYuan, row++, 3);
        g->addWidget(CaptionFor(edtFangHao, QStringLiteral("房号："), grpOwner), row, 0);
        g->addWidget(edtFangHao, row, 1);
        g->addWidget(CaptionFor(lblSerial, QStringLiteral("卡号："), grpOwner), row, 2);
        g->addWidget(lblSerial, row++, 3);
        g->addWidget(CaptionFor(edtUserName, QStringLiteral("业主姓名："), grpOwner), row, 0);
        g->addWidget(edtUserName, row, 1);
        g->addWidget(CaptionFor(cbbSex, QStringLiteral("性别："), grpOwner), row, 2);
        g->addWidget(cbbSex, row++, 3);
        g->addWidget(CaptionFor(edtPhone, QStringLiteral("联系电话:"), grpOwner), row, 0);
        g->addWidget(edtPhone, row++, 1, 1, 3);
        g->addWidget(CaptionFor(mmoRemark, QStringLiteral("备注："), grpOwner), row, 0, Qt::AlignTop);
        g->addWidget(mmoRemark, row++, 1, 1, 3);
        g->setColumnStretch(1, 1);
        g->setColumnStretch(3, 1);

        auto* photo = new QVBoxLayout;
        photo->addWidget(new QLabel(QStringLiteral("相片（200K）："), grpOwner));
        photo->addWidget(imgPhoto);
        auto* photoButtons = new QHBoxLayout;
        photoButtons->addWidget(btnPhoto);
        photoButtons->addWidget(btnNoPhoto);
        photo->addLayout(photoButtons);
        photo->addStretch();

        auto* h = new QHBoxLayout;
        h->addLayout(g, 1);
        h->addSpacing(12);
        h->addLayout(photo);
        auto* v = new QVBoxLayout(grpOwner);
        v->setContentsMargins(CompactGroupMargins);
        v->setSpacing(4);
        v->addLayout(h);
        v->addWidget(quickHint);
    }

    // What is on a card after a card operation in ownerless mode.
    grpCard = new QGroupBox(QStringLiteral("卡内信息"), this);
    lblCardSerial = MakeValueLabel(QString(), grpCard);
    lblCardRegion = MakeValueLabel(QString(), grpCard);
    chkCardUseExpiry = new QCheckBox(QStringLiteral("使用有效期"), grpCard);
    chkCardUseExpiry->setAttribute(Qt::WA_TransparentForMouseEvents); // shows the card, takes no input
    chkCardUseExpiry->setFocusPolicy(Qt::NoFocus);
    lblCardExpiry = MakeValueLabel(QString(), grpCard);
    cbbCardType = new QComboBox(grpCard);
    cbbCardType->addItems({QStringLiteral("用户卡"), QStringLiteral("管理卡")});
    {
        auto* g = new QGridLayout(grpCard);
        g->addWidget(CaptionFor(lblCardSerial, QStringLiteral("卡号："), grpCard), 0, 0);
        g->addWidget(lblCardSerial, 0, 1);
        g->addWidget(CaptionFor(lblCardRegion, QStringLiteral("小区编号："), grpCard), 0, 2);
        g->addWidget(lblCardRegion, 0, 3);
        g->addWidget(chkCardUseExpiry, 1, 0);
        g->addWidget(CaptionFor(lblCardExpiry, QStringLiteral("有效期："), grpCard), 1, 2);
        g->addWidget(lblCardExpiry, 1, 3);
        g->addWidget(CaptionFor(cbbCardType, QStringLiteral("卡类型"), grpCard), 2, 0);
        g->addWidget(cbbCardType, 2, 1);
        g->addWidget(new QLabel(QStringLiteral("授权的门禁："), grpCard), 2, 2);
        g->setColumnStretch(1, 1);
        g->setColumnStretch(3, 1);
    }

    // The door terminals the card opens, and its expiry.
    grpTerminals = new QGroupBox(QStringLiteral("登记的门禁"), this);
    grid = new TerminalGrid(grpTerminals);
    grid->setAccessibleName(QStringLiteral("登记的门禁"));
    chkUseExpiry = new QCheckBox(QStringLiteral("使用有效期"), grpTerminals);
    dtpExpiry = new QDateEdit(grpTerminals);
    dtpExpiry->setCalendarPopup(true);
    dtpExpiry->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    lblExpiry = CaptionFor(dtpExpiry, QStringLiteral("有效期："), grpTerminals);
    chkProperty = new QCheckBox(QStringLiteral("物业卡"), grpTerminals);
    lblRegion = MakeValueLabel(QString(), grpTerminals);
    m_fields = {.cardNo = edtCardNo,
                .dongHao = edtDongHao,
                .danYuan = edtDanYuan,
                .fangHao = edtFangHao,
                .userName = edtUserName,
                .useExpiry = chkUseExpiry,
                .expiry = dtpExpiry,
                .property = chkProperty,
                .terminals = grid};
    lblRegion->setStyleSheet(QStringLiteral("font-weight: bold;"));
    {
        auto* row = new QHBoxLayout;
        row->addWidget(chkUseExpiry);
        row->addWidget(lblExpiry);
        row->addWidget(dtpExpiry);
        row->addSpacing(16);
        row->addWidget(chkProperty);
        row->addStretch();
        row->addWidget(CaptionFor(lblRegion, QStringLiteral("小区编号："), grpTerminals));
        row->addWidget(lblRegion);
        auto* v = new QVBoxLayout(grpTerminals);
        v->setContentsMargins(CompactGroupMargins);
        v->setSpacing(4);
        v->addWidget(grid, 1);
        v->addLayout(row);
    }

    btnWrite = MakeButton(QStringLiteral("保存并写卡"), this);
    btnRead = MakeButton(QStringLiteral("读  卡"), this);
    btnCancel = MakeButton(QStringLiteral("取消操作"), this);
    btnSelectAll = MakeButton(QStringLiteral("全部选择"), this);
    btnSelectNone = MakeButton(QStringLiteral("取消选择"), this);

    auto* right = new QVBoxLayout;
    right->addWidget(grpOwner);
    right->addWidget(grpCard);
    right->addWidget(grpTerminals, 1);
    auto* body = new QHBoxLayout;
    body->addWidget(pnlTree);
    body->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {btnWrite, btnRead, btnCancel})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(btnSelectAll);
    buttons->addWidget(btnSelectNone);
    // The hint and the quick bar share the top line, the hint at the left where the eye starts;
    // the rest of the height goes to the terminal grid.
    auto* top = new QHBoxLayout;
    top->addWidget(lblHint, 1);
    top->addWidget(pnlQuick);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 8, 14, 8);
    layout->addLayout(top);
    layout->addLayout(body, 1);
    layout->addLayout(buttons);
    SetOpeningSize({1000, 760});

    tmrHint = new QTimer(this);
    tmrHint->setInterval(5000);
    OnSignal(tmrHint, &QTimer::timeout, this, &TFormAlter::tmrHintTimer);
    tmrNoAnswer = new QTimer(this);
    tmrNoAnswer->setSingleShot(true);
    tmrNoAnswer->setInterval(NoAnswerMs);
    OnSignal(tmrNoAnswer, &QTimer::timeout, this, &TFormAlter::tmrNoAnswerTimer);

    OnClick(btnSave, this, &TFormAlter::btnSaveClick);
    OnClick(btnWrite, this, &TFormAlter::btnWriteClick);
    OnClick(btnRead, this, &TFormAlter::btnReadClick);
    OnClick(btnCancel, this, &TFormAlter::reject);
    OnClick(btnClear, this, &TFormAlter::btnClearClick);
    OnClick(btnCheckNo, this, &TFormAlter::btnCheckNoClick);
    OnClick(btnPhoto, this, &TFormAlter::btnPhotoClick);
    OnClick(btnNoPhoto, this, &TFormAlter::btnNoPhotoClick);
    OnClick(btnBuildInfo, this, &TFormAlter::btnBuildInfoClick);
    OnSignal(treeBuildInfo, &QAction::triggered, this, &TFormAlter::btnBuildInfoClick);
    OnClick(btnTerminals, this, &TFormAlter::btnTerminalsClick);
    OnClick(btnSelectAll, grid, &TerminalGrid::TickAll);
    OnClick(btnSelectNone, grid, &TerminalGrid::ClearAll);
    OnClick(chkProperty, this, &TFormAlter::chkPropertyClick);
    OnSignal(tvBuild, &BuildTreeView::nodeChosen, this, &TFormAlter::tvBuildClick);
}

TFormAlter::~TFormAlter() = default;

void TFormAlter::SetMode(Mode mode, int idx)
{
    m_mode = mode;
    m_idx = idx;
}

void TFormAlter::SetHint(const QString& text, const QColor& color)
{
    lblHint->setText(text);
    lblHint->setStyleSheet(QStringLiteral("color: %1;").arg(color.name()));
}

void TFormAlter::FormShow()
{
    m_photoPath.clear();
    SetHint(QString::fromUtf8(IdleHint), HintIdle);
    lblRegion->setText(GbkToString(SystemInfo.RegionID, 8));
    ShowCardSerial(lblSerial, QString());
    ShowCardSerial(lblCardSerial, QString());
    lblCardRegion->clear();
    lblCardExpiry->clear();
    chkCardUseExpiry->setChecked(false);
    grpCard->hide();
    cbbCardType->setEnabled(OperatorLevel != 0);
    chooseText(cbbCardType, QStringLiteral("用户卡"));
    chkUseExpiry->show();
    lblExpiry->hide();
    btnCancel->setText(QStringLiteral("取消操作"));
    btnCancel->setAccessibleName(btnCancel->text());
    // The grid and the tree are read before anything that could fail on a bad owner row.
    grid->BuildGrid();
    clearInputs();

    const bool ownerless = m_mode == Mode::Ownerless;
    pnlQuick->setVisible(!ownerless);
    pnlTree->setVisible(!ownerless);
    grpOwner->setVisible(!ownerless);
    btnClear->setVisible(m_mode == Mode::Add);
    btnSave->setVisible(m_mode == Mode::Add || m_mode == Mode::Modify);
    btnWrite->setText(ownerless ? QStringLiteral("写授权卡") : QStringLiteral("保存并写卡"));
    btnWrite->setAccessibleName(btnWrite->text());
    switch (m_mode) {
    case Mode::Add:
        btnSave->setText(QStringLiteral("确认增加"));
        setWindowTitle(QStringLiteral("增加业主信息"));
        break;
    case Mode::Modify:
        btnSave->setText(QStringLiteral("确认修改"));
        setWindowTitle(QStringLiteral("修改业主信息"));
        break;
    case Mode::Details:
        setWindowTitle(QStringLiteral("查询业主详细信息"));
        btnCancel->setText(QStringLiteral("返  回"));
        btnCancel->setAccessibleName(btnCancel->text());
        break;
    case Mode::Ownerless:
        setWindowTitle(QStringLiteral("无业主发卡"));
        chkUseExpiry->setChecked(true); // every card written here expires
        chkUseExpiry->hide();
        lblExpiry->show();
        break;
    }
    btnSave->setAccessibleName(btnSave->text());
    if (!ownerless)
        tvBuild->Fill();
    if (m_mode == Mode::Modify || m_mode == Mode::Details) {
        LoadUserInfoByIdx(*dm, m_idx, m_rec);
        m_rec.idx = m_idx;
        ShowOwner();
    }
}

void TFormAlter::ShowOwner()
{
    m_fields.Show(m_rec);
    mmoRemark->setPlainText(shownLines(m_rec.Remark));
    chooseText(cbbSex, m_rec.Sex);
    edtPhone->setText(m_rec.Phone);
    chooseText(cbbCardType, m_rec.UserType.isEmpty() ? QStringLiteral("用户卡") : m_rec.UserType);
    // The operator may be choosing another photo: one that does not decode leaves the picture.
    ShowOwnerPhoto(imgPhoto, m_rec, PhotoFailure::KeepPicture);
}

void TFormAlter::ShowPlaceholder()
{
    imgPhoto->clear();
    ShowPlaceholderPhoto(imgPhoto);
}

void TFormAlter::btnClearClick()
{
    clearInputs();
    // In add mode the next owner is another row: nothing of the owner added before goes into it,
    // neither its row, nor its card, nor its photo (the placeholder shows).
    if (m_mode == Mode::Add) {
        m_idx = 0;
        m_rec = TuserInfoRec{};
        m_rec.PhotoStream = &m_photoBytes;
        m_rec.TerminalStream = &m_terminalBytes;
        m_photoBytes.clear();
        m_terminalBytes.clear();
        m_photoPath.clear();
        ShowCardSerial(lblSerial, QString());
    }
}

void TFormAlter::clearInputs()
{
    for (QLineEdit* box : {edtFangHao, edtUserName, edtCardNo, edtPhone})
        box->clear();
    mmoRemark->clear();
    dtpExpiry->setDate(Now().date().addDays(365));
    if (m_mode != Mode::Ownerless)
        chkUseExpiry->setChecked(false);
    chkProperty->setChecked(false);
    grid->ClearAll();
    ShowPlaceholder();
}

void TFormAlter::tvBuildClick(QTreeWidgetItem* node)
{
    if (m_mode != Mode::Add)
        return;
    if (node && node->childCount() > 0)
        return;
    if (!node || !node->parent()) {
        ShowMessage(QStringLiteral("请输入小区资料"));
        return;
    }
    edtDongHao->setText(BuildTreeView::BuildingText(node));
    edtDanYuan->setText(BuildTreeView::UnitText(node));
}

void TFormAlter::btnCheckNoClick()
{
    if (CardNoExists(*dm, edtCardNo->text()))
        ShowMessage(QStringLiteral("卡编号已被使用，请选择其他"));
    else
        ShowMessage(QStringLiteral("恭喜，卡编号可以使用"));
}

void TFormAlter::btnPhotoClick()
{
    const QString path = dialogs().openFileName(QString(), PhotoFolder(), QStringLiteral("个人相片 (*.jpg)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).fileName().size() > 10) {
        ShowError(QStringLiteral("文件名错误：图片文件名太长（请小于7个字符）"));
        return;
    }
    bool shown = false;
    LoadPhoto(path, imgPhoto, &shown);
    if (shown)
        m_photoPath = path;
}

void TFormAlter::btnNoPhotoClick()
{
    ShowPlaceholder();
}

void TFormAlter::chkPropertyClick()
{
    m_fields.ApplyProperty();
}

void TFormAlter::btnBuildInfoClick()
{
    {
        TFormBuildInfo window(this);
        window.exec();
    }
    tvBuild->Fill();
}

void TFormAlter::btnTerminalsClick()
{
    {
        TFormTerminalRegster window(this);
        window.exec();
    }
    grid->BuildGrid();
}

void TFormAlter::FillRecord()
{
    m_fields.Read(m_rec);
    m_rec.Remark = storedLines(mmoRemark->toPlainText());
    m_rec.Sex = cbbSex->currentText();
    m_rec.Phone = edtPhone->text();
    m_rec.UserType = cbbCardType->currentText();
    // The stored photo stays unless another one was chosen.
    if (!m_photoPath.isEmpty())
        m_rec.ExtName = QFileInfo(m_photoPath).fileName();
}

void TFormAlter::CopyPhoto()
{
    if (m_photoPath.isEmpty())
        return;
    QDir().mkpath(PhotoFolder());
    const QString target = QDir(PhotoFolder()).filePath(m_rec.ExtName);
    const QFileInfo from(m_photoPath);
    if (QFileInfo::exists(target)) {
        if (from.canonicalFilePath() == QFileInfo(target).canonicalFilePath())
            return; // chosen from the photo folder itself
        if (!AskYesNo(QStringLiteral("客户相片已经存在，覆盖原有相片吗？")))
            return;
    }
    // The old photo is replaced only by a whole copy; a copy that fails leaves it.
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    if (QFile::copy(m_photoPath, part) && ReplaceFile(part, target))
        return;
    QFile::remove(part);
}

void TFormAlter::FillUserCard()
{
    UserCardRec.Kind = OwnerCardKind;
    FillOwnerCard(chkUseExpiry->isChecked(), dtpExpiry->date(), grid->Bitmap());
}

bool TFormAlter::SaveOwner(bool write)
{
    if (edtCardNo->text().trimmed().isEmpty())
        edtCardNo->setText(Now().toString(QStringLiteral("yyMMddHHmmss")));
    const struct {
        QLineEdit* box;
        const char* fallback;
    } defaults[] = {{edtDongHao, "12"}, {edtDanYuan, "01"}, {edtFangHao, "0101"}, {edtUserName, "通用卡"}};
    for (const auto& d : defaults)
        if (d.box->text().isEmpty())
            d.box->setText(QString::fromUtf8(d.fallback));

    FillRecord();
    CopyPhoto();
    m_rec.idx = m_idx;
    if (m_mode == Mode::Add) {
        // An owner with the same card number gives way to this one, in the same change; the card
        // that row holds goes along only when it was this record's own row, and so does a write
        // still in flight for it.
        int replaced = 0;
        if (!AddUserInfo(*dm, m_rec, &replaced))
            return false;
        if (replaced > 0 && replaced == m_idx)
            m_writeFor.Replaced(replaced, m_rec.idx);
        m_idx = m_rec.idx;
    } else if (!UpdateUserInfo(*dm, m_rec)) {
        return false;
    }
    if (write && IssueCardCommand(CmdWriteOwnerCard, [this] {
            FillUserCard();
            return true;
        })) {
        m_writeFor.Issued(m_idx);
        StartWaiting(QStringLiteral("等待写卡..."));
    }
    return true;
}

void TFormAlter::btnSaveClick()
{
    if (SaveOwner(false))
        ShowMessage(QStringLiteral("保存完成"));
}

void TFormAlter::btnWriteClick()
{
    ResetHint();
    // Refused before anything is saved.
    if (!CardCommandAllowed(CmdWriteOwnerCard))
        return;
    if (m_mode == Mode::Ownerless) {
        if (IssueCardCommand(CmdWriteOwnerCard, [this] {
                FillUserCard();
                return true;
            })) {
            m_writeFor.Issued(0); // the card belongs to no one
            StartWaiting(QStringLiteral("等待写卡..."));
        }
        return;
    }
    // The hint waits from the moment the write goes out: a save the database refused sends
    // nothing.
    SaveOwner(true);
}

void TFormAlter::btnReadClick()
{
    ResetHint();
    if (!CardCommandAllowed(CmdReadOwnerCard))
        return;
    if (IssueCardCommand(CmdReadOwnerCard)) {
        m_writeFor.Forget(); // the read takes the place of a write in flight
        StartWaiting(QStringLiteral("等待读卡..."));
    }
}

void TFormAlter::StartWaiting(const QString& text)
{
    SetHint(text, HintWaiting);
    m_waiting = true;
    tmrNoAnswer->start();
}

void TFormAlter::StopWaiting()
{
    m_waiting = false;
    tmrNoAnswer->stop();
}

void TFormAlter::ResetHint()
{
    StopWaiting();
    tmrHint->stop();
    SetHint(QString::fromUtf8(IdleHint), HintIdle);
    grpCard->hide();
}

void TFormAlter::tmrNoAnswerTimer()
{
    if (!m_waiting)
        return;
    // The command stays pending: an answer that still comes is taken over as any other.
    StopWaiting();
    SetHint(QStringLiteral("操作结果：发卡器没有应答，请检查发卡器后重新操作"), HintResult);
}

void TFormAlter::tmrAnswerTimer()
{
    if (!CardDataReady) {
        // A card issuer pulled out answers nothing: the command is over.
        if (m_waiting && !CardIssuerAttached()) {
            StopWaiting();
            m_writeFor.Forget();
            if (PendingCommand == CmdWriteOwnerCard || PendingCommand == CmdReadOwnerCard)
                PendingCommand = IdleCommand;
            SetHint(QStringLiteral("操作结果：发卡器已拔出，请插入发卡器后重新操作"), HintResult);
        }
        return;
    }
    CardDataReady = 0;
    StopWaiting();
    if (CardResult != 0) {
        // Nothing was written or read: the hint says why until the next card action.
        const bool wasWrite = PendingCommand == CmdWriteOwnerCard;
        PendingCommand = IdleCommand;
        RecordOwnerCardAnswer(wasWrite ? OwnerCardUse::Written : OwnerCardUse::Read, CardResult,
                              m_writeFor.Take().value_or(0));
        SetHint(QStringLiteral("操作结果：") + CardFailureText(CardResult), HintResult);
        return;
    }
    tmrHint->start();
    SetHint(QStringLiteral("操作结果：卡操作完成"), HintResult);
    const QString serial = PadNumber(UserCardRec.CardSerial, 10);
    ShowCardSerial(lblSerial, serial);
    ShowCardSerial(lblCardSerial, serial);
    lblCardRegion->setText(GbkToString(UserCardRec.RegionID, 8));
    chkCardUseExpiry->setChecked(UserCardRec.UseExpiry != 0);
    chkUseExpiry->setChecked(UserCardRec.UseExpiry != 0);
    lblCardExpiry->setText(QStringLiteral("20") + QString::fromLatin1(UserCardRec.Expiry, 6));

    // Set back to idle before anything below can fail, so that the answer is taken only once.
    const std::optional<int> issuedFor = m_writeFor.Take();
    const std::optional<int> writtenFor = PendingCommand == CmdWriteOwnerCard ? issuedFor : std::nullopt;
    PendingCommand = IdleCommand;
    if (writtenFor) {
        // The card is registered to the owner it was written for, and to no one else.
        RegisterWrittenCard(*writtenFor, serial);
    }
    RecordOwnerCardAnswer(writtenFor ? OwnerCardUse::Written : OwnerCardUse::Read, 0, writtenFor.value_or(0));
    if (m_mode == Mode::Ownerless) {
        grpCard->show();
    } else if (const std::optional<CardHolder> holder = FindCardHolder(*dm, serial);
               holder && holder->idx > 0) {
        ShowFoundOwner(*holder);
    } else {
        for (QLineEdit* box : {edtCardNo, edtDongHao, edtDanYuan, edtFangHao, edtUserName, edtPhone})
            box->clear();
        mmoRemark->clear();
        chooseText(cbbSex, QStringLiteral("男"));
    }
    grid->SetBitmap(UserCardRec.Terminals);
}

void TFormAlter::ShowFoundOwner(const CardHolder& owner)
{
    edtCardNo->setText(owner.CardNo);
    edtDongHao->setText(owner.DongHao);
    edtDanYuan->setText(owner.DanYuan);
    edtFangHao->setText(owner.FangHao);
    edtUserName->setText(owner.UserName);
    mmoRemark->setPlainText(shownLines(owner.Remark));
    chooseText(cbbSex, owner.Sex);
    edtPhone->setText(owner.Phone);
    chkUseExpiry->setChecked(owner.IsUseExpDate);
    if (owner.ExpDate)
        dtpExpiry->setDate(*owner.ExpDate);
}

void TFormAlter::tmrHintTimer()
{
    ResetHint();
}
