#include "UserInfoSearch.h"

#include "Actions.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

TFormSearchUserInfo::TFormSearchUserInfo(QWidget* parent) : Dialog(parent)
{
    setWindowTitle(QStringLiteral("查询业主信息"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    grpSearch = new QGroupBox(QStringLiteral("查询用户"), this);
    auto* grid = new QGridLayout(grpSearch);
    grid->setHorizontalSpacing(4);
    grid->setColumnStretch(2, 1);
    const struct {
        QCheckBox*& check;
        QLabel*& caption;
        QLineEdit*& box;
        const char* text;
    } rows[] = {
        {chkDongHao, lblDongHao, edtDongHao, "栋号："}, {chkDanYuan, lblDanYuan, edtDanYuan, "单元号："},
        {chkFangHao, lblFangHao, edtFangHao, "房号："}, {chkUserName, lblUserName, edtUserName, "姓名："},
        {chkCardNo, lblCardNo, edtCardNo, "卡编号："},
    };
    int line = 0;
    for (const auto& r : rows) {
        const QString text = QString::fromUtf8(r.text);
        r.check = new QCheckBox(grpSearch);
        r.box = new QLineEdit(grpSearch);
        r.caption = CaptionFor(r.box, text, grpSearch);
        r.check->setAccessibleName(text.chopped(1));
        r.caption->installEventFilter(this);
        grid->addWidget(r.check, line, 0);
        grid->addWidget(r.caption, line, 1);
        grid->addWidget(r.box, line, 2);
        ++line;
        QCheckBox* check = r.check;
        OnSignal(r.box, &QLineEdit::textEdited, this, [check] { check->setChecked(true); });
    }
    for (QLineEdit* number : {edtDongHao, edtDanYuan})
        number->setMaximumWidth(120);
    edtDongHao->setToolTip(QStringLiteral("栋号、单元号为数字"));
    edtDanYuan->setToolTip(edtDongHao->toolTip());

    btnSearch = MakeButton(QStringLiteral("查询"), this);
    btnCancel = MakeButton(QStringLiteral("取消"), this);
    // Enter in a box goes on to "查询", where the next Enter searches.
    for (QLineEdit* box : {edtDongHao, edtDanYuan, edtFangHao, edtUserName, edtCardNo})
        OnSignal(box, &QLineEdit::returnPressed, this, [this] { btnSearch->setFocus(); });
    OnClick(btnSearch, this, &TFormSearchUserInfo::btnSearchClick);
    OnClick(btnCancel, this, &TFormSearchUserInfo::btnCancelClick);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSearch);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(grpSearch);
    layout->addLayout(buttons);
    setMinimumWidth(340);
}

void TFormSearchUserInfo::FormShow()
{
    Confirmed = false;
    m_condition = {};
    edtDongHao->setFocus();
}

bool TFormSearchUserInfo::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const std::pair<QLabel*, QCheckBox*> captions[] = {{lblDongHao, chkDongHao},
                                                           {lblDanYuan, chkDanYuan},
                                                           {lblFangHao, chkFangHao},
                                                           {lblUserName, chkUserName},
                                                           {lblCardNo, chkCardNo}};
        for (const auto& [caption, check] : captions) {
            if (watched == caption) {
                check->toggle();
                caption->buddy()->setFocus();
            }
        }
    }
    return Dialog::eventFilter(watched, event);
}

void TFormSearchUserInfo::btnSearchClick()
{
    OwnerFilter condition;
    // Building and unit are compared as numbers; a text that is not one leaves nothing to list.
    const auto number = [&](QCheckBox* check, QLineEdit* box, const QString& column) {
        if (check->isChecked())
            AddNumberCondition(condition, column, box->text());
    };
    // Room and name are compared with the text as typed.
    const auto text = [&](QCheckBox* check, QLineEdit* box, const QString& column) {
        if (check->isChecked())
            AddTextCondition(condition, column, box->text());
    };
    number(chkDongHao, edtDongHao, QStringLiteral("DongHao"));
    number(chkDanYuan, edtDanYuan, QStringLiteral("DanYuan"));
    text(chkFangHao, edtFangHao, QStringLiteral("FangHao"));
    text(chkUserName, edtUserName, QStringLiteral("UserName"));
    if (chkCardNo->isChecked())
        AddCardCondition(condition, edtCardNo->text());
    m_condition = std::move(condition);
    Confirmed = true;
    accept();
}

void TFormSearchUserInfo::btnCancelClick()
{
    Confirmed = false;
    reject();
}
