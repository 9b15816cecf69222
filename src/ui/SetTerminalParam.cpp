#include "SetTerminalParam.h"

#include "Actions.h"
#include "Session.h"
#include "Widgets.h"
#include "cards/CardRecords.h"
#include "cards/Gbk.h"
#include "link/CardIssuerLink.h"
#include "link/CommandFrames.h"
#include "link/CommandWorker.h"
#include "link/Responses.h"
#include "store/Clock.h"
#include "store/Dialogs.h"
#include "store/LogEntries.h"
#include "store/SaveLoad.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

namespace {

const QString DefaultRegionID = QStringLiteral("57302914");

// Eight characters, each an ASCII digit or letter.
bool isRegionID(const QString& text)
{
    if (text.size() != 8)
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z')))
            return false;
    }
    return true;
}

// The stored identifier's bytes, up to the first zero byte.
QByteArray storedRegionBytes()
{
    const auto end = std::find(SystemInfo.RegionID, SystemInfo.RegionID + 8, '\0');
    return QByteArray(SystemInfo.RegionID, static_cast<int>(end - SystemInfo.RegionID));
}

QLabel* noteLabel(const QString& text, QWidget* parent, const char* colour)
{
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(colour)));
    return label;
}

} // namespace

TFormSetTerminalParam::TFormSetTerminalParam(QWidget* parent)
    : CardDialog(parent, CloseRule::SendStop, Polling::WhileOpen, 200)
{
    setWindowTitle(QStringLiteral("设置终端参数"));

    auto* group = new QGroupBox(QStringLiteral("  门禁终端参数  "), this);
    edtSector = new QLineEdit(group);
    edtSector->setToolTip(QStringLiteral("只有“管理员”才能修改此项"));
    edtSector->setMaximumWidth(80);
    edtRegion = new QLineEdit(group);
    edtRegion->setToolTip(QStringLiteral("建议使用本小区的联系电话"));
    edtRegion->setMaximumWidth(160);
    lblSyncTime = MakeValueLabel(QStringLiteral("..."), group);

    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(16, 16, 16, 16);
    grid->setVerticalSpacing(6);
    grid->addWidget(CaptionFor(edtSector, QStringLiteral("用户使用IC卡扇区，默认扇区（7）："), group), 0, 0,
                    Qt::AlignRight);
    grid->addWidget(edtSector, 0, 1, Qt::AlignLeft);
    grid->addWidget(noteLabel(QStringLiteral("（注意：必须在读卡器上同步修改相同的扇区）"), group, "#b03030"),
                    1, 1);
    grid->addWidget(CaptionFor(edtRegion, QStringLiteral("小区标识号（8位数字或字母）："), group), 2, 0,
                    Qt::AlignRight);
    grid->addWidget(edtRegion, 2, 1, Qt::AlignLeft);
    grid->addWidget(noteLabel(QStringLiteral("（建议：使用小区的电话号码）"), group, "#2f68ad"), 3, 1);
    grid->addWidget(CaptionFor(lblSyncTime, QStringLiteral("同步时间："), group), 4, 0, Qt::AlignRight);
    grid->addWidget(lblSyncTime, 4, 1);
    grid->setColumnStretch(1, 1);

    btnRead = MakeButton(QStringLiteral("读终端卡"), this);
    btnWrite = MakeButton(QStringLiteral("写终端卡"), this);
    btnSave = MakeButton(QStringLiteral("保存数据"), this);
    btnCancel = MakeButton(QStringLiteral("取消操作"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {btnRead, btnWrite, btnSave, btnCancel})
        buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->addWidget(MakeHeading(QStringLiteral("设置终端参数"), this));
    layout->addWidget(noteLabel(QStringLiteral("提示：必须首先初始化IC卡，才能使用IC卡"), this, "#555555"));
    layout->addSpacing(6);
    layout->addWidget(group);
    layout->addSpacing(6);
    layout->addLayout(buttons);

    setTabOrder(edtSector, edtRegion);
    setTabOrder(edtRegion, btnRead);
    setTabOrder(btnRead, btnWrite);
    setTabOrder(btnWrite, btnSave);
    setTabOrder(btnSave, btnCancel);

    OnClick(btnRead, this, &TFormSetTerminalParam::btnReadClick);
    OnClick(btnWrite, this, &TFormSetTerminalParam::btnWriteClick);
    OnClick(btnSave, this, &TFormSetTerminalParam::btnSaveClick);
    OnClick(btnCancel, this, &QDialog::reject);
}

void TFormSetTerminalParam::FormShow()
{
    edtSector->setText(QString::number(SystemInfo.Sector));
    edtSector->setEnabled(OperatorLevel != 0);
    const QString region = GbkToString(SystemInfo.RegionID, 8);
    edtRegion->setText(region.isEmpty() ? DefaultRegionID : region);
    CardDataReady = 0;
}

std::optional<QByteArray> TFormSetTerminalParam::regionToStore()
{
    const QString text = edtRegion->text();
    if (isRegionID(text))
        return text.toLatin1();
    // A settings file may hold an identifier of another form from before; it stays usable as
    // long as the box shows it unchanged, and is stored back byte for byte.
    const QByteArray stored = storedRegionBytes();
    if (!stored.isEmpty() && text == GbkToString(stored))
        return stored;
    ShowMessage(QStringLiteral("小区标识号必须8位数字或字母"));
    return std::nullopt;
}

void TFormSetTerminalParam::btnWriteClick()
{
    IssueCardCommand(CmdWriteDeviceCard, [this] {
        const std::optional<QByteArray> region = regionToStore();
        if (!region)
            return false;
        bool ok = false;
        const int sector = edtSector->text().toInt(&ok);
        if (!ok) {
            ShowRefusal(QStringLiteral("扇区输入错误"));
            return false;
        }
        const auto sectorByte = static_cast<uint8_t>(sector & 0xFF);
        if (sectorByte > 15) {
            ShowRefusal(QStringLiteral("扇区范围输入错误"));
            return false;
        }
        TerminalParamRec.Sector = sectorByte;
        CopyGbkField(TerminalParamRec.RegionID, 8, *region);
        TerminalParamRec.Kind = DeviceCardKind;
        const QByteArray issueTime = Now().toString(QStringLiteral("yyMMddHH")).toLatin1();
        std::memcpy(TerminalParamRec.IssueTime, issueTime.constData(), 8);
        SystemInfo.Sector = sectorByte;
        CopyGbkField(SystemInfo.RegionID, 8, *region);
        return true;
    });
}

void TFormSetTerminalParam::btnReadClick()
{
    IssueCardCommand(CmdReadDeviceCard, [] {
        CardDataReady = 0;
        return true;
    });
}

void TFormSetTerminalParam::btnSaveClick()
{
    const std::optional<QByteArray> region = regionToStore();
    if (!region)
        return;
    bool ok = false;
    const int sector = edtSector->text().toInt(&ok);
    if (!ok) {
        ShowError(QStringLiteral("“%1”不是有效的整数").arg(edtSector->text()));
        return;
    }
    const QString before = SettingsLogText();
    SystemInfo.Sector = static_cast<uint8_t>(sector & 0xFF);
    CopyGbkField(SystemInfo.RegionID, 8, *region);
    RecordSettingsChange(LogAction::SaveRegionId, before);
    accept();
}

void TFormSetTerminalParam::tmrAnswerTimer()
{
    if (!CardDataReady)
        return;
    CardDataReady = 0;
    edtRegion->setText(GbkToString(TerminalParamRec.RegionID, 8));
    lblSyncTime->setText(QString::fromLatin1(TerminalParamRec.IssueTime, 8));
}
