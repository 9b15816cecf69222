#include "ShowBlackCard.h"

#include "Actions.h"
#include "Widgets.h"
#include "cards/Digits.h"
#include "link/ProgramState.h"
#include "store/CardOwners.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TFormShowBlackCard::TFormShowBlackCard(QWidget* parent)
    : CardDialog(parent, CloseRule::LeavePending, Polling::WhileOpen, 100)
{
    setWindowTitle(QStringLiteral("黑名单卡信息"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMaximizeButtonHint);
    pnlHeading = MakeHeading(QStringLiteral("读黑名单"), this);
    mmoList = new QPlainTextEdit(this);
    mmoList->setReadOnly(true);
    mmoList->setAccessibleName(QStringLiteral("黑名单卡信息"));
    mmoList->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmoList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoList->setTabStopDistance(QFontMetricsF(mmoList->font()).horizontalAdvance(QLatin1Char(' ')) * 8);
    btnReturn = MakeButton(QStringLiteral("返回"), this);
    OnClick(btnReturn, this, &TFormShowBlackCard::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnReturn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->addWidget(pnlHeading);
    layout->addWidget(mmoList, 1);
    layout->addLayout(buttons);
    SetOpeningSize({820, 460});
}

void TFormShowBlackCard::FormShow()
{
    mmoList->clear();
}

QStringList TFormShowBlackCard::ListingLines()
{
    char region[8];
    UnpackDigits(region, BlackListRec.RegionBCD, 4);
    QStringList lines;
    lines << QStringLiteral("卡类型：") + QString::number(BlackListRec.Kind) +
                 QStringLiteral(" ,\t卡数量：") + QString::number(BlackListRec.Count) +
                 QStringLiteral(" ,\t小区号：") + QString::fromLatin1(region, 8);
    lines << QString() << QStringLiteral("序号\t标志\t卡号\t\t姓名\t\t栋号\t单元号\t房号");
    lines << QString(69, QLatin1Char('='));
    const int count = std::min<int>(BlackListRec.Count, BlackListMaxEntries);
    const auto serial24 = [](const BlackListEntry& entry) {
        return uint32_t(entry.Serial24[0]) | uint32_t(entry.Serial24[1]) << 8 |
               uint32_t(entry.Serial24[2]) << 16;
    };
    // An entry keeps the low 24 bits of a card serial: every owner whose card has them is named,
    // one line each; an entry no owner matches has its line with the owner's columns empty.
    QList<uint32_t> serials;
    for (int i = 0; i < count; ++i)
        serials << serial24(BlackListRec.Entries[i]);
    const QHash<uint32_t, QList<CardOwner>> owners = OwnersBySerial24(serials);
    for (int i = 0; i < count; ++i) {
        const BlackListEntry& entry = BlackListRec.Entries[i];
        const uint32_t serial = serial24(entry);
        const QString head = QStringLiteral("  ") + PadNumber(i, 2) + QLatin1Char('\t') +
                             (entry.Flag == 1 ? QStringLiteral("黑") : QStringLiteral("白")) +
                             QLatin1Char('\t') + PadNumber(int32_t(serial), 10) + QLatin1Char('\t');
        QList<CardOwner> named = owners.value(serial);
        if (named.isEmpty())
            named << CardOwner{};
        for (const CardOwner& owner : named)
            lines << head + owner.UserName + QStringLiteral("\t\t") + owner.DongHao + QLatin1Char('\t') +
                         owner.DanYuan + QLatin1Char('\t') + owner.FangHao;
        lines << QString(137, QLatin1Char('-'));
    }
    return lines;
}

void TFormShowBlackCard::tmrAnswerTimer()
{
    if (!BlackListReady)
        return;
    BlackListReady = 0;
    for (const QString& line : ListingLines())
        mmoList->appendPlainText(line);
}
