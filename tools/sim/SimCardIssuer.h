#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <deque>
#include <optional>

class QLocalServer;
class QLocalSocket;
class QTimer;

// The simulated card issuer: the card issuer's firmware as the program sees it, with a set of
// cards, one reader slot, faults on demand, and the program's connection on a local socket. Every
// report travels on the socket as exactly the 31 bytes of a HID report (report ID 0 first), in
// both directions; nothing else travels. A connection is an arrival, its end a removal.
//
// Lives in one thread (the one it was created in, or moved to before listen()).

enum class SectorState : uint8_t {
    Blank,     // factory keys
    Formatted, // keys of this system; holds at most one record
    Foreign,   // keys of another system
};

struct SimSector {
    SectorState state = SectorState::Blank;
    QByteArray record; // empty: none; byte 0 is the card kind (0 owner, 1 device, 2 blacklist)
};

struct SimCard {
    static constexpr int SectorCount = 16;
    uint32_t serial = 0;
    std::array<SimSector, SectorCount> sectors;
};

enum class SimFault {
    ReadError,  // result 2 on the next N card operations
    WriteError, // result 3 on the next N card operations
    NoAnswer,   // the next N answers never come
    Corrupt,    // the next N answers carry a report with a broken packet tail
};

class SimCardIssuer final : public QObject {
    Q_OBJECT
public:
    explicit SimCardIssuer(QObject* parent = nullptr);
    ~SimCardIssuer() override;

    // --- The socket --------------------------------------------------------------------------
    // Listens on path (a stale socket file there is removed); false with errorString() when not.
    bool listen(const QString& path);
    QString socketPath() const { return m_path; }
    QString errorString() const { return m_error; }
    bool isListening() const;
    bool programConnected() const { return m_connection != nullptr; }
    // Pulls the card issuer out: ends the connection and stops listening.
    void unplug();
    // Plugs it in again: listens on the same path.
    bool plug();
    bool pluggedIn() const { return m_plugged; }

    // --- Cards -------------------------------------------------------------------------------
    // A new blank card with an unused random serial.
    uint32_t newCard();
    // A new blank card; false when the serial is taken.
    bool addCard(uint32_t serial);
    QList<uint32_t> serials() const;
    std::optional<SimCard> card(uint32_t serial) const;
    SectorState sectorState(uint32_t serial, int sector) const;
    QByteArray sectorRecord(uint32_t serial, int sector) const;
    // Sets a sector as it is (a foreign sector, a prepared record); false for an unknown card or sector.
    bool setSector(uint32_t serial, int sector, SectorState state, const QByteArray& record = {});

    // --- The reader slot ---------------------------------------------------------------------
    // Puts the card on the reader (taking off any other one); a waiting format or blank run
    // processes it at once. False for an unknown serial.
    bool present(uint32_t serial);
    // Takes the card off the reader.
    void remove();
    std::optional<uint32_t> presentSerial() const { return m_present; }

    // --- Faults ------------------------------------------------------------------------------
    void setFault(SimFault fault, int count);
    int fault(SimFault fault) const;
    // Sets bit 7 of the result in every answer.
    void setHighBit(bool on);
    bool highBit() const { return m_highBit; }
    // Holds every answer back for ms milliseconds.
    void setAnswerDelay(int ms);
    int answerDelay() const { return m_delayMs; }
    // Puts bytes on the connection as they are (to play a broken device).
    void sendRaw(const QByteArray& bytes);

    // --- Cards file (JSON) -------------------------------------------------------------------
    bool loadCards(const QString& file);
    bool saveCards(const QString& file) const;

    // One line of the headless "list": serial, present or absent, one letter per sector
    // ('-' blank, 'f' formatted and empty, 'O' owner, 'D' device, 'B' blacklist record, 'x' foreign).
    QString describe(uint32_t serial) const;
    static QString sectorLetters(const SimCard& card);

    // The firmware without the socket: one command frame in, the answer frame out (none when it
    // is not answered now). Faults that act on answers (no answer, corrupt, bit 7, delay) apply
    // only on the socket.
    std::optional<QByteArray> handleFrame(const QByteArray& frame);

Q_SIGNALS:
    void cardsChanged();
    void readerChanged();
    void faultsChanged();
    void connectionChanged(bool connected);
    void frameReceived(const QByteArray& frame);
    void answerSent(const QByteArray& frame);

private:
    struct Waiting {
        uint8_t code;
        uint8_t sector;
    };
    SimCard* findCard(uint32_t serial);
    const SimCard* findCard(uint32_t serial) const;
    std::optional<QByteArray> cardCommand(const QByteArray& frame);
    QByteArray processRun(uint8_t code, uint8_t sector);
    uint8_t takeResultFault();
    void onNewConnection();
    void dropConnection();
    void onReadyRead();
    void receiveReport(const uint8_t* report);
    void transmit(QByteArray frame);
    void flushDue();

    QList<SimCard> m_cards;
    std::optional<uint32_t> m_present;
    bool m_presentProcessed = false;
    std::optional<Waiting> m_waiting;

    int m_readFaults = 0;
    int m_writeFaults = 0;
    int m_noAnswerFaults = 0;
    int m_corruptFaults = 0;
    bool m_highBit = false;
    int m_delayMs = 0;

    QString m_path;
    QString m_error;
    bool m_plugged = true;
    QLocalServer* m_server;
    QLocalSocket* m_connection = nullptr;
    QByteArray m_received;
    std::array<uint8_t, 75> m_assembly{};
    struct Due {
        qint64 at;
        QByteArray bytes;
    };
    std::deque<Due> m_due;
    QTimer* m_dueTimer;
};
