#include "FixDataBase.h"

#include "Actions.h"
#include "Session.h"
#include "Widgets.h"
#include "office/Passwords.h"
#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "store/DbMaintenance.h"
#include "store/Dialogs.h"
#include "store/OperationError.h"
#include "store/OperationLog.h"

#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QLabel* textLine(const QString& text, QWidget* parent, const char* style = nullptr)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    if (style)
        label->setStyleSheet(QLatin1String(style));
    return label;
}

void showFailure(const MaintenanceResult& result)
{
    if (!result.message.isEmpty())
        ShowError(result.message);
}

} // namespace

TfrmFixDataBase::TfrmFixDataBase(QWidget* parent) : Dialog(parent)
{
    setWindowTitle(QStringLiteral("数据库维护"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    pages = new QTabWidget(this);

    pageBackup = new QWidget(pages);
    btn4 = MakeButton(QStringLiteral("备份"), pageBackup);
    btnRecover = MakeButton(QStringLiteral("恢复"), pageBackup);
    {
        auto* v = new QVBoxLayout(pageBackup);
        v->addWidget(textLine(QStringLiteral("说明："), pageBackup, "font-weight: bold;"));
        v->addWidget(
            textLine(QStringLiteral("备份的目录：在执行文件的目录中，建有../dbBak的目录"), pageBackup));
        v->addWidget(textLine(
            QStringLiteral("备份的文件：备份当前数的据库文件，用db_yymmdd_xxxxxx.bak命名。"), pageBackup));
        v->addWidget(textLine(QStringLiteral("其中“yymmdd”表示年月日，“xxxxxx”是标识码"), pageBackup));
        v->addStretch();
        // Which folder and database this run uses: with a folder per user or one named on the
        // command line, it is not always the executable's.
        lblFolder = MakeValueLabel(QString(), pageBackup);
        lblDatabase = MakeValueLabel(QString(), pageBackup);
        auto* where = new QFormLayout;
        for (QLabel* value : {lblFolder, lblDatabase}) {
            value->setWordWrap(true);
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        }
        where->addRow(CaptionFor(lblFolder, QStringLiteral("程序目录："), pageBackup), lblFolder);
        where->addRow(CaptionFor(lblDatabase, QStringLiteral("数据库："), pageBackup), lblDatabase);
        v->addLayout(where);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(btn4);
        buttons->addWidget(btnRecover);
        buttons->addWidget(exitButton(pageBackup));
        v->addLayout(buttons);
    }
    pages->addTab(pageBackup, QStringLiteral("〉数据备份"));

    pageInit = new QWidget(pages);
    pnlConfirm = MakePanel(QString(), pageInit);
    pnlConfirm->setAlignment(Qt::AlignCenter);
    pnlConfirm->setStyleSheet(QStringLiteral("font-weight: bold; color: #b03030;"));
    edtConfirm = new QLineEdit(pageInit);
    edtConfirm->setMaximumWidth(120);
    btnInit = MakeButton(QStringLiteral("初始化"), pageInit);
    {
        auto* v = new QVBoxLayout(pageInit);
        v->addWidget(textLine(QStringLiteral("警告："), pageInit, "font-weight: bold; color: #b03030;"));
        v->addWidget(
            textLine(QStringLiteral("执行数据库初始化，会导致现有数据库中所有内容全部被清空，"), pageInit));
        v->addWidget(textLine(QStringLiteral("执行此功能前，请关闭其他功能的操作。"), pageInit));
        v->addWidget(textLine(QStringLiteral("而且无法恢复!"), pageInit, "color: #b03030;"));
        auto* code = new QHBoxLayout;
        code->addWidget(CaptionFor(pnlConfirm, QStringLiteral("确认码："), pageInit));
        code->addWidget(pnlConfirm);
        code->addSpacing(20);
        code->addWidget(CaptionFor(edtConfirm, QStringLiteral("请输入："), pageInit));
        code->addWidget(edtConfirm);
        code->addStretch();
        v->addLayout(code);
        v->addStretch();
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(btnInit);
        buttons->addWidget(exitButton(pageInit));
        v->addLayout(buttons);
    }
    pages->addTab(pageInit, QStringLiteral("〉数据库初始化"));

    pageBrand = new QWidget(pages);
    cbbBrand = new QComboBox(pageBrand);
    cbbBrand->addItems({QStringLiteral("岚禾"), QStringLiteral("中性")});
    cbbBrand->setCurrentIndex(0);
    {
        auto* v = new QVBoxLayout(pageBrand);
        auto* row = new QHBoxLayout;
        row->addWidget(CaptionFor(cbbBrand, QStringLiteral("厂家标志"), pageBrand));
        row->addWidget(cbbBrand);
        row->addStretch();
        v->addLayout(row);
        v->addStretch();
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(exitButton(pageBrand));
        v->addLayout(buttons);
    }
    pages->addTab(pageBrand, QStringLiteral("> 厂家标志"));
    pages->addTab(makePasswordPage(), QStringLiteral("〉操作员密码"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 16);
    layout->addWidget(MakeHeading(QStringLiteral("数据库维护"), this));
    layout->addWidget(pages);
    setFixedSize(560, 360);

    OnClick(btn4, this, &TfrmFixDataBase::btn4Click);
    OnClick(btnRecover, this, &TfrmFixDataBase::btnRecoverClick);
    OnClick(btnInit, this, &TfrmFixDataBase::btnInitClick);
}

QPushButton* TfrmFixDataBase::exitButton(QWidget* page)
{
    QPushButton* button = MakeButton(QStringLiteral("退  出"), page);
    OnClick(button, this, &QDialog::reject);
    return button;
}

void TfrmFixDataBase::FormShow()
{
    btnRecover->setEnabled(OperatorLevel > 0);
    btnInit->setEnabled(OperatorLevel > 0);
    btn4->setEnabled(true);
    pages->setTabVisible(pages->indexOf(pageBrand), OperatorLevel == 2);
    pages->setTabVisible(pages->indexOf(pagePasswords), OperatorLevel == AdministratorLevel);
    if (OperatorLevel == AdministratorLevel)
        showPasswordState();
    lblFolder->setText(QDir::toNativeSeparators(QDir::cleanPath(AppPath)));
    lblDatabase->setText(dm ? DatabaseInUse(*dm) : QString());
    NewConfirmCode();
}

void TfrmFixDataBase::NewConfirmCode()
{
    edtConfirm->clear();
    pnlConfirm->setText(Now().toString(QStringLiteral("mmss")));
}

void TfrmFixDataBase::btn4Click()
{
    const MaintenanceResult result = BackupDatabase();
    if (result.ok)
        ShowMessage(QStringLiteral("备份完成"));
    else
        showFailure(result);
}

void TfrmFixDataBase::btnRecoverClick()
{
    if (!AskYesNo(QStringLiteral("注意：恢复数据库将会覆盖原有的数据，确定操作吗？(Y/N)")))
        return;
    const QString chosen = dialogs().openFileName(QStringLiteral("恢复数据库"), BackupFolder(),
                                                  QStringLiteral("备份文件 (*.bak);;所有文件 (*)"));
    if (chosen.isEmpty())
        return;
    const MaintenanceResult result = RestoreDatabase(chosen);
    if (result.ok)
        ShowMessage(QStringLiteral("恢复完成"));
    else
        showFailure(result);
}

void TfrmFixDataBase::btnInitClick()
{
    if (edtConfirm->text() != pnlConfirm->text()) {
        ShowInformation(QStringLiteral("请输入正确的确认码。"));
        return;
    }
    // A failed delete has shown its own "执行错误：" box; the code stays, so the operator can
    // try again once the cause is removed.
    const MaintenanceResult result = InitDatabase();
    if (!result.ok) {
        showFailure(result);
        return;
    }
    ShowMessage(QStringLiteral("初始化完成"));
    NewConfirmCode();
}

// The page of the operator levels' passwords: a level, its state, the new password twice.
QWidget* TfrmFixDataBase::makePasswordPage()
{
    pagePasswords = new QWidget(pages);
    auto* group = new QGroupBox(QStringLiteral("操作员密码"), pagePasswords);
    cbbPasswordLevel = new QComboBox(group);
    for (int level : {AdministratorLevel, MaintainerLevel, StewardLevel})
        cbbPasswordLevel->addItem(LevelName(level), level);
    cbbPasswordLevel->setMaximumWidth(160);
    lblPasswordState = MakeValueLabel(QString(), group);
    edtNewPassword = new QLineEdit(group);
    edtRepeatPassword = new QLineEdit(group);
    for (QLineEdit* box : {edtNewPassword, edtRepeatPassword}) {
        // As the login window's box takes it: at most 8 characters, each shown as "*".
        box->setMaxLength(8);
        box->setEchoMode(QLineEdit::Password);
        box->setMaximumWidth(160);
    }
    btnChangePassword = MakeButton(QStringLiteral("修改密码"), group);
    btnRemovePassword = MakeButton(QStringLiteral("取消密码"), group);
    {
        auto* form = new QFormLayout;
        form->addRow(CaptionFor(cbbPasswordLevel, QStringLiteral("操作员："), group), cbbPasswordLevel);
        form->addRow(CaptionFor(lblPasswordState, QStringLiteral("现在的密码："), group), lblPasswordState);
        form->addRow(CaptionFor(edtNewPassword, QStringLiteral("新密码："), group), edtNewPassword);
        form->addRow(CaptionFor(edtRepeatPassword, QStringLiteral("再输一次："), group), edtRepeatPassword);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(btnChangePassword);
        buttons->addWidget(btnRemovePassword);
        auto* v = new QVBoxLayout(group);
        v->addLayout(form);
        v->addLayout(buttons);
    }
    auto* v = new QVBoxLayout(pagePasswords);
    v->addWidget(group);
    v->addWidget(textLine(QStringLiteral("密码最多8个字符。忘记密码时，在存放程序目录的电脑上运行"
                                         "“iccard-data reset-passwords”，恢复程序原来的密码。"),
                          pagePasswords));
    v->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(exitButton(pagePasswords));
    v->addLayout(buttons);

    OnSignal(cbbPasswordLevel, &QComboBox::currentIndexChanged, this, &TfrmFixDataBase::showPasswordState);
    OnClick(btnChangePassword, this, &TfrmFixDataBase::btnChangePasswordClick);
    OnClick(btnRemovePassword, this, &TfrmFixDataBase::btnRemovePasswordClick);
    return pagePasswords;
}

int TfrmFixDataBase::passwordLevel() const
{
    return cbbPasswordLevel->currentData().toInt();
}

void TfrmFixDataBase::showPasswordState()
{
    const int level = passwordLevel();
    btnRemovePassword->setEnabled(level == StewardLevel);
    edtNewPassword->clear();
    edtRepeatPassword->clear();
    try {
        const std::optional<QString> changed = PasswordChangedAt(level);
        if (changed)
            lblPasswordState->setText(QStringLiteral("本单位设置的密码（%1 修改）").arg(*changed));
        else if (level == StewardLevel)
            lblPasswordState->setText(QStringLiteral("没有密码"));
        else
            lblPasswordState->setText(QStringLiteral("程序原来的密码"));
    } catch (const OperationError& e) {
        lblPasswordState->setText(QStringLiteral("读不出：") + e.message());
    }
}

void TfrmFixDataBase::btnChangePasswordClick()
{
    const int level = passwordLevel();
    const QString name = LevelName(level);
    if (edtNewPassword->text().isEmpty()) {
        ShowRefusal(level == StewardLevel
                        ? QStringLiteral("请输入新密码。要让物业管家登录时不用密码，请按“取消密码”。")
                        : QStringLiteral("请输入新密码。"));
        return;
    }
    if (edtNewPassword->text() != edtRepeatPassword->text()) {
        ShowRefusal(QStringLiteral("两次输入的密码不一样，请重新输入。"));
        edtRepeatPassword->clear();
        return;
    }
    const bool done = SetPassword(level, edtNewPassword->text());
    recordPasswordChange(QStringLiteral("操作员=") + name, done);
    if (!done)
        return; // the error box has said why
    showPasswordState();
    ShowMessage(QStringLiteral("%1的密码已修改，下次登录时用新密码。").arg(name));
}

void TfrmFixDataBase::btnRemovePasswordClick()
{
    const bool done = RemovePassword(StewardLevel);
    recordPasswordChange(QStringLiteral("操作员=物业管家；取消密码"), done);
    if (!done)
        return;
    showPasswordState();
    ShowMessage(QStringLiteral("物业管家的密码已取消，登录时不用密码。"));
}

// Which level's password changed, never the password.
void TfrmFixDataBase::recordPasswordChange(const QString& details, bool done)
{
    LogEntry entry;
    entry.action = LogAction::ChangePassword;
    entry.outcome = done ? LogSucceeded : QStringLiteral("执行错误");
    entry.details = details;
    RecordOperation(entry);
}
