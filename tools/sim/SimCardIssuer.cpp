#include "SimCardIssuer.h"

#include "link/Frames.h"
#include "link/SimulatorBackend.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTimer>
#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t ResultOk = 0;
constexpr uint8_t ResultKey = 1;
constexpr uint8_t ResultRead = 2;
constexpr uint8_t ResultWrite = 3;
constexpr uint8_t ResultNoCard = 4;
constexpr uint8_t ResultKind = 5;
constexpr uint8_t ResultCommunity = 6;
constexpr int MaxPayload = MaxFrameSize - 5;

QByteArray Answer(uint8_t code, uint8_t result, const QByteArray& payload = {})
{
    const QByteArray data = payload.left(MaxPayload);
    QByteArray frame;
    frame.append(char(FrameHead)).append(char(5 + data.size())).append(char(code)).append(char(result));
    frame.append(data).append(char(FrameTail));
    return frame;
}

QByteArray SerialBytes(uint32_t serial)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((serial >> (24 - 8 * i)) & 0xFF);
    return b;
}

class CollectingSink final : public ReportSink {
public:
    QList<QByteArray> reports;
    int outputReportLength() const override { return ReportSize; }
    void writeReport(const uint8_t* report, int length) override
    {
        reports.append(QByteArray(reinterpret_cast<const char*>(report), length));
    }
};

QList<QByteArray> CutIntoReports(const QByteArray& frame)
{
    FrameBytes bytes{};
    std::memcpy(bytes.data(), frame.constData(), size_t(std::min<qsizetype>(frame.size(), MaxFrameSize)));
    CollectingSink sink;
    SendFrame(bytes, &sink);
    return sink.reports;
}

QString StateName(SectorState state)
{
    switch (state) {
    case SectorState::Blank:
        return QStringLiteral("blank");
    case SectorState::Formatted:
        return QStringLiteral("formatted");
    case SectorState::Foreign:
        return QStringLiteral("foreign");
    }
    return {};
}

std::optional<SectorState> StateFromName(const QString& name)
{
    if (name == QLatin1String("blank"))
        return SectorState::Blank;
    if (name == QLatin1String("formatted"))
        return SectorState::Formatted;
    if (name == QLatin1String("foreign"))
        return SectorState::Foreign;
    return std::nullopt;
}

} // namespace

SimCardIssuer::SimCardIssuer(QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)), m_dueTimer(new QTimer(this))
{
    m_dueTimer->setSingleShot(true);
    connect(m_server, &QLocalServer::newConnection, this, &SimCardIssuer::onNewConnection);
    connect(m_dueTimer, &QTimer::timeout, this, &SimCardIssuer::flushDue);
}

SimCardIssuer::~SimCardIssuer()
{
    if (m_connection)
        m_connection->disconnect(this);
}

// ---------------------------------------------------------------------------------------------
// Socket

bool SimCardIssuer::listen(const QString& path)
{
    m_path = path;
    m_plugged = true;
    if (m_server->isListening())
        m_server->close();
    const QString name = SimulatorSocketName(path);
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        m_error = m_server->errorString();
        return false;
    }
    m_error.clear();
    return true;
}

bool SimCardIssuer::isListening() const
{
    return m_server->isListening();
}

void SimCardIssuer::unplug()
{
    m_plugged = false;
    dropConnection();
    m_server->close();
    m_waiting.reset(); // the firmware loses power
    m_due.clear();
}

bool SimCardIssuer::plug()
{
    if (m_path.isEmpty())
        return false;
    return listen(m_path);
}

void SimCardIssuer::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (m_connection || !m_plugged) { // one program at a time
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_connection = socket;
        m_received.clear();
        connect(socket, &QLocalSocket::readyRead, this, &SimCardIssuer::onReadyRead);
        connect(socket, &QLocalSocket::disconnected, this, &SimCardIssuer::dropConnection);
        Q_EMIT connectionChanged(true);
        if (socket->bytesAvailable() > 0)
            onReadyRead();
    }
}

void SimCardIssuer::dropConnection()
{
    if (!m_connection)
        return;
    QLocalSocket* socket = m_connection;
    m_connection = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    m_received.clear();
    m_due.clear();
    Q_EMIT connectionChanged(false);
}

void SimCardIssuer::sendRaw(const QByteArray& bytes)
{
    if (m_connection) {
        m_connection->write(bytes);
        m_connection->flush();
    }
}

void SimCardIssuer::onReadyRead()
{
    if (!m_connection)
        return;
    m_received.append(m_connection->readAll());
    qsizetype at = 0;
    while (m_received.size() - at >= ReportSize) {
        receiveReport(reinterpret_cast<const uint8_t*>(m_received.constData() + at));
        at += ReportSize;
        if (!m_connection)
            return;
    }
    m_received.remove(0, at);
}

void SimCardIssuer::receiveReport(const uint8_t* r)
{
    // r[0] report ID, r[1] 29, r[2] 0xBB, r[3] count, r[4] index, r[5..29] frame bytes, r[30] 0xCC
    if (r[2] != PacketHead || r[30] != PacketTail)
        return;
    const int count = r[3];
    const int index = r[4];
    if (index < 1 || index > MaxPackets)
        return;
    std::memcpy(&m_assembly[size_t(PacketDataSize * (index - 1))], &r[5], PacketDataSize);
    if (index != count)
        return;
    const int length = m_assembly[1];
    if (m_assembly[0] != FrameHead || length < 5 || length > MaxFrameSize ||
        m_assembly[size_t(length - 1)] != FrameTail)
        return;
    const QByteArray frame(reinterpret_cast<const char*>(m_assembly.data()), length);
    if (auto answer = handleFrame(frame))
        transmit(*answer);
}

void SimCardIssuer::transmit(QByteArray frame)
{
    if (!m_connection)
        return;
    if (m_noAnswerFaults > 0) {
        --m_noAnswerFaults;
        Q_EMIT faultsChanged();
        return;
    }
    if (m_highBit)
        frame[3] = char(uint8_t(frame[3]) | 0x80);
    QList<QByteArray> reports = CutIntoReports(frame);
    if (m_corruptFaults > 0) {
        --m_corruptFaults;
        reports.last()[30] = 0;
        Q_EMIT faultsChanged();
    }
    QByteArray bytes;
    for (const QByteArray& r : reports)
        bytes += r.left(ReportSize);
    Q_EMIT answerSent(frame);
    if (m_delayMs <= 0 && m_due.empty()) {
        m_connection->write(bytes);
        m_connection->flush();
        return;
    }
    m_due.push_back({QDateTime::currentMSecsSinceEpoch() + m_delayMs, bytes});
    if (!m_dueTimer->isActive())
        flushDue();
}

void SimCardIssuer::flushDue()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    while (!m_due.empty() && m_due.front().at <= now) {
        if (m_connection) {
            m_connection->write(m_due.front().bytes);
            m_connection->flush();
        }
        m_due.pop_front();
    }
    if (!m_due.empty())
        m_dueTimer->start(int(std::max<qint64>(0, m_due.front().at - now)));
}

// ---------------------------------------------------------------------------------------------
// Cards and the reader

SimCard* SimCardIssuer::findCard(uint32_t serial)
{
    for (SimCard& c : m_cards)
        if (c.serial == serial)
            return &c;
    return nullptr;
}

const SimCard* SimCardIssuer::findCard(uint32_t serial) const
{
    return const_cast<SimCardIssuer*>(this)->findCard(serial);
}

uint32_t SimCardIssuer::newCard()
{
    uint32_t serial = 0;
    do
        serial = QRandomGenerator::global()->generate();
    while (serial == 0 || findCard(serial));
    addCard(serial);
    return serial;
}

bool SimCardIssuer::addCard(uint32_t serial)
{
    if (findCard(serial))
        return false;
    SimCard card;
    card.serial = serial;
    m_cards.append(card);
    Q_EMIT cardsChanged();
    return true;
}

QList<uint32_t> SimCardIssuer::serials() const
{
    QList<uint32_t> out;
    for (const SimCard& c : m_cards)
        out.append(c.serial);
    return out;
}

std::optional<SimCard> SimCardIssuer::card(uint32_t serial) const
{
    if (const SimCard* c = findCard(serial))
        return *c;
    return std::nullopt;
}

SectorState SimCardIssuer::sectorState(uint32_t serial, int sector) const
{
    const SimCard* c = findCard(serial);
    if (!c || sector < 0 || sector >= SimCard::SectorCount)
        return SectorState::Blank;
    return c->sectors[size_t(sector)].state;
}

QByteArray SimCardIssuer::sectorRecord(uint32_t serial, int sector) const
{
    const SimCard* c = findCard(serial);
    if (!c || sector < 0 || sector >= SimCard::SectorCount)
        return {};
    return c->sectors[size_t(sector)].record;
}

bool SimCardIssuer::setSector(uint32_t serial, int sector, SectorState state, const QByteArray& record)
{
    SimCard* c = findCard(serial);
    if (!c || sector < 0 || sector >= SimCard::SectorCount)
        return false;
    c->sectors[size_t(sector)] = SimSector{state, state == SectorState::Formatted ? record : QByteArray()};
    Q_EMIT cardsChanged();
    return true;
}

bool SimCardIssuer::present(uint32_t serial)
{
    if (!findCard(serial))
        return false;
    m_present = serial;
    m_presentProcessed = false;
    Q_EMIT readerChanged();
    if (m_waiting) {
        const Waiting w = *m_waiting;
        m_waiting.reset();
        transmit(processRun(w.code, w.sector));
    }
    return true;
}

void SimCardIssuer::remove()
{
    m_present.reset();
    m_presentProcessed = false;
    Q_EMIT readerChanged();
}

// ---------------------------------------------------------------------------------------------
// Faults

void SimCardIssuer::setFault(SimFault fault, int count)
{
    count = std::max(count, 0);
    switch (fault) {
    case SimFault::ReadError:
        m_readFaults = count;
        break;
    case SimFault::WriteError:
        m_writeFaults = count;
        break;
    case SimFault::NoAnswer:
        m_noAnswerFaults = count;
        break;
    case SimFault::Corrupt:
        m_corruptFaults = count;
        break;
    }
    Q_EMIT faultsChanged();
}

int SimCardIssuer::fault(SimFault fault) const
{
    switch (fault) {
    case SimFault::ReadError:
        return m_readFaults;
    case SimFault::WriteError:
        return m_writeFaults;
    case SimFault::NoAnswer:
        return m_noAnswerFaults;
    case SimFault::Corrupt:
        return m_corruptFaults;
    }
    return 0;
}

void SimCardIssuer::setHighBit(bool on)
{
    m_highBit = on;
    Q_EMIT faultsChanged();
}

void SimCardIssuer::setAnswerDelay(int ms)
{
    m_delayMs = std::max(ms, 0);
    Q_EMIT faultsChanged();
}

uint8_t SimCardIssuer::takeResultFault()
{
    if (m_readFaults > 0) {
        --m_readFaults;
        Q_EMIT faultsChanged();
        return ResultRead;
    }
    if (m_writeFaults > 0) {
        --m_writeFaults;
        Q_EMIT faultsChanged();
        return ResultWrite;
    }
    return ResultOk;
}

// ---------------------------------------------------------------------------------------------
// Firmware

std::optional<QByteArray> SimCardIssuer::handleFrame(const QByteArray& frame)
{
    if (frame.size() < 5)
        return std::nullopt;
    Q_EMIT frameReceived(frame);
    const auto code = uint8_t(frame[2]);
    const auto sector = uint8_t(frame[3]);
    m_waiting.reset(); // every command ends a run that waits for a card
    switch (code) {
    case 0:
    case 5:
        if (m_present && !m_presentProcessed)
            return processRun(code, sector);
        m_waiting = Waiting{code, sector};
        return std::nullopt;
    case 1:
    case 2:
    case 3:
    case 4:
    case 6:
    case 7:
        return cardCommand(frame);
    case 8:
    case 10:
        return Answer(code, ResultOk);
    default: // 9 ends the run and is never answered; unknown codes neither
        return std::nullopt;
    }
}

QByteArray SimCardIssuer::processRun(uint8_t code, uint8_t sector)
{
    m_presentProcessed = true;
    SimCard* c = m_present ? findCard(*m_present) : nullptr;
    if (!c)
        return Answer(code, ResultNoCard);
    uint8_t result = takeResultFault();
    if (result == ResultOk) {
        if (sector >= SimCard::SectorCount || c->sectors[sector].state == SectorState::Foreign) {
            result = ResultKey;
        } else {
            c->sectors[sector] = SimSector{code == 0 ? SectorState::Formatted : SectorState::Blank, {}};
            Q_EMIT cardsChanged();
        }
    }
    return Answer(code, result);
}

std::optional<QByteArray> SimCardIssuer::cardCommand(const QByteArray& frame)
{
    const auto code = uint8_t(frame[2]);
    const auto sector = uint8_t(frame[3]);
    SimCard* c = m_present ? findCard(*m_present) : nullptr;
    const QByteArray serial = SerialBytes(c ? c->serial : 0);
    const auto reply = [&](uint8_t result, const QByteArray& payload = {}) {
        return Answer(code, result, code == 3 ? serial : payload);
    };
    if (!c)
        return reply(ResultNoCard);
    if (const uint8_t fault = takeResultFault())
        return reply(fault);
    if (sector >= SimCard::SectorCount || c->sectors[sector].state != SectorState::Formatted)
        return reply(ResultKey);
    SimSector& s = c->sectors[sector];
    const QByteArray payload = frame.mid(4, frame.size() - 5);
    switch (code) {
    case 1: // device card: 11 bytes
    case 3: // owner card: 48 bytes
    case 6: // blacklist card: kind, community, count, entries
        s.record = code == 1 ? payload.left(11) : code == 3 ? payload.left(48) : payload;
        Q_EMIT cardsChanged();
        return reply(ResultOk);
    default: { // the reads 2, 4, 7: community bytes 4..7 and the kind asked for at byte 8
        const char kind = frame.size() > 8 ? frame[8] : char(-1);
        if (s.record.isEmpty() || s.record[0] != kind)
            return reply(ResultKind);
        if (s.record.mid(1, 4) != frame.mid(4, 4))
            return reply(ResultCommunity);
        QByteArray record = s.record;
        if (code == 4 && record.size() >= 14)
            record.replace(10, 4, serial);
        return reply(ResultOk, record);
    }
    }
}

// ---------------------------------------------------------------------------------------------
// Cards file and the list

QString SimCardIssuer::sectorLetters(const SimCard& card)
{
    QString letters;
    for (const SimSector& s : card.sectors) {
        switch (s.state) {
        case SectorState::Blank:
            letters += QLatin1Char('-');
            break;
        case SectorState::Foreign:
            letters += QLatin1Char('x');
            break;
        case SectorState::Formatted:
            if (s.record.isEmpty())
                letters += QLatin1Char('f');
            else if (s.record[0] == 0)
                letters += QLatin1Char('O');
            else if (s.record[0] == 1)
                letters += QLatin1Char('D');
            else if (s.record[0] == 2)
                letters += QLatin1Char('B');
            else
                letters += QLatin1Char('?');
            break;
        }
    }
    return letters;
}

QString SimCardIssuer::describe(uint32_t serial) const
{
    const SimCard* c = findCard(serial);
    if (!c)
        return {};
    return QStringLiteral("%1 %2 %3")
        .arg(serial)
        .arg(m_present == serial ? QStringLiteral("present") : QStringLiteral("absent"))
        .arg(sectorLetters(*c));
}

bool SimCardIssuer::loadCards(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        m_error = f.errorString();
        return false;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parseError);
    if (doc.isNull()) {
        m_error = parseError.errorString();
        return false;
    }
    QList<SimCard> cards;
    for (const QJsonValue& v : doc.object().value(QStringLiteral("cards")).toArray()) {
        const QJsonObject o = v.toObject();
        const double serial = o.value(QStringLiteral("serial")).toDouble(-1);
        if (serial < 0 || serial > 4294967295.0) {
            m_error = QStringLiteral("bad card serial");
            return false;
        }
        SimCard card;
        card.serial = uint32_t(serial);
        const QJsonArray sectors = o.value(QStringLiteral("sectors")).toArray();
        for (int i = 0; i < SimCard::SectorCount && i < sectors.size(); ++i) {
            const QJsonObject s = sectors[i].toObject();
            const auto state = StateFromName(s.value(QStringLiteral("state")).toString());
            if (!state) {
                m_error = QStringLiteral("bad sector state");
                return false;
            }
            card.sectors[size_t(i)].state = *state;
            if (*state == SectorState::Formatted)
                card.sectors[size_t(i)].record =
                    QByteArray::fromHex(s.value(QStringLiteral("record")).toString().toLatin1());
        }
        cards.append(card);
    }
    m_cards = cards;
    if (m_present && !findCard(*m_present))
        remove();
    Q_EMIT cardsChanged();
    return true;
}

bool SimCardIssuer::saveCards(const QString& file) const
{
    QJsonArray cards;
    for (const SimCard& c : m_cards) {
        QJsonArray sectors;
        for (const SimSector& s : c.sectors) {
            QJsonObject o{{QStringLiteral("state"), StateName(s.state)}};
            if (!s.record.isEmpty())
                o.insert(QStringLiteral("record"), QString::fromLatin1(s.record.toHex()));
            sectors.append(o);
        }
        cards.append(
            QJsonObject{{QStringLiteral("serial"), double(c.serial)}, {QStringLiteral("sectors"), sectors}});
    }
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QJsonDocument(QJsonObject{{QStringLiteral("cards"), cards}}).toJson());
    return f.commit();
}
