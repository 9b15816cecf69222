#include "OperationLogWindow.h"

#include "Actions.h"
#include "ListScreen.h"
#include "Widgets.h"
#include "office/Lists.h"
#include "office/LogFile.h"
#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/ListModel.h"
#include "store/OperationLog.h"
#include "store/OwnerExchange.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QList<ListColumn> Columns = {
    {QStringLiteral("时间"), QStringLiteral("LogTime")},
    {QStringLiteral("电脑"), QStringLiteral("Computer")},
    {QStringLiteral("系统用户"), QStringLiteral("SystemUser")},
    {QStringLiteral("操作员级别"), QStringLiteral("LevelName")},
    {QStringLiteral("操作"), QStringLiteral("Action")},
    {QStringLiteral("结果"), QStringLiteral("Outcome")},
    {QStringLiteral("卡号"), QStringLiteral("CardID"), ListColumnKind::CardSerial},
    {QStringLiteral("业主"), QStringLiteral("OwnerName")},
    {QStringLiteral("详情"), QStringLiteral("Details")},
};

const QString AllActions = QStringLiteral("全部");

QDateEdit* dateBox(QWidget* parent)
{
    auto* box = new QDateEdit(parent);
    box->setCalendarPopup(true);
    box->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    return box;
}

} // namespace

TFormOperationLog::TFormOperationLog(QWidget* parent)
    : Dialog(parent), m_model(std::make_unique<ListModel>(*dm, Columns))
{
    setWindowTitle(QStringLiteral("操作日志"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMaximizeButtonHint);

    auto* filters = new QGroupBox(QStringLiteral("查询条件"), this);
    chkDate = new QCheckBox(QStringLiteral("按日期查询"), filters);
    edtFrom = dateBox(filters);
    edtTo = dateBox(filters);
    cboAction = new QComboBox(filters);
    cboAction->addItem(AllActions);
    cboAction->addItems(LogActions());
    cboAction->setMaxVisibleItems(20);
    edtCard = new QLineEdit(filters);
    edtCard->setToolTip(QStringLiteral("卡号可以按数据库中的写法输入，也可以按发卡器显示的数字输入"));
    edtOwner = new QLineEdit(filters);
    edtOwner->setToolTip(QStringLiteral("业主姓名中的一部分"));
    edtDesk = new QLineEdit(filters);
    edtDesk->setToolTip(QStringLiteral("电脑名或系统用户名中的一部分"));
    {
        auto* g = new QGridLayout(filters);
        g->addWidget(chkDate, 0, 0);
        auto* dates = new QHBoxLayout;
        dates->addWidget(CaptionFor(edtFrom, QStringLiteral("从："), filters));
        dates->addWidget(edtFrom);
        dates->addWidget(CaptionFor(edtTo, QStringLiteral("到："), filters));
        dates->addWidget(edtTo);
        dates->addStretch();
        g->addLayout(dates, 0, 1);
        g->addWidget(CaptionFor(cboAction, QStringLiteral("操作："), filters), 0, 2);
        g->addWidget(cboAction, 0, 3);
        g->addWidget(CaptionFor(edtCard, QStringLiteral("卡号："), filters), 1, 0);
        g->addWidget(edtCard, 1, 1);
        g->addWidget(CaptionFor(edtOwner, QStringLiteral("业主："), filters), 1, 2);
        g->addWidget(edtOwner, 1, 3);
        g->addWidget(CaptionFor(edtDesk, QStringLiteral("电脑或用户："), filters), 1, 4);
        g->addWidget(edtDesk, 1, 5);
        g->setColumnStretch(1, 1);
        g->setColumnStretch(3, 1);
        g->setColumnStretch(5, 1);
    }
    OnSignal(chkDate, &QCheckBox::toggled, this, [this](bool on) {
        edtFrom->setEnabled(on);
        edtTo->setEnabled(on);
    });

    lblCount = MakeValueLabel(QStringLiteral("..."), this);
    lblCount->setStyleSheet(QStringLiteral("font-weight: bold; color: #1f4e8c;"));

    grid = new ListGrid(*m_model, this);
    grid->setAccessibleName(QStringLiteral("操作日志"));
    const int widths[] = {140, 110, 90, 80, 100, 80, 100, 90};
    for (int i = 0; i < int(std::size(widths)); ++i)
        grid->horizontalHeader()->resizeSection(i, widths[i]);
    grid->horizontalHeader()->setStretchLastSection(true);

    btnSearch = MakeButton(QStringLiteral("查询"), this);
    btnExport = MakeButton(QStringLiteral("导出"), this);
    btnExport->setToolTip(QStringLiteral("把列表中的日志导出到文件（GBK 编码，逗号分隔）"));
    btnReturn = MakeButton(QStringLiteral("返回"), this);

    auto* countRow = new QHBoxLayout;
    countRow->addWidget(CaptionFor(lblCount, QStringLiteral("日志条数："), this));
    countRow->addWidget(lblCount);
    countRow->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSearch);
    buttons->addWidget(btnExport);
    buttons->addWidget(btnReturn);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->addWidget(MakeHeading(QStringLiteral("操作日志"), this));
    layout->addWidget(filters);
    layout->addLayout(countRow);
    layout->addWidget(grid, 1);
    layout->addLayout(buttons);
    SetOpeningSize({1100, 640});

    OnClick(btnSearch, this, &TFormOperationLog::btnSearchClick);
    OnClick(btnExport, this, &TFormOperationLog::btnExportClick);
    OnClick(btnReturn, this, &TFormOperationLog::accept);
    OnSignal(grid, &ListGrid::loaded, this, [this](int count) { lblCount->setText(QString::number(count)); });
}

TFormOperationLog::~TFormOperationLog() = default;

LogFilter TFormOperationLog::Filter() const
{
    LogFilter filter;
    if (chkDate->isChecked()) {
        filter.from = edtFrom->date();
        filter.to = edtTo->date();
    }
    if (cboAction->currentIndex() > 0)
        filter.action = cboAction->currentText();
    filter.card = edtCard->text();
    filter.owner = edtOwner->text();
    filter.desk = edtDesk->text();
    return filter;
}

void TFormOperationLog::FormShow()
{
    const QDate today = Now().date();
    edtFrom->setDate(today);
    edtTo->setDate(today);
    chkDate->setChecked(false);
    edtFrom->setEnabled(false);
    edtTo->setEnabled(false);
    btnSearchClick();
}

void TFormOperationLog::btnSearchClick()
{
    // The operator's own latest actions are still on their way to the database.
    FlushOperationLog();
    grid->Open(OperationLogList(Filter()));
}

void TFormOperationLog::btnExportClick()
{
    if (!m_model->IsOpen())
        return;
    QString name =
        dialogs().saveFileName(QStringLiteral("导出操作日志"), AppPath, QStringLiteral("操作日志 (*.csv)"));
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".csv");
    if (QFileInfo::exists(name) && !AskYesNo(QString::fromUtf8(ExportOverwriteQuestion)))
        return;
    // What the list shows: the filter of the last query, not what has been typed since.
    const LogFileResult r = WriteLogFile(name, m_model->Query());
    if (!r.ok) {
        ShowError(r.message);
        return;
    }
    QString done = QStringLiteral("已导出 %1 条操作日志").arg(r.entries);
    if (r.replaced > 0)
        done += QStringLiteral("，其中 %1 个字符 GBK 编码不能表示，写成了“?”").arg(r.replaced);
    ShowMessage(done);
}
