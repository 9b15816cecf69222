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

SimWindow::SimWindow(SimCardIssuer* issuer, QWidget* parent) : QWidget(parent), issuer_(issuer)
{
    setWindowTitle(QStringLiteral("Simulated card issuer"));
    resize(900, 480);

    table_ = new QTableWidget(0, 4, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("Serial"), QStringLiteral("Reader"),
                                       QStringLiteral("Sectors 0-15"), QStringLiteral("Content")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);

    auto* newCard = new QPushButton(QStringLiteral("New blank card"), this);
    auto* putOn = new QPushButton(QStringLiteral("Put on reader"), this);
    auto* takeOff = new QPushButton(QStringLiteral("Take off reader"), this);
    plugButton_ = new QPushButton(this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(newCard);
    buttons->addWidget(putOn);
    buttons->addWidget(takeOff);
    buttons->addStretch();
    buttons->addWidget(plugButton_);

    const auto counter = [this] {
        auto* box = new QSpinBox(this);
        box->setRange(0, 9999);
        return box;
    };
    readFaults_ = counter();
    writeFaults_ = counter();
    noAnswerFaults_ = counter();
    corruptFaults_ = counter();
    delay_ = new QSpinBox(this);
    delay_->setRange(0, 60000);
    delay_->setSuffix(QStringLiteral(" ms"));
    highBit_ = new QCheckBox(QStringLiteral("Set bit 7 of every result"), this);
    auto* faults = new QGroupBox(QStringLiteral("Faults (next N operations)"), this);
    auto* form = new QFormLayout(faults);
    form->addRow(QStringLiteral("Read error (result 2)"), readFaults_);
    form->addRow(QStringLiteral("Write error (result 3)"), writeFaults_);
    form->addRow(QStringLiteral("No answer"), noAnswerFaults_);
    form->addRow(QStringLiteral("Corrupt report"), corruptFaults_);
    form->addRow(QStringLiteral("Delay before answers"), delay_);
    form->addRow(highBit_);

    status_ = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    layout->addWidget(faults);
    layout->addWidget(status_);

    connect(newCard, &QPushButton::clicked, this, [this] { issuer_->newCard(); });
    connect(putOn, &QPushButton::clicked, this, [this] {
        bool ok = false;
        const uint32_t serial = selectedSerial(&ok);
        if (ok)
            issuer_->present(serial);
    });
    connect(takeOff, &QPushButton::clicked, this, [this] { issuer_->remove(); });
    connect(plugButton_, &QPushButton::clicked, this, [this] {
        if (issuer_->pluggedIn())
            issuer_->unplug();
        else
            issuer_->plug();
        refreshStatus();
    });
    const auto onCount = [this](QSpinBox* box, SimFault fault) {
        connect(box, &QSpinBox::valueChanged, this, [this, fault](int n) {
            if (issuer_->fault(fault) != n)
                issuer_->setFault(fault, n);
        });
    };
    onCount(readFaults_, SimFault::ReadError);
    onCount(writeFaults_, SimFault::WriteError);
    onCount(noAnswerFaults_, SimFault::NoAnswer);
    onCount(corruptFaults_, SimFault::Corrupt);
    connect(delay_, &QSpinBox::valueChanged, issuer_, &SimCardIssuer::setAnswerDelay);
    connect(highBit_, &QCheckBox::toggled, issuer_, &SimCardIssuer::setHighBit);

    connect(issuer_, &SimCardIssuer::cardsChanged, this, &SimWindow::refreshCards);
    connect(issuer_, &SimCardIssuer::readerChanged, this, &SimWindow::refreshCards);
    connect(issuer_, &SimCardIssuer::connectionChanged, this, &SimWindow::refreshStatus);
    connect(issuer_, &SimCardIssuer::faultsChanged, this, [this] {
        readFaults_->setValue(issuer_->fault(SimFault::ReadError));
        writeFaults_->setValue(issuer_->fault(SimFault::WriteError));
        noAnswerFaults_->setValue(issuer_->fault(SimFault::NoAnswer));
        corruptFaults_->setValue(issuer_->fault(SimFault::Corrupt));
    });
    connect(issuer_, &SimCardIssuer::answerSent, this, [this](const QByteArray& frame) {
        status_->setToolTip(QStringLiteral("last answer: ") + QString::fromLatin1(frame.toHex(' ')));
    });
    refreshCards();
    refreshStatus();
}

uint32_t SimWindow::selectedSerial(bool* ok) const
{
    const int row = table_->currentRow();
    *ok = row >= 0;
    return *ok ? table_->item(row, 0)->text().toUInt(ok) : 0;
}

void SimWindow::refreshCards()
{
    bool ok = false;
    const uint32_t selected = selectedSerial(&ok);
    const QList<uint32_t> serials = issuer_->serials();
    table_->setRowCount(int(serials.size()));
    for (int row = 0; row < serials.size(); ++row) {
        const uint32_t serial = serials[row];
        const SimCard card = *issuer_->card(serial);
        const bool present = issuer_->presentSerial() == serial;
        const QStringList cells{QString::number(serial), present ? QStringLiteral("on reader") : QString(),
                                SimCardIssuer::sectorLetters(card), RecordSummary(card)};
        for (int col = 0; col < cells.size(); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (col >= 2) // sector letters and bytes line up in a fixed font
                item->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
            table_->setItem(row, col, item);
        }
        if (ok && serial == selected)
            table_->setCurrentCell(row, 0);
    }
    table_->resizeColumnsToContents();
}

void SimWindow::refreshStatus()
{
    QString text = issuer_->pluggedIn() ? QStringLiteral("Plugged in, socket %1").arg(issuer_->socketPath())
                                        : QStringLiteral("Unplugged");
    if (issuer_->pluggedIn())
        text += issuer_->programConnected() ? QStringLiteral(" - program connected")
                                            : QStringLiteral(" - waiting for the program");
    text += QStringLiteral("   (sectors: - blank, f formatted, O owner, D device, B blacklist, x foreign)");
    status_->setText(text);
    plugButton_->setText(issuer_->pluggedIn() ? QStringLiteral("Unplug") : QStringLiteral("Plug in"));
}
