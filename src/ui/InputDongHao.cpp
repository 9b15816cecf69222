#include "InputDongHao.h"

#include "Actions.h"
#include "Widgets.h"
#include "link/ProgramState.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>

namespace {

QPointer<TFormInputDongHao> instance;

} // namespace

TFormInputDongHao::TFormInputDongHao(QWidget* parent) : Dialog(parent)
{
    setWindowTitle(QStringLiteral("导出用户数据"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    lblHeading = MakeHeading(QStringLiteral("请输入目标单元号"), this);
    edtDongHao = new QLineEdit(this);
    edtDanYuan = new QLineEdit(this);
    btnOk = MakeButton(QStringLiteral("确定"), this);
    btnCancel = MakeButton(QStringLiteral("取消"), this);
    // Enter in the building box goes on to the unit, in the unit box on to "确定".
    OnSignal(edtDongHao, &QLineEdit::returnPressed, this, [this] { edtDanYuan->setFocus(); });
    OnSignal(edtDanYuan, &QLineEdit::returnPressed, this, [this] { btnOk->setFocus(); });
    OnClick(btnOk, this, &TFormInputDongHao::btnOkClick);
    OnClick(btnCancel, this, &TFormInputDongHao::btnCancelClick);

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->addWidget(CaptionFor(edtDongHao, QStringLiteral("栋  号："), this), 0, 0);
    grid->addWidget(edtDongHao, 0, 1);
    grid->addWidget(CaptionFor(edtDanYuan, QStringLiteral("单元号："), this), 1, 0);
    grid->addWidget(edtDanYuan, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(lblHeading);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    setMinimumWidth(300);
}

void TFormInputDongHao::FormShow()
{
    edtDongHao->setText(BuildingText);
    edtDanYuan->setText(UnitText);
    edtDongHao->setFocus();
    edtDongHao->selectAll();
}

void TFormInputDongHao::btnOkClick()
{
    BuildingText = edtDongHao->text();
    UnitText = edtDanYuan->text();
    Confirmed = true;
    accept();
}

void TFormInputDongHao::btnCancelClick()
{
    reject();
}

void TFormInputDongHao::reject()
{
    Confirmed = false;
    Dialog::reject();
}

TFormInputDongHao* InputDongHao()
{
    if (!instance) {
        instance = new TFormInputDongHao;
        AddStateReset(FreeInputDongHao);
    }
    return instance;
}

void FreeInputDongHao()
{
    delete instance.data();
}
