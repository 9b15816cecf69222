#include "SimWindow.h"

#include "SimCardIssuer.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString RecordSummary(const SimCard& card)
{
    QStringList parts;
    for (int i = 0; i < SimCard::SectorCount; ++i) {
        const QByteArray& r = card.sectors[size_t(i)].record;
        if (!r.isEmpty())
            parts << QStringLiteral("%1: %2").arg(i).arg(QString::fromLatin1(r.toHex(' ')));
    }
    return parts.join(QStringLiteral("; "));
}

} // namespace

SimWindow::SimWindow(SimCardIssuer* issuer, QWidget* parent) : QWidget(parent), m_issuer(issuer)
{
    setWindowTitle(QStringLiteral("Simulated card issuer"));
    resize(900, 480);

    m_table = new QTableWidget(0, 4, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Serial"), QStringLiteral("Reader"),
                                        QStringLiteral("Sectors 0-15"), QStringLiteral("Content")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto* newCard = new QPushButton(QStringLiteral("New blank card"), this);
    auto* putOn = new QPushButton(QStringLiteral("Put on reader"), this);
    auto* takeOff = new QPushButton(QStringLiteral("Take off reader"), this);
    m_plugButton = new QPushButton(this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(newCard);
    buttons->addWidget(putOn);
    buttons->addWidget(takeOff);
    buttons->addStretch();
    buttons->addWidget(m_plugButton);

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
    m_delay->setSuffix(QStringLiteral(" ms"));
    m_highBit = new QCheckBox(QStringLiteral("Set bit 7 of every result"), this);
    auto* faults = new QGroupBox(QStringLiteral("Faults (next N operations)"), this);
    auto* form = new QFormLayout(faults);
    form->addRow(QStringLiteral("Read error (result 2)"), m_readFaults);
    form->addRow(QStringLiteral("Write error (result 3)"), m_writeFaults);
    form->addRow(QStringLiteral("No answer"), m_noAnswerFaults);
    form->addRow(QStringLiteral("Corrupt report"), m_corruptFaults);
    form->addRow(QStringLiteral("Delay before answers"), m_delay);
    form->addRow(m_highBit);

    m_status = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    layout->addWidget(faults);
    layout->addWidget(m_status);

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
        m_status->setToolTip(QStringLiteral("last answer: ") + QString::fromLatin1(frame.toHex(' ')));
    });
    refreshCards();
    refreshStatus();
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
        const QStringList cells{QString::number(serial), present ? QStringLiteral("on reader") : QString(),
                                SimCardIssuer::sectorLetters(card), RecordSummary(card)};
        for (int col = 0; col < cells.size(); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (col >= 2) // sector letters and bytes line up in a fixed font
                item->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
            m_table->setItem(row, col, item);
        }
        if (ok && serial == selected)
            m_table->setCurrentCell(row, 0);
    }
    m_table->resizeColumnsToContents();
}

void SimWindow::refreshStatus()
{
    QString text = m_issuer->pluggedIn() ? QStringLiteral("Plugged in, socket %1").arg(m_issuer->socketPath())
                                         : QStringLiteral("Unplugged");
    if (m_issuer->pluggedIn())
        text += m_issuer->programConnected() ? QStringLiteral(" - program connected")
                                             : QStringLiteral(" - waiting for the program");
    text += QStringLiteral("   (sectors: - blank, f formatted, O owner, D device, B blacklist, x foreign)");
    m_status->setText(text);
    m_plugButton->setText(m_issuer->pluggedIn() ? QStringLiteral("Unplug") : QStringLiteral("Plug in"));
}
