#include "UserInfo.h"

#include "Actions.h"
#include "AlterUserInfo.h"
#include "BlackName.h"
#include "BuildInfo.h"
#include "ListScreen.h"
#include "Widgets.h"
#include "link/ProgramState.h"
#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/ListModel.h"
#include "store/OperationError.h"
#include "store/TvexUserInfo.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QStyleOptionHeader>
#include <QVBoxLayout>

namespace {

// A caption of two lines is a column under a group title: the first line is the group's, the
// second the column's.
const QList<ListColumn> Columns = {
    {QStringLiteral("选择"), QStringLiteral("selFlag"), ListColumnKind::Check},
    {QStringLiteral("用户IC卡\n卡编号"), QStringLiteral("CardNo")},
    {QStringLiteral("用户IC卡\n状态"), QStringLiteral("chLoss")},
    {QStringLiteral("用户IC卡\n卡号"), QStringLiteral("CardID"), ListColumnKind::CardSerial},
    {QStringLiteral("栋  号"), QStringLiteral("DongHao")},
    {QStringLiteral("单元号"), QStringLiteral("DanYuan")},
    {QStringLiteral("房 号"), QStringLiteral("FangHao")},
    {QStringLiteral("姓  名"), QStringLiteral("UserName")},
    {QStringLiteral("性别"), QStringLiteral("Sex")},
    {QStringLiteral("有效期\n使用"), QStringLiteral("chUseExpdate")},
    {QStringLiteral("有效期\n有效期"), QStringLiteral("ExpDate"), ListColumnKind::Date},
    {QStringLiteral("联系电话"), QStringLiteral("Phone")},
    {QStringLiteral("备  注"), QStringLiteral("Remark")},
};
// Widths of the columns but the last, which takes the rest.
constexpr int ColumnWidths[] = {40, 112, 50, 96, 48, 54, 56, 84, 40, 40, 86, 104};

const QString NoBuildingsText = QStringLiteral("请输入小区资料");

// A grid header of two rows. A caption of two lines shows its second line in the lower row and
// its first line once, in the upper row, over all the neighbouring columns whose captions begin
// with the same line; a caption of one line takes both rows. The captions themselves are left as
// they are, so a screen reader reads a column by both its titles.
class TwoRowHeader final : public QHeaderView {
public:
    explicit TwoRowHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
    {
        setDefaultAlignment(Qt::AlignCenter);
    }

    QSize sizeHint() const override
    {
        QSize size = QHeaderView::sizeHint();
        size.setHeight(2 * (fontMetrics().height() + 8));
        return size;
    }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int section) const override
    {
        const QStringList titles = captionOf(section).split(QLatin1Char('\n'));
        if (titles.size() < 2) {
            paintPart(painter, rect, rect, titles.value(0), section);
            return;
        }
        const int half = rect.height() / 2;
        const QRect upper(rect.left(), rect.top(), rect.width(), half);
        const QRect lower(rect.left(), rect.top() + half, rect.width(), rect.height() - half);
        // The group runs over the neighbours (as shown) with the same first line; each column
        // paints its own part of the group's box, so the title stays whole while scrolling.
        int first = visualIndex(section);
        int last = first;
        while (first > 0 && groupOf(logicalIndex(first - 1)) == titles[0])
            --first;
        while (last + 1 < count() && groupOf(logicalIndex(last + 1)) == titles[0])
            ++last;
        const int left = sectionViewportPosition(logicalIndex(first));
        const int right = sectionViewportPosition(logicalIndex(last)) + sectionSize(logicalIndex(last));
        paintPart(painter, upper, QRect(left, upper.top(), right - left, half), titles[0], section);
        paintPart(painter, lower, lower, titles[1], section);
    }

private:
    QString captionOf(int logicalIndex) const
    {
        return model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
    }
    QString groupOf(int logicalIndex) const
    {
        const QString caption = captionOf(logicalIndex);
        const qsizetype end = caption.indexOf(QLatin1Char('\n'));
        return end < 0 ? QString() : caption.left(end);
    }
    // Draws a header box of the given rectangle with the text, painting only within clip.
    void paintPart(QPainter* painter, const QRect& clip, const QRect& box, const QString& text,
                   int logicalIndex) const
    {
        QStyleOptionHeader option;
        initStyleOptionForIndex(&option, logicalIndex);
        option.rect = box;
        option.text = text;
        option.textAlignment = Qt::AlignCenter;
        option.position = QStyleOptionHeader::Middle;
        painter->save();
        painter->setClipRect(clip, Qt::IntersectClip);
        style()->drawControl(QStyle::CE_Header, &option, painter, this);
        painter->restore();
    }
};

} // namespace

TFormUserInfo::TFormUserInfo(QWidget* parent)
    : CardDialog(parent, CloseRule::LeavePending, Polling::None),
      m_model(std::make_unique<ListModel>(*dm, Columns))
{
    setWindowTitle(QStringLiteral("用户资料管理"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMaximizeButtonHint);

    lblHint = new QLabel(QStringLiteral("操作提示：在记录上点击右键，可操作记录"), this);
    lblHint->setStyleSheet(QStringLiteral("color: #666666;"));

    tree = new BuildTreeView(this);
    tree->setAccessibleName(QStringLiteral("小区栋号/单元"));
    tree->setToolTip(QStringLiteral("点击单元，列出该单元的业主"));
    tree->setMinimumWidth(150);
    actBuildInfo = tree->PopupMenu()->addAction(QStringLiteral("小区资料录入"));

    grid = new ListGrid(*m_model, this);
    grid->setHorizontalHeader(new TwoRowHeader(grid));
    grid->horizontalHeader()->setHighlightSections(false);
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->setToolTip(QStringLiteral("提示： 表格可使用右键操作"));
    grid->setAccessibleName(QStringLiteral("业主资料"));
    for (int column = 0; column < int(std::size(ColumnWidths)); ++column)
        grid->horizontalHeader()->resizeSection(column, ColumnWidths[column]);
    QMenu* menu = grid->PopupMenu();
    actDetails = menu->addAction(QStringLiteral("显示详细内容"));
    actModify = menu->addAction(QStringLiteral("修改此记录"));
    actDeleteRow = menu->addAction(QStringLiteral("删除此记录"));
    menu->addSeparator();
    actLost = menu->addAction(QStringLiteral("挂失此记录"));
    actFound = menu->addAction(QStringLiteral("解挂此记录"));
    menu->addSeparator();
    actSelectAll = menu->addAction(QStringLiteral("全部选择"));
    actSelectNone = menu->addAction(QStringLiteral("放弃选择"));
    menu->addSeparator();
    actWriteBlack = menu->addAction(QStringLiteral("写黑名单卡"));
    actWriteWhite = menu->addAction(QStringLiteral("写白名单卡"));

    lblCount = MakeValueLabel(QStringLiteral("0"), this);
    lblCount->setStyleSheet(QStringLiteral("font-weight: bold; color: #1f4e8c;"));
    btnAdd = MakeButton(QStringLiteral("增加"), this);
    btnModify = MakeButton(QStringLiteral("修改"), this);
    btnDeleteSelected = MakeButton(QStringLiteral("批量删除"), this);
    btnDeleteSelected->setToolTip(QStringLiteral("删除选择的记录"));
    btnSearch = MakeButton(QStringLiteral("查询"), this);
    btnReturn = MakeButton(QStringLiteral("返回"), this);

    auto* heading = new QHBoxLayout;
    heading->addWidget(MakeHeading(QStringLiteral("用户资料管理"), this));
    heading->addStretch();
    heading->addWidget(lblHint, 0, Qt::AlignBottom);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->addWidget(tree);
    split->addWidget(grid);
    split->setStretchFactor(1, 1);
    split->setSizes({170, 900});

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(CaptionFor(lblCount, QStringLiteral("共"), this));
    bottom->addWidget(lblCount);
    bottom->addWidget(new QLabel(QStringLiteral("条记录"), this));
    bottom->addStretch();
    for (QPushButton* button : {btnAdd, btnModify, btnDeleteSelected, btnSearch, btnReturn})
        bottom->addWidget(button);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->addLayout(heading);
    layout->addWidget(split, 1);
    layout->addLayout(bottom);
    SetOpeningSize({1200, 760}); // taller where the screen has room: more owners in view

    OnSignal(tree, &BuildTreeView::nodeChosen, this, &TFormUserInfo::treeNodeChosen);
    OnSignal(actBuildInfo, &QAction::triggered, this, &TFormUserInfo::actBuildInfoClick);
    OnClick(btnAdd, this, &TFormUserInfo::btnAddClick);
    OnClick(btnModify, this, &TFormUserInfo::btnModifyClick);
    OnClick(btnDeleteSelected, this, &TFormUserInfo::btnDeleteSelectedClick);
    OnClick(btnSearch, this, &TFormUserInfo::btnSearchClick);
    OnClick(btnReturn, this, &TFormUserInfo::accept);
    OnSignal(actDetails, &QAction::triggered, this, &TFormUserInfo::actDetailsClick);
    OnSignal(actModify, &QAction::triggered, this, &TFormUserInfo::btnModifyClick);
    OnSignal(actDeleteRow, &QAction::triggered, this, &TFormUserInfo::actDeleteRowClick);
    OnSignal(actLost, &QAction::triggered, this, &TFormUserInfo::actLostClick);
    OnSignal(actWriteBlack, &QAction::triggered, this, [this] { WriteCard(1); });
    OnSignal(actWriteWhite, &QAction::triggered, this, [this] { WriteCard(0); });
    OnSignal(actFound, &QAction::triggered, this, &TFormUserInfo::actFoundClick);
    OnSignal(actSelectAll, &QAction::triggered, this, &TFormUserInfo::actSelectAllClick);
    OnSignal(actSelectNone, &QAction::triggered, this, &TFormUserInfo::actSelectNoneClick);
    OnSignal(grid, &ListGrid::loaded, this, [this](int count) { lblCount->setText(QString::number(count)); });
    grid->SetToggle([this](int idx) { gridToggle(idx); });
    KeepAnswerHook<OwnerListHook>(CurrentOwnerList, this);
}

TFormUserInfo::~TFormUserInfo() = default;

void TFormUserInfo::Reload(int idx)
{
    if (m_filter.notANumber) {
        grid->Clear();
        ThrowNotAnInteger(*m_filter.notANumber);
    }
    grid->Open(OwnerList(m_filter), idx);
}

void TFormUserInfo::ReloadAll(int idx)
{
    m_filter = {};
    // The tree no longer says what is listed.
    tree->setCurrentItem(nullptr);
    Reload(idx);
}

void TFormUserInfo::reloadAt(int idx)
{
    ReloadAll(idx);
}

void TFormUserInfo::FormShow()
{
    m_filter = {};
    BlackListSource = 0;
    tree->Fill();
    TvexUserInfo::SelectNone();
    Reload();
}

void TFormUserInfo::treeNodeChosen(QTreeWidgetItem* node)
{
    // The root (while there are buildings) and the buildings only open and close.
    if (node && node->childCount() > 0)
        return;
    std::optional<int> building;
    std::optional<int> unit;
    if (BuildTreeView::IsUnit(node)) {
        building = ParseInt32(BuildTreeView::BuildingText(node));
        unit = ParseInt32(BuildTreeView::UnitText(node));
    }
    if (!building || !unit) {
        ShowMessage(NoBuildingsText);
        return;
    }
    m_filter = OwnersOfUnit(*building, *unit);
    try {
        Reload();
    } catch (const std::exception&) {
        ShowMessage(NoBuildingsText);
    }
}

void TFormUserInfo::actBuildInfoClick()
{
    {
        TFormBuildInfo buildings(this);
        buildings.exec();
    }
    tree->Fill();
}

void TFormUserInfo::btnAddClick()
{
    {
        TFormAlter editor(this);
        editor.SetMode(TFormAlter::Mode::Add);
        editor.exec();
    }
    Reload();
}

void TFormUserInfo::btnModifyClick()
{
    const int idx = grid->CurrentIdx();
    if (idx < 0)
        return;
    {
        TFormAlter editor(this);
        editor.SetMode(TFormAlter::Mode::Modify, idx);
        editor.exec();
    }
    Reload(idx);
}

void TFormUserInfo::actDetailsClick()
{
    const int idx = grid->CurrentIdx();
    if (idx < 0)
        return;
    TFormAlter editor(this);
    editor.SetMode(TFormAlter::Mode::Details, idx);
    editor.exec();
}

void TFormUserInfo::actDeleteRowClick()
{
    const int idx = grid->CurrentIdx();
    if (idx < 0)
        return;
    if (AskYesNo(QStringLiteral("删除此记录吗?(Y/N)")))
        TvexUserInfo::DeleteRow(idx);
    Reload();
}

void TFormUserInfo::btnDeleteSelectedClick()
{
    if (grid->RecordCount() == 0)
        return;
    if (!AskYesNo(QStringLiteral("批量删除选择的记录?(Y/N)")))
        return;
    // Every marked owner goes, listed or not.
    TvexUserInfo::DeleteSelected();
    Reload();
}

void TFormUserInfo::btnSearchClick()
{
    TFormSearchUserInfo search(this);
    search.exec();
    if (!search.Confirmed)
        return;
    TvexUserInfo::SelectNone();
    m_filter = search.Condition();
    Reload();
}

void TFormUserInfo::WriteCard(uint8_t flag)
{
    const int row = grid->CurrentRow();
    if (row < 0)
        return;
    const QVariant cardId = grid->Model().FieldAt(row, QStringLiteral("CardID"));
    WriteSingleOwnerCard(flag, grid->CurrentIdx(), cardId.isNull() ? QString() : cardId.toString());
}

void TFormUserInfo::actLostClick()
{
    const int idx = grid->CurrentIdx();
    if (idx < 0)
        return;
    TvexUserInfo::MarkLost(idx);
    Reload(idx);
}

void TFormUserInfo::actFoundClick()
{
    const int idx = grid->CurrentIdx();
    if (idx < 0)
        return;
    TvexUserInfo::UnmarkLost(idx);
    Reload(idx);
}

void TFormUserInfo::actSelectAllClick()
{
    // Every owner of the table, not only those listed.
    TvexUserInfo::SelectAll();
    Reload();
}

void TFormUserInfo::actSelectNoneClick()
{
    TvexUserInfo::SelectNone();
    Reload();
}

void TFormUserInfo::gridToggle(int idx)
{
    TvexUserInfo::SetSelected(idx, TvexUserInfo::IsSelected(idx) ? 0 : 1);
    Reload(idx);
}
