#include "LoginWindow.h"

#include "Actions.h"
#include "Session.h"
#include "Widgets.h"
#include "office/Passwords.h"
#include "store/Dialogs.h"
#include "store/OperationLog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The band at the top of the window: a soft gradient with a card and a gate drawn on it.
class LoginBanner final : public QWidget {
public:
    explicit LoginBanner(QWidget* parent) : QWidget(parent) { setFixedHeight(72); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, width(), height());
        g.setColorAt(0, QColor(31, 78, 140));
        g.setColorAt(1, QColor(76, 148, 214));
        p.fillRect(rect(), g);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 220));
        p.drawRoundedRect(QRectF(18, 16, 58, 38), 5, 5);
        p.setBrush(QColor(230, 180, 60));
        p.drawRoundedRect(QRectF(26, 26, 14, 11), 2, 2);
        p.setBrush(QColor(255, 255, 255, 60));
        p.drawEllipse(QPointF(width() - 40, 10), 60, 60);
    }
};

} // namespace

TFormLogin::TFormLogin(QWidget* parent) : Dialog(parent)
{
    setWindowTitle(QStringLiteral("系统登录"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* banner = new LoginBanner(this);
    lblTitle = new QLabel(QStringLiteral("岚禾门禁管理系统"), this);
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblTitle->setAlignment(Qt::AlignCenter);
    lblTitle->setStyleSheet(QStringLiteral("color: #1f4e8c;"));

    lblVersion = MakeValueLabel(QStringLiteral("1.50824A"), this);
    auto* versionCaption = CaptionFor(lblVersion, QStringLiteral("版本："), this);

    cbb1 = new QComboBox(this);
    cbb1->addItems({LevelName(0), LevelName(1), LevelName(2)});
    cbb1->setCurrentIndex(0);
    cbb1->setEditable(false);

    EditPassword = new QLineEdit(this);
    EditPassword->setMaxLength(8);
    EditPassword->setEchoMode(QLineEdit::Password);
    // Each typed character shows as "*", not as the platform's dot.
    EditPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    EditPassword->clear();
    EditPassword->installEventFilter(this);

    ButtonLogon = MakeButton(QStringLiteral("登录(&L)"), this);
    ButtonCancel = MakeButton(QStringLiteral("取消(&C)"), this);
    // A focused button answers Enter (MakeButton); the password box hands Enter on to the login
    // button, so Enter there never logs in by itself.

    auto* form = new QFormLayout;
    form->addRow(CaptionFor(cbb1, QStringLiteral("操作员："), this), cbb1);
    form->addRow(CaptionFor(EditPassword, QStringLiteral("密  码："), this), EditPassword);

    auto* version = new QHBoxLayout;
    version->addStretch();
    version->addWidget(versionCaption);
    version->addWidget(lblVersion);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonLogon);
    buttons->addWidget(ButtonCancel);

    auto* content = new QVBoxLayout;
    content->setContentsMargins(24, 12, 24, 16);
    content->addWidget(lblTitle);
    content->addLayout(version);
    content->addSpacing(8);
    content->addLayout(form);
    content->addSpacing(8);
    content->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(banner);
    layout->addLayout(content);
    setMinimumWidth(420);

    OnClick(ButtonLogon, this, &TFormLogin::ButtonLogonClick);
    OnClick(ButtonCancel, this, &TFormLogin::ButtonCancelClick);
    LoggedIn = false;
    LogAs = LogAction::LogIn;
}

void TFormLogin::FormShow()
{
    lblVersion->setText(QStringLiteral(ICCARD_VERSION));
    if (PlainTitle == 0)
        lblTitle->setText(QStringLiteral("岚禾IC卡智能门禁管理系统"));
    else if (PlainTitle == 1)
        lblTitle->setText(QStringLiteral("IC卡智能门禁管理系统"));
    setFixedSize(sizeHint().expandedTo(minimumSize()));
}

bool TFormLogin::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == EditPassword && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            ButtonLogon->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return Dialog::eventFilter(watched, event);
}

void TFormLogin::ButtonLogonClick()
{
    Level = 0;
    const QString role = cbb1->currentText();
    int level = StewardLevel;
    QString refusal = QStringLiteral("物业管家密码错误，请重新输入");
    if (role == LevelName(AdministratorLevel)) {
        level = AdministratorLevel;
        refusal = QStringLiteral("管理员密码错误，请重新输入");
    } else if (role == LevelName(MaintainerLevel)) {
        level = MaintainerLevel;
        refusal = QStringLiteral("维护员密码错误，请重新输入");
    }
    if (!CheckPassword(level, EditPassword->text())) {
        recordRefusal(role, refusal);
        ShowMessage(refusal);
        return;
    }
    Level = uint8_t(level);
    LoggedIn = true;
    accept();
}

// A refused password is kept in the log under the level the program is at now, naming the level
// that was tried (never the text typed).
void TFormLogin::recordRefusal(const QString& role, const QString& refusal)
{
    LogEntry entry;
    entry.action = LogAs;
    entry.outcome = refusal;
    entry.details = QStringLiteral("操作员=") + role;
    RecordOperation(entry);
}

void TFormLogin::ButtonCancelClick()
{
    LoggedIn = false;
    reject();
}
