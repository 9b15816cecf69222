#include "SimWindow.h"

#include "SimCardIssuer.h"
#include "link/SimulatorScreen.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The records on the card, one line per formatted sector that holds one.
QString RecordLines(const SimCard& card)
{
    QStringList lines;
    for (int i = 0; i < SimCard::SectorCount; ++i) {
        const QByteArray& r = card.sectors[size_t(i)].record;
        if (!r.isEmpty())
            lines << QStringLiteral("扇区 %1：%2").arg(i).arg(QString::fromLatin1(r.toHex(' ')));
    }
    return lines.isEmpty() ? QStringLiteral("（卡上没有记录）") : lines.join(QLatin1Char('\n'));
}

} // namespace

SimWindow::SimWindow(SimCardIssuer* issuer, QWidget* parent) : QWidget(parent), m_issuer(issuer)
{
    setWindowTitle(QStringLiteral("模拟发卡器"));
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    m_table = new QTableWidget(0, 3, this);
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("卡序列号"), QStringLiteral("读卡器"), QStringLiteral("扇区 0-15")});
    m_table->setAccessibleName(QStringLiteral("卡片"));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    auto* legend = new QLabel(
        QStringLiteral("扇区：- 空白　f 已格式化　O 业主卡　D 设备卡　B 黑名单卡　x 其他系统的卡"), this);
    legend->setWordWrap(true);

    m_content = new QPlainTextEdit(this);
    m_content->setReadOnly(true);
    m_content->setFont(fixed);
    m_content->setMaximumHeight(96);
    auto* contentCaption = new QLabel(QStringLiteral("选中卡的内容："), this);
    contentCaption->setBuddy(m_content);
    m_content->setAccessibleName(QStringLiteral("选中卡的内容"));

    auto* newCard = new QPushButton(QStringLiteral("新建空白卡"), this);
    auto* putOn = new QPushButton(QStringLiteral("放到读卡器上"), this);
    auto* takeOff = new QPushButton(QStringLiteral("从读卡器拿走"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(newCard);
    buttons->addWidget(putOn);
    buttons->addWidget(takeOff);
    buttons->addStretch();

    const auto counter = [this] {
        auto* box = new QSpinBox(this);
        box->setRange(0, 9999);
        return box;
    };
    m_readFaults = counter();
    m_writeFaults = counter();
    m_noAnswerFaults = counter();
    m_corruptFaults = counter();
    m_delay = new QSpinBox(this);
    m_delay->setRange(0, 60000);
    m_delay->setSuffix(QStringLiteral(" 毫秒"));
    m_highBit = new QCheckBox(QStringLiteral("每个结果码都置上第 7 位"), this);
    auto* faults = new QGroupBox(QStringLiteral("故障（接下来的 N 次操作）"), this);
    auto* form = new QFormLayout(faults);
    form->addRow(QStringLiteral("读卡错误（结果码 2）："), m_readFaults);
    form->addRow(QStringLiteral("写卡错误（结果码 3）："), m_writeFaults);
    form->addRow(QStringLiteral("不应答："), m_noAnswerFaults);
    form->addRow(QStringLiteral("报文损坏："), m_corruptFaults);
    form->addRow(QStringLiteral("每次应答前等待："), m_delay);
    form->addRow(m_highBit);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_plugButton = new QPushButton(this);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_status, 1);
    statusRow->addWidget(m_plugButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 1);
    layout->addWidget(legend);
    layout->addWidget(contentCaption);
    layout->addWidget(m_content);
    layout->addLayout(buttons);
    layout->addWidget(faults);
    layout->addLayout(statusRow);
    resize(SimulatorStripWidth, 640);

    connect(newCard, &QPushButton::clicked, this, [this] { m_issuer->newCard(); });
    connect(putOn, &QPushButton::clicked, this, [this] {
        bool ok = false;
        const uint32_t serial = selectedSerial(&ok);
        if (ok)
            m_issuer->present(serial);
    });
    connect(takeOff, &QPushButton::clicked, this, [this] { m_issuer->remove(); });
    connect(m_plugButton, &QPushButton::clicked, this, [this] {
        if (m_issuer->pluggedIn())
            m_issuer->unplug();
        else
            m_issuer->plug();
        refreshStatus();
    });
    const auto onCount = [this](QSpinBox* box, SimFault fault) {
        connect(box, &QSpinBox::valueChanged, this, [this, fault](int n) {
            if (m_issuer->fault(fault) != n)
                m_issuer->setFault(fault, n);
        });
    };
    onCount(m_readFaults, SimFault::ReadError);
    onCount(m_writeFaults, SimFault::WriteError);
    onCount(m_noAnswerFaults, SimFault::NoAnswer);
    onCount(m_corruptFaults, SimFault::Corrupt);
    connect(m_delay, &QSpinBox::valueChanged, m_issuer, &SimCardIssuer::setAnswerDelay);
    connect(m_highBit, &QCheckBox::toggled, m_issuer, &SimCardIssuer::setHighBit);

    connect(m_table, &QTableWidget::itemSelectionChanged, this, &SimWindow::refreshContent);
    connect(m_issuer, &SimCardIssuer::cardsChanged, this, &SimWindow::refreshCards);
    connect(m_issuer, &SimCardIssuer::readerChanged, this, &SimWindow::refreshCards);
    connect(m_issuer, &SimCardIssuer::connectionChanged, this, &SimWindow::refreshStatus);
    connect(m_issuer, &SimCardIssuer::faultsChanged, this, [this] {
        m_readFaults->setValue(m_issuer->fault(SimFault::ReadError));
        m_writeFaults->setValue(m_issuer->fault(SimFault::WriteError));
        m_noAnswerFaults->setValue(m_issuer->fault(SimFault::NoAnswer));
        m_corruptFaults->setValue(m_issuer->fault(SimFault::Corrupt));
    });
    connect(m_issuer, &SimCardIssuer::answerSent, this, [this](const QByteArray& frame) {
        m_status->setToolTip(QStringLiteral("最后一次应答：") + QString::fromLatin1(frame.toHex(' ')));
    });
    refreshCards();
    refreshStatus();
}

void SimWindow::PlaceBesideProgram()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The strip is for the whole window; the frame the window manager adds goes inside it.
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(),
                           frame.right() - inner.right(), frame.bottom() - inner.bottom());
    setGeometry(SimulatorStrip(screen->availableGeometry()).marginsRemoved(margins));
}

void SimWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    // A window manager frames the window after it is shown: place it again then, frame included.
    QTimer::singleShot(300, this, &SimWindow::PlaceBesideProgram);
}

uint32_t SimWindow::selectedSerial(bool* ok) const
{
    const int row = m_table->currentRow();
    *ok = row >= 0;
    return *ok ? m_table->item(row, 0)->text().toUInt(ok) : 0;
}

void SimWindow::refreshCards()
{
    bool ok = false;
    const uint32_t selected = selectedSerial(&ok);
    const QList<uint32_t> serials = m_issuer->serials();
    m_table->setRowCount(int(serials.size()));
    for (int row = 0; row < serials.size(); ++row) {
        const uint32_t serial = serials[row];
        const SimCard card = *m_issuer->card(serial);
        const bool present = m_issuer->presentSerial() == serial;
        const QStringList cells{QString::number(serial), present ? QStringLiteral("在读卡器上") : QString(),
                                SimCardIssuer::sectorLetters(card)};
        for (int col = 0; col < cells.size(); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (col == 2) // sector letters line up in a fixed font
                item->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
            m_table->setItem(row, col, item);
        }
        if (ok && serial == selected)
            m_table->setCurrentCell(row, 0);
    }
    // The serial and reader columns fit their texts; the sector column takes the rest of the width.
    m_table->resizeColumnToContents(0);
    m_table->resizeColumnToContents(1);
    refreshContent();
}

void SimWindow::refreshContent()
{
    bool ok = false;
    const uint32_t serial = selectedSerial(&ok);
    const std::optional<SimCard> card = ok ? m_issuer->card(serial) : std::nullopt;
    m_content->setPlainText(card ? RecordLines(*card) : QStringLiteral("（在上面选一张卡）"));
}

void SimWindow::refreshStatus()
{
    QString text;
    if (!m_issuer->pluggedIn())
        text = QStringLiteral("发卡器已拔出");
    else if (m_issuer->programConnected())
        text = QStringLiteral("发卡器已插入，程序已连接（套接字 %1）").arg(m_issuer->socketPath());
    else
        text = QStringLiteral("发卡器已插入，等待程序连接（套接字 %1）").arg(m_issuer->socketPath());
    m_status->setText(text);
    m_plugButton->setText(m_issuer->pluggedIn() ? QStringLiteral("拔出发卡器")
                                                : QStringLiteral("插入发卡器"));
}
