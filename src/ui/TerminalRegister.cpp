#include "TerminalRegister.h"

#include "Actions.h"
#include "ListScreen.h"
#include "SearchCondition.h"
#include "Widgets.h"
#include "office/Lists.h"
#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/ListModel.h"
#include "store/LogEntries.h"
#include "store/SqlText.h"
#include "store/TvexDeviceInfo.h"

#include <QAction>
#include <QContextMenuEvent>
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
    {QStringLiteral("选择"), QStringLiteral("selFlag"), ListColumnKind::Check},
    {QStringLiteral("编   码"), QStringLiteral("TerminalID")},
    {QStringLiteral("名    称"), QStringLiteral("TerminalName")},
    {QStringLiteral("备注"), QStringLiteral("Remark")},
};

constexpr int HighestTerminalID = 255; // terminal numbers run from 0 to 255

// A group box with a pop-up menu of its own (the right click on the boxes' frame).
class MenuGroupBox final : public QGroupBox {
public:
    MenuGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent), m_menu(new QMenu(this)) {}
    QMenu* Menu() const { return m_menu; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        m_menu->popup(event->globalPos());
        event->accept();
    }

private:
    QMenu* m_menu;
};

} // namespace

TFormTerminalRegster::TFormTerminalRegster(QWidget* parent)
    : Dialog(parent), m_model(std::make_unique<ListModel>(*dm, Columns))
{
    setWindowTitle(QStringLiteral("门禁资料登记"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    lblCount = MakeValueLabel(QStringLiteral("..."), this);
    lblCount->setStyleSheet(QStringLiteral("font-weight: bold; color: #1f4e8c;"));
    auto* doubleClickNote = new QLabel(QStringLiteral("双击记录，选择删除的记录"), this);
    doubleClickNote->setStyleSheet(QStringLiteral("color: #666666;"));
    btnUndoSelect = MakeButton(QStringLiteral("撤销选择"), this);

    grid = new ListGrid(*m_model, this);
    grid->setToolTip(QStringLiteral("双击可选择记录"));
    grid->setAccessibleName(QStringLiteral("登记终端"));
    grid->horizontalHeader()->resizeSection(0, 44);
    grid->horizontalHeader()->resizeSection(1, 70);
    grid->horizontalHeader()->resizeSection(2, 180);
    actSelectAll = grid->PopupMenu()->addAction(QStringLiteral("全部选择"));
    actSelectNone = grid->PopupMenu()->addAction(QStringLiteral("放弃选择"));
    grid->PopupMenu()->addSeparator();
    actDeleteRow = grid->PopupMenu()->addAction(QStringLiteral("删除此记录"));

    auto* group = new MenuGroupBox(QStringLiteral("门禁资料信息"), this);
    grpInfo = group;
    grpInfo->setToolTip(QStringLiteral("右键可清空输入项"));
    actClearInput = group->Menu()->addAction(QStringLiteral("清空输入"));
    edtTerminalID = new QLineEdit(QStringLiteral("0"), grpInfo);
    edtTerminalID->setMaximumWidth(90);
    edtTerminalName = new QLineEdit(grpInfo);
    edtRemark = new QLineEdit(grpInfo);
    auto* rangeNote = new QLabel(
        QStringLiteral("(提示：门禁编号从0-255，对应刷卡板跳针，是小区门禁的唯一编码，不可以重复)"), grpInfo);
    rangeNote->setWordWrap(true);
    rangeNote->setStyleSheet(QStringLiteral("color: #a05a00;"));
    {
        auto* g = new QGridLayout(grpInfo);
        g->addWidget(CaptionFor(edtTerminalID, QStringLiteral("门禁编码："), grpInfo), 0, 0);
        g->addWidget(edtTerminalID, 0, 1, Qt::AlignLeft);
        g->addWidget(CaptionFor(edtTerminalName, QStringLiteral("门禁名称："), grpInfo), 1, 0);
        g->addWidget(edtTerminalName, 1, 1);
        g->addWidget(CaptionFor(edtRemark, QStringLiteral("备注说明："), grpInfo), 2, 0);
        g->addWidget(edtRemark, 2, 1);
        g->addWidget(rangeNote, 3, 0, 1, 2);
        g->setColumnStretch(1, 1);
    }

    btnSearch = MakeButton(QStringLiteral("查询"), this);
    btnAdd = MakeButton(QStringLiteral("增加门禁"), this);
    btnModify = MakeButton(QStringLiteral("修改"), this);
    btnModify->setToolTip(QStringLiteral("提示：门禁编码不能被修改"));
    btnDelete = MakeButton(QStringLiteral("删除"), this);
    btnDelete->setToolTip(QStringLiteral("删除选择的记录"));
    btnReturn = MakeButton(QStringLiteral("返回"), this);
    btnAuto = MakeButton(QStringLiteral("自动编码"), this);

    auto* countRow = new QHBoxLayout;
    countRow->addWidget(CaptionFor(lblCount, QStringLiteral("登记终端（台）："), this));
    countRow->addWidget(lblCount);
    countRow->addSpacing(16);
    countRow->addWidget(doubleClickNote);
    countRow->addStretch();
    countRow->addWidget(btnUndoSelect);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAuto);
    buttons->addStretch();
    buttons->addWidget(btnSearch);
    buttons->addWidget(btnAdd);
    buttons->addWidget(btnModify);
    buttons->addWidget(btnDelete);
    buttons->addWidget(btnReturn);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->addWidget(MakeHeading(QStringLiteral("门禁资料登记"), this));
    layout->addLayout(countRow);
    layout->addWidget(grid, 1);
    layout->addWidget(grpInfo);
    layout->addLayout(buttons);
    SetOpeningSize({680, 620});

    OnClick(btnSearch, this, &TFormTerminalRegster::btnSearchClick);
    OnClick(btnAdd, this, &TFormTerminalRegster::btnAddClick);
    OnClick(btnModify, this, &TFormTerminalRegster::btnModifyClick);
    OnClick(btnDelete, this, &TFormTerminalRegster::btnDeleteClick);
    OnClick(btnReturn, this, &TFormTerminalRegster::accept);
    OnClick(btnAuto, this, &TFormTerminalRegster::btnAutoClick);
    OnClick(btnUndoSelect, this, &TFormTerminalRegster::actSelectNoneClick);
    OnSignal(actSelectAll, &QAction::triggered, this, &TFormTerminalRegster::actSelectAllClick);
    OnSignal(actSelectNone, &QAction::triggered, this, &TFormTerminalRegster::actSelectNoneClick);
    OnSignal(actDeleteRow, &QAction::triggered, this, &TFormTerminalRegster::actDeleteRowClick);
    OnSignal(actClearInput, &QAction::triggered, this, &TFormTerminalRegster::actClearInputClick);
    // A row fills the boxes when it is clicked or Enter is pressed on it, not while the keyboard
    // moves through the list: what was typed stays until a row is taken.
    OnSignal(grid, &ListGrid::rowPicked, this, &TFormTerminalRegster::gridRowPicked);
    OnSignal(grid, &ListGrid::loaded, this, [this](int count) { lblCount->setText(QString::number(count)); });
    grid->SetToggle([this](int idx) { gridToggle(idx); });
}

TFormTerminalRegster::~TFormTerminalRegster() = default;

void TFormTerminalRegster::Reload(int idx)
{
    grid->Open(TerminalList(), idx);
}

void TFormTerminalRegster::FormShow()
{
    Reload();
}

void TFormTerminalRegster::gridRowPicked(int row)
{
    const QVariant name = m_model->FieldAt(row, QStringLiteral("TerminalName"));
    const QVariant remark = m_model->FieldAt(row, QStringLiteral("Remark"));
    edtTerminalID->setText(QString::number(m_model->FieldAt(row, QStringLiteral("TerminalID")).toInt()));
    edtTerminalName->setText(name.isNull() ? QString() : name.toString());
    edtRemark->setText(remark.isNull() ? QString() : remark.toString());
}

bool TFormTerminalRegster::CheckTerminalID()
{
    const QString text = edtTerminalID->text();
    if (text.isEmpty())
        return true;
    const std::optional<int> id = ParseInt32(text);
    if (id && *id >= 0 && *id <= HighestTerminalID)
        return true;
    ShowMessage(QStringLiteral("输入错误，输入范围：0-255"));
    edtTerminalID->setFocus();
    return false;
}

bool TFormTerminalRegster::CheckCapacity()
{
    int maxId = 0;
    bool room = false;
    if (GetMaxTerminalID(maxId) < HighestTerminalID) {
        room = maxId < HighestTerminalID;
        for (int id = 1; !room && id <= HighestTerminalID; ++id)
            room = !TerminalExists(id);
    }
    if (!room)
        ShowMessage(QStringLiteral("门禁编号已经被全部使用，不能增加了"));
    return room;
}

void TFormTerminalRegster::btnAddClick()
{
    if (!CheckCapacity() || !CheckTerminalID())
        return;
    // Adding a number that is registered already replaces that terminal, in one change.
    const TTerminalRec rec{0, edtTerminalID->text(), edtTerminalName->text(), edtRemark->text()};
    ReplaceTerminal(rec);
    Reload(FindTerminalIdx(rec.TerminalID));
}

void TFormTerminalRegster::btnModifyClick()
{
    if (grid->RecordCount() == 0 || !CheckTerminalID())
        return;
    // The terminal of the number typed changes, whichever row is current: a number never changes.
    const TTerminalRec rec{grid->CurrentIdx(), edtTerminalID->text(), edtTerminalName->text(),
                           edtRemark->text()};
    UpdateTerminal(rec);
    Reload(FindTerminalIdx(rec.TerminalID));
}

void TFormTerminalRegster::btnDeleteClick()
{
    if (grid->RecordCount() == 0)
        return;
    if (!AskYesNo(QStringLiteral("确认删除选择的记录？(Y/N)")))
        return;
    DeleteSelectedTerminals();
    Reload();
}

void TFormTerminalRegster::actDeleteRowClick()
{
    const int idx = grid->CurrentIdx();
    if (idx < 0)
        return;
    if (!AskYesNo(QStringLiteral("确认删除记录？(Y/N)")))
        return;
    DeleteTerminal(idx);
    grid->Open(TerminalList(), 0, FallbackRow::SameRow);
}

void TFormTerminalRegster::gridToggle(int idx)
{
    SetTerminalSelected(idx, IsTerminalSelected(idx) ? 0 : 1);
    Reload(idx);
}

void TFormTerminalRegster::actSelectAllClick()
{
    if (grid->RecordCount() == 0)
        return;
    SelectAllTerminals();
    Reload(grid->CurrentIdx());
}

void TFormTerminalRegster::actSelectNoneClick()
{
    if (grid->RecordCount() == 0)
        return;
    SelectNoTerminals();
    Reload(grid->CurrentIdx());
}

void TFormTerminalRegster::actClearInputClick()
{
    edtTerminalID->clear();
    edtTerminalName->clear();
    edtRemark->clear();
}

void TFormTerminalRegster::btnSearchClick()
{
    TFormSearchCondition* search = SearchCondition();
    search->SetCaptions(QStringLiteral("门禁编码:"), QStringLiteral("门禁名称"));
    search->exec();
    if (!search->Confirmed)
        return;
    if (search->FirstChosen()) {
        edtTerminalID->setText(search->ChosenText());
        edtTerminalName->clear();
    } else {
        edtTerminalID->clear();
        edtTerminalName->setText(search->ChosenText());
    }
    if (!CheckTerminalID())
        return;
    // Each box that is not blank narrows the list (the remark box too); its text is the value as
    // typed.
    std::optional<int> terminalId;
    if (!edtTerminalID->text().trimmed().isEmpty())
        terminalId = ParseInt32(edtTerminalID->text()).value_or(-1);
    grid->Open(TerminalList(terminalId, edtTerminalName->text(), edtRemark->text()));
}

void TFormTerminalRegster::btnAutoClick()
{
    // Terminals 1 to 20, named by their numbers, replacing what was registered under them.
    {
        Transaction change;
        for (int id = 1; id <= 20; ++id) {
            const QString number = QString::number(id);
            if (!DeleteTerminalByID(number))
                break;
            AddTerminal({0, number, number, QString()});
        }
        LogEntry e;
        e.action = LogAction::AddTerminal;
        e.outcome = change.Commit() ? LogSucceeded : LogRefused;
        e.details = QStringLiteral("自动添加终端=1-20");
        RecordOperation(e);
    }
    Reload(FindTerminalIdx(QStringLiteral("20")));
}
