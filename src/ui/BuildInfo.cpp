#include "BuildInfo.h"

#include "Actions.h"
#include "ListScreen.h"
#include "Widgets.h"
#include "office/Lists.h"
#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/ListModel.h"
#include "store/OperationError.h"
#include "store/SqlText.h"
#include "store/TvexTerminalInfo.h"

#include <QAction>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QList<ListColumn> Columns = {
    {QStringLiteral("-"), QStringLiteral("selFlag"), ListColumnKind::Check},
    {QStringLiteral("栋  号"), QStringLiteral("DongHao")},
    {QStringLiteral("单元号"), QStringLiteral("DanYuan")},
    {QStringLiteral("昵称"), QStringLiteral("DanYuanName")},
};

} // namespace

TFormBuildInfo::TFormBuildInfo(QWidget* parent)
    : Dialog(parent), m_model(std::make_unique<ListModel>(*dm, Columns))
{
    setWindowTitle(QStringLiteral("小区资料管理"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* note = new QLabel(QStringLiteral("提示：可使用右键操作"), this);
    note->setStyleSheet(QStringLiteral("color: #666666;"));

    grpInput = new QGroupBox(QStringLiteral("小区资料"), this);
    edtDongHao = new QLineEdit(grpInput);
    edtDanYuan = new QLineEdit(grpInput);
    edtDanYuanName = new QLineEdit(grpInput);
    for (QLineEdit* number : {edtDongHao, edtDanYuan})
        number->setMaximumWidth(140);
    btnAdd = MakeButton(QStringLiteral("增加"), grpInput);
    btnClear = MakeButton(QStringLiteral("清空输入"), grpInput);
    btnSearch = MakeButton(QStringLiteral("查询"), grpInput);
    {
        auto* g = new QGridLayout(grpInput);
        g->addWidget(CaptionFor(edtDongHao, QStringLiteral("栋  号："), grpInput), 0, 0);
        g->addWidget(edtDongHao, 0, 1, Qt::AlignLeft);
        g->addWidget(CaptionFor(edtDanYuan, QStringLiteral("单元号："), grpInput), 1, 0);
        g->addWidget(edtDanYuan, 1, 1, Qt::AlignLeft);
        g->addWidget(CaptionFor(edtDanYuanName, QStringLiteral("昵  称："), grpInput), 2, 0);
        g->addWidget(edtDanYuanName, 2, 1);
        auto* buttons = new QVBoxLayout;
        buttons->addWidget(btnAdd);
        buttons->addWidget(btnClear);
        buttons->addWidget(btnSearch);
        g->addLayout(buttons, 0, 2, 3, 1);
        g->setColumnStretch(1, 1);
        g->setHorizontalSpacing(10);
    }

    grid = new ListGrid(*m_model, this);
    grid->setToolTip(QStringLiteral("双击可选择记录"));
    grid->setAccessibleName(QStringLiteral("记录明细"));
    grid->horizontalHeader()->resizeSection(0, 36);
    grid->horizontalHeader()->resizeSection(1, 90);
    grid->horizontalHeader()->resizeSection(2, 90);
    actSelectAll = grid->PopupMenu()->addAction(QStringLiteral("全部选择"));
    actSelectNone = grid->PopupMenu()->addAction(QStringLiteral("全部不选"));
    grid->PopupMenu()->addSeparator();
    actDeleteRow = grid->PopupMenu()->addAction(QStringLiteral("删除此记录"));

    lblCount = MakeValueLabel(QStringLiteral("0"), this);
    btnDelete = MakeButton(QStringLiteral("删除"), this);
    btnDelete->setToolTip(QStringLiteral("删除选择的记录"));
    btnReturn = MakeButton(QStringLiteral("返回"), this);

    auto* title = new QLabel(QStringLiteral("记录明细"), this);
    title->setStyleSheet(QStringLiteral("font-weight: bold;"));
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(title);
    countRow->addStretch();
    countRow->addWidget(CaptionFor(lblCount, QStringLiteral("记录数："), this));
    countRow->addWidget(lblCount);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnDelete);
    buttons->addWidget(btnReturn);

    auto* heading = new QHBoxLayout;
    heading->addWidget(MakeHeading(QStringLiteral("小区资料录入"), this));
    heading->addStretch();
    heading->addWidget(note, 0, Qt::AlignBottom);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->addLayout(heading);
    layout->addWidget(grpInput);
    layout->addLayout(countRow);
    layout->addWidget(grid, 1);
    layout->addLayout(buttons);
    SetOpeningSize({600, 580});

    // Enter walks building, unit, nickname, then "增加" (where the next Enter adds).
    OnSignal(edtDongHao, &QLineEdit::returnPressed, this, [this] { edtDanYuan->setFocus(); });
    OnSignal(edtDanYuan, &QLineEdit::returnPressed, this, [this] { edtDanYuanName->setFocus(); });
    OnSignal(edtDanYuanName, &QLineEdit::returnPressed, this, [this] { btnAdd->setFocus(); });
    OnClick(btnAdd, this, &TFormBuildInfo::btnAddClick);
    OnClick(btnClear, this, &TFormBuildInfo::btnClearClick);
    OnClick(btnSearch, this, &TFormBuildInfo::btnSearchClick);
    OnClick(btnDelete, this, &TFormBuildInfo::btnDeleteClick);
    OnClick(btnReturn, this, &TFormBuildInfo::accept);
    OnSignal(actSelectAll, &QAction::triggered, this, &TFormBuildInfo::actSelectAllClick);
    OnSignal(actSelectNone, &QAction::triggered, this, &TFormBuildInfo::actSelectNoneClick);
    OnSignal(actDeleteRow, &QAction::triggered, this, &TFormBuildInfo::actDeleteRowClick);
    // A row fills the boxes when it is clicked or Enter is pressed on it, not while the keyboard
    // moves through the list: what was typed stays until a row is taken.
    OnSignal(grid, &ListGrid::rowPicked, this, &TFormBuildInfo::gridRowPicked);
    OnSignal(grid, &ListGrid::loaded, this, [this](int count) { lblCount->setText(QString::number(count)); });
    grid->SetToggle([this](int idx) { gridToggle(idx); });
}

TFormBuildInfo::~TFormBuildInfo() = default;

void TFormBuildInfo::Reload(int idx)
{
    grid->Open(UnitList(), idx);
}

void TFormBuildInfo::FormShow()
{
    btnClearClick();
    TvexTerminalInfo::SelectNone();
    Reload();
    edtDongHao->setFocus();
}

void TFormBuildInfo::gridRowPicked(int row)
{
    const auto text = [&](const char* field) {
        const QVariant v = m_model->FieldAt(row, QLatin1String(field));
        return v.isNull() ? QString() : v.toString();
    };
    edtDongHao->setText(text("DongHao"));
    edtDanYuan->setText(text("DanYuan"));
    edtDanYuanName->setText(text("DanYuanName"));
}

void TFormBuildInfo::btnAddClick()
{
    if (edtDongHao->text().isEmpty() || edtDanYuan->text().isEmpty()) {
        ShowMessage(QStringLiteral("请输入栋号和单元号"));
        return;
    }
    // Adding a pair that is there already replaces its nickname, in one change.
    TvexTerminalInfo::ReplaceBuildUnit(edtDongHao->text(), edtDanYuan->text(), edtDanYuanName->text());
    Reload(TvexTerminalInfo::FindBuildUnit(edtDongHao->text(), edtDanYuan->text()));
}

void TFormBuildInfo::btnDeleteClick()
{
    if (!AskYesNo(QStringLiteral("确认删除选择的记录？(Y/N)")))
        return;
    TvexTerminalInfo::DeleteSelected();
    Reload();
}

void TFormBuildInfo::actDeleteRowClick()
{
    const int idx = grid->CurrentIdx();
    if (idx < 0)
        return;
    if (!AskYesNo(QStringLiteral("确认删除记录？(Y/N)")))
        return;
    TvexTerminalInfo::DeleteRow(idx);
    grid->Open(UnitList(), 0, FallbackRow::SameRow);
}

void TFormBuildInfo::gridToggle(int idx)
{
    TvexTerminalInfo::SetSelected(idx, TvexTerminalInfo::IsSelected(idx) ? 0 : 1);
    Reload(idx);
}

void TFormBuildInfo::actSelectAllClick()
{
    if (grid->RecordCount() == 0)
        return;
    TvexTerminalInfo::SelectAll();
    Reload(grid->CurrentIdx());
}

void TFormBuildInfo::actSelectNoneClick()
{
    if (grid->RecordCount() == 0)
        return;
    TvexTerminalInfo::SelectNone();
    Reload(grid->CurrentIdx());
}

void TFormBuildInfo::btnClearClick()
{
    edtDongHao->clear();
    edtDanYuan->clear();
    edtDanYuanName->clear();
}

void TFormBuildInfo::btnSearchClick()
{
    // Each box that is not blank narrows the list; its text is the value as typed.
    // A box left blank does not narrow the list; a number box whose text is no whole number
    // empties it and says so.
    const auto number = [&](QLineEdit* box) -> std::optional<int> {
        if (box->text().trimmed().isEmpty())
            return std::nullopt;
        const std::optional<int> value = ParseInt32(box->text());
        if (!value) {
            grid->Clear();
            ThrowNotAnInteger(box->text());
        }
        return value;
    };
    const std::optional<int> building = number(edtDongHao);
    const std::optional<int> unit = number(edtDanYuan);
    grid->Open(UnitList(building, unit, edtDanYuanName->text()));
}
