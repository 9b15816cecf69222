#include "InitQdr.h"

#include "Actions.h"
#include "Session.h"
#include "Widgets.h"
#include "link/CardLog.h"
#include "link/CommandFrames.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "link/Responses.h"
#include "link/ResultTexts.h"
#include "store/SaveLoad.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TFormInit_QDR::TFormInit_QDR(QWidget* parent)
    : CardDialog(parent, CloseRule::ResetToIdle, Polling::FromCreation, 200)
{
    setWindowTitle(QStringLiteral("IC卡格式化"));

    lblHeading = MakeHeading(QStringLiteral("格式化IC卡"), this);
    auto* hint = new QLabel(QStringLiteral("操作提示：点击【执行】后，再放入要处理的IC卡。"), this);
    hint->setStyleSheet(QStringLiteral("color: #555555;"));

    pnlSector = MakePanel(QString(), this);
    pnlSuccess = MakePanel(QStringLiteral("0"), this);
    pnlResult = MakePanel(QStringLiteral("..."), this);
    pnlResult->setMinimumWidth(160);
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    form->addRow(CaptionFor(pnlSector, QStringLiteral("用户使用的扇区："), this), pnlSector);
    form->addRow(CaptionFor(pnlSuccess, QStringLiteral("发卡成功数："), this), pnlSuccess);
    form->addRow(CaptionFor(pnlResult, QStringLiteral("执行结果："), this), pnlResult);

    buttonRow = new QWidget(this);
    buttonRow->setObjectName(QStringLiteral("buttonRow"));
    buttonRow->setAttribute(Qt::WA_StyledBackground, true);
    btnClear = MakeButton(QStringLiteral("清空"), buttonRow);
    btnRun = MakeButton(QStringLiteral("执行"), buttonRow);
    btnReturn = MakeButton(QStringLiteral("返回"), buttonRow);
    chkReset = new QCheckBox(QStringLiteral("重置"), buttonRow);
    chkReset->setAccessibleName(QStringLiteral("重置"));
    auto* row = new QHBoxLayout(buttonRow);
    row->setContentsMargins(10, 8, 10, 8);
    row->addWidget(chkReset);
    row->addStretch();
    row->addWidget(btnClear);
    row->addWidget(btnRun);
    row->addWidget(btnReturn);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->addWidget(lblHeading);
    layout->addWidget(hint);
    layout->addSpacing(8);
    layout->addLayout(form);
    layout->addSpacing(8);
    layout->addWidget(buttonRow);
    setMinimumWidth(420);

    OnClick(btnRun, this, &TFormInit_QDR::btnRunClick);
    OnClick(btnClear, this, &TFormInit_QDR::btnClearClick);
    OnClick(btnReturn, this, &QDialog::reject);
    OnSignal(chkReset, &QCheckBox::toggled, this, &TFormInit_QDR::chkResetToggled);
    KeepAnswerHook<InitRunCounters>(CurrentInitRunCounters, this);
}

void TFormInit_QDR::FormShow()
{
    pnlSector->setText(QString::number(SystemInfo.Sector));
    pnlResult->setText(QStringLiteral("..."));
    chkReset->setVisible(OperatorLevel == 2);
}

TFormInit_QDR::~TFormInit_QDR()
{
    if (running && IsOpen())
        stopRun();
}

void TFormInit_QDR::setMode(bool reset)
{
    lblHeading->setText(reset ? QStringLiteral("IC卡恢复白卡") : QStringLiteral("格式化IC卡"));
    // The box's own handling runs either way, so the row gets its colour even when the box
    // already had the state asked for.
    if (chkReset->isChecked() == reset)
        chkResetToggled();
    else
        chkReset->setChecked(reset);
}

void TFormInit_QDR::cardAnswered(uint8_t result)
{
    lastResult = result;
    ++m_runCards;
    if (result != 0)
        ++m_runFailed;
    if (result == 0) {
        ++successCount;
        if (PendingCommand == CmdFormat)
            ++cardsFormatted;
    } else {
        ++failureCount;
    }
}

void TFormInit_QDR::stopRun()
{
    running = false;
    RecordCardRun(m_runCommand, m_runCards, m_runFailed);
    btnRun->setText(QStringLiteral("执行"));
    btnRun->setAccessibleName(QStringLiteral("执行"));
    IssueCommand(CmdStop);
}

void TFormInit_QDR::btnRunClick()
{
    if (running) {
        stopRun();
        return;
    }
    running = true;
    btnRun->setText(QStringLiteral("停止"));
    btnRun->setAccessibleName(QStringLiteral("停止"));
    m_runCommand = chkReset->isChecked() ? CmdRestoreBlank : CmdFormat;
    m_runCards = 0;
    m_runFailed = 0;
    IssueCommand(m_runCommand);
}

void TFormInit_QDR::btnClearClick()
{
    successCount = 0;
    failureCount = 0;
    pnlResult->setText(QStringLiteral("..."));
}

void TFormInit_QDR::chkResetToggled()
{
    if (running)
        stopRun();
    buttonRow->setStyleSheet(chkReset->isChecked() ? QStringLiteral("#buttonRow { background: #d62f2f; }")
                                                   : QString());
}

void TFormInit_QDR::tmrAnswerTimer()
{
    pnlSuccess->setText(QString::number(successCount));
    pnlResult->setText(ResultTextFor(ResultUse::CardRun, lastResult));
}

void TFormInit_QDR::done(int result)
{
    if (running)
        stopRun();
    CardDialog::done(result); // PendingCommand 9 in every case
}
