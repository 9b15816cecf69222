#include "SearchCondition.h"

#include "Actions.h"
#include "Widgets.h"
#include "link/ProgramState.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QPointer<TFormSearchCondition> instance;

} // namespace

TFormSearchCondition::TFormSearchCondition(QWidget* parent) : Dialog(parent)
{
    setWindowTitle(QStringLiteral("资料查询"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    lblHint = new QLabel(QStringLiteral("选择查询的项目，输入查询的内容，然后按确定。"), this);
    lblHint->setWordWrap(true);
    rb1 = new QRadioButton(this);
    rb2 = new QRadioButton(this);
    edt1 = new QLineEdit(this);
    edt2 = new QLineEdit(this);
    lbl1 = CaptionFor(edt1, QString(), this);
    lbl2 = CaptionFor(edt2, QString(), this);
    for (QLabel* caption : {lbl1, lbl2})
        caption->installEventFilter(this);
    SetCaptions(QStringLiteral("卡编号："), QStringLiteral("姓  名："));
    rb2->setChecked(true);
    btnOk = MakeButton(QStringLiteral("确 定"), this);
    btnCancel = MakeButton(QStringLiteral("取 消"), this);

    // Typing into a box takes its choice: what the operator typed is what is searched for.
    OnSignal(edt1, &QLineEdit::textEdited, this, [this] { rb1->setChecked(true); });
    OnSignal(edt2, &QLineEdit::textEdited, this, [this] { rb2->setChecked(true); });
    // Enter in a box goes on to "确 定", where the next Enter confirms.
    for (QLineEdit* box : {edt1, edt2})
        OnSignal(box, &QLineEdit::returnPressed, this, [this] { btnOk->setFocus(); });
    OnClick(btnOk, this, &TFormSearchCondition::btnOkClick);
    OnClick(btnCancel, this, &TFormSearchCondition::btnCancelClick);

    auto* grid = new QGridLayout;
    grid->setColumnStretch(2, 1);
    grid->setHorizontalSpacing(4);
    grid->addWidget(rb1, 0, 0);
    grid->addWidget(lbl1, 0, 1);
    grid->addWidget(edt1, 0, 2);
    grid->addWidget(rb2, 1, 0);
    grid->addWidget(lbl2, 1, 1);
    grid->addWidget(edt2, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(lblHint);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    setMinimumWidth(360);
}

void TFormSearchCondition::SetCaptions(const QString& first, const QString& second)
{
    const struct {
        QLabel* caption;
        QRadioButton* choice;
        QLineEdit* box;
        const QString& text;
    } choices[] = {{lbl1, rb1, edt1, first}, {lbl2, rb2, edt2, second}};
    for (const auto& c : choices) {
        c.caption->setText(c.text);
        c.choice->setAccessibleName(c.text.trimmed());
        c.box->setAccessibleName(c.text.trimmed());
    }
}

bool TFormSearchCondition::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && (watched == lbl1 || watched == lbl2)) {
        (watched == lbl1 ? rb1 : rb2)->setChecked(true);
        (watched == lbl1 ? edt1 : edt2)->setFocus();
    }
    return Dialog::eventFilter(watched, event);
}

bool TFormSearchCondition::FirstChosen() const
{
    return rb1->isChecked();
}

QString TFormSearchCondition::ChosenText() const
{
    return FirstChosen() ? edt1->text() : edt2->text();
}

void TFormSearchCondition::FormShow()
{
    Confirmed = false;
    QLineEdit* box = FirstChosen() ? edt1 : edt2;
    box->setFocus();
    box->selectAll();
}

void TFormSearchCondition::btnOkClick()
{
    Confirmed = true;
    accept();
}

void TFormSearchCondition::btnCancelClick()
{
    Confirmed = false;
    reject();
}

TFormSearchCondition* SearchCondition()
{
    if (!instance) {
        instance = new TFormSearchCondition;
        AddStateReset(FreeSearchCondition);
    }
    return instance;
}

void FreeSearchCondition()
{
    delete instance.data();
}
