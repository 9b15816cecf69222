// The simulated card issuer itself: format and blank runs that wait for cards, its cards file, and
// the headless program driven the way scripts drive it, with the program's link beside it.

#include "SimCardIssuer.h"
#include "link/CardIssuerLink.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "link/Responses.h"
#include "link/SimulatorBackend.h"
#include "store/SaveLoad.h"
#include "support/AnswerFrames.h"
#include "support/TestDialogs.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray RunCommand(uint8_t code, uint8_t sector)
{
    return RawFrame(code, sector, QByteArray(6, '\xFF'));
}

// Reads lines of the headless simulator.
class Headless {
public:
    QProcess process;
    bool start(const QStringList& args)
    {
        process.start(QStringLiteral(ICCARD_SIM_PATH), args);
        return process.waitForStarted(5000);
    }
    QString line(int timeoutMs = 5000)
    {
        while (!process.canReadLine())
            if (!process.waitForReadyRead(timeoutMs))
                return QStringLiteral("<timeout>");
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    QString ask(const QString& command)
    {
        process.write((command + QLatin1Char('\n')).toLocal8Bit());
        return line();
    }
};

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void runAnswersOncePerCard();
    void runWaitEndsWithAnyCommand();
    void runOnForeignOrMissingSector();
    void cardsFileRoundTrip();
    void headlessCommands();
    void headlessBesideTheProgram();
};

void TestSimulator::runAnswersOncePerCard()
{
    SimCardIssuer sim;
    sim.addCard(1);
    sim.addCard(2);
    sim.present(1);
    // A card already on the reader is processed at once ...
    const auto first = sim.handleFrame(RunCommand(0, 7));
    QVERIFY(first);
    QCOMPARE(*first, QByteArray("\xAA\x05\x00\x00\xEE", 5));
    QCOMPARE(sim.sectorState(1, 7), SectorState::Formatted);
    // ... but only once: the next command waits for the next card.
    QVERIFY(!sim.handleFrame(RunCommand(0, 7)));
    QSignalSpy changed(&sim, &SimCardIssuer::cardsChanged);
    sim.present(2);
    QCOMPARE(sim.sectorState(2, 7), SectorState::Formatted);
    QCOMPARE(changed.size(), 1);
    // Lifting the same card and putting it back counts as a new card.
    QVERIFY(!sim.handleFrame(RunCommand(5, 7)));
    sim.present(2);
    QCOMPARE(sim.sectorState(2, 7), SectorState::Blank);
}

void TestSimulator::runWaitEndsWithAnyCommand()
{
    SimCardIssuer sim;
    sim.addCard(1);
    sim.addCard(2);
    QVERIFY(!sim.handleFrame(RunCommand(0, 7))); // no card: waits
    QVERIFY(!sim.handleFrame(RawFrame(9, 0)));   // stop: never answered, the wait ends
    sim.present(1);
    QCOMPARE(sim.sectorState(1, 7), SectorState::Blank);

    QVERIFY(sim.handleFrame(RunCommand(0, 7))); // card 1 is present and not processed yet: at once
    QCOMPARE(sim.sectorState(1, 7), SectorState::Formatted);
    QVERIFY(!sim.handleFrame(RunCommand(0, 7))); // waits for the next card
    const auto answer = sim.handleFrame(RawFrame(8, 0, QByteArray(1, '\0')));
    QCOMPARE(*answer, QByteArray("\xAA\x05\x08\x00\xEE", 5));
    sim.present(2);
    QCOMPARE(sim.sectorState(2, 7), SectorState::Blank);
}

void TestSimulator::runOnForeignOrMissingSector()
{
    SimCardIssuer sim;
    sim.addCard(1);
    sim.setSector(1, 7, SectorState::Foreign);
    sim.present(1);
    QCOMPARE(*sim.handleFrame(RunCommand(0, 7)), QByteArray("\xAA\x05\x00\x01\xEE", 5));
    QCOMPARE(sim.sectorState(1, 7), SectorState::Foreign);
    sim.present(1);
    QCOMPARE(*sim.handleFrame(RunCommand(5, 16)), QByteArray("\xAA\x05\x05\x01\xEE", 5)); // no sector 16
    sim.present(1);
    sim.setFault(SimFault::WriteError, 1);
    QCOMPARE(*sim.handleFrame(RunCommand(0, 2)), QByteArray("\xAA\x05\x00\x03\xEE", 5));
    QCOMPARE(sim.sectorState(1, 2), SectorState::Blank);
    QCOMPARE(sim.fault(SimFault::WriteError), 0);
}

void TestSimulator::cardsFileRoundTrip()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("cards.json"));
    SimCardIssuer a;
    a.addCard(0xFFFFFFFFu);
    a.addCard(42);
    a.setSector(42, 0, SectorState::Foreign);
    a.setSector(42, 7, SectorState::Formatted, QByteArray("\x02\x12\x34\x56\x78\x00", 6));
    a.setSector(42, 8, SectorState::Formatted);
    QVERIFY(a.saveCards(file));

    SimCardIssuer b;
    QVERIFY(b.loadCards(file));
    QCOMPARE(b.serials(), (QList<uint32_t>{0xFFFFFFFFu, 42}));
    QCOMPARE(b.describe(42), QStringLiteral("42 absent x------Bf-------"));
    QCOMPARE(b.sectorRecord(42, 7), QByteArray("\x02\x12\x34\x56\x78\x00", 6));
    QCOMPARE(b.describe(0xFFFFFFFFu), QStringLiteral("4294967295 absent ----------------"));

    QFile broken(dir.filePath(QStringLiteral("broken.json")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("{\"cards\":[{\"serial\":1,\"sectors\":[{\"state\":\"melted\"}]}]}");
    broken.close();
    QVERIFY(!b.loadCards(broken.fileName()));
    QCOMPARE(b.serials().size(), 2); // unchanged
}

void TestSimulator::headlessCommands()
{
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("s"));
    const QString cards = dir.filePath(QStringLiteral("cards.json"));
    {
        Headless sim;
        QVERIFY(sim.start({QStringLiteral("--headless"), QStringLiteral("--socket"), socket,
                           QStringLiteral("--cards"), cards}));
        QCOMPARE(sim.line(), QStringLiteral("listening ") + socket);
        QCOMPARE(sim.ask(QStringLiteral("new 7")), QStringLiteral("7"));
        bool ok = false;
        const uint32_t random = sim.ask(QStringLiteral("new")).toUInt(&ok);
        QVERIFY(ok);
        QCOMPARE(sim.ask(QStringLiteral("new 7")), QStringLiteral("error: card 7 exists"));
        QCOMPARE(sim.ask(QStringLiteral("present 7")), QStringLiteral("ok"));
        QCOMPARE(sim.ask(QStringLiteral("present 99")), QStringLiteral("error: no card 99"));
        QCOMPARE(sim.ask(QStringLiteral("fault noanswer 2")), QStringLiteral("ok"));
        QCOMPARE(sim.ask(QStringLiteral("fault sideways 2")),
                 QStringLiteral("error: unknown fault sideways"));
        QCOMPARE(sim.ask(QStringLiteral("list")), QStringLiteral("7 present ----------------"));
        QCOMPARE(sim.line(), QStringLiteral("%1 absent ----------------").arg(random));
        QCOMPARE(sim.ask(QStringLiteral("unplug")), QStringLiteral("ok"));
        // Where the socket is a file, it goes and comes back with the card issuer (a named pipe on
        // Windows is no file to look at).
        const bool socketIsFile = QSysInfo::kernelType() != QLatin1String("winnt");
        QVERIFY(!socketIsFile || !QFile::exists(socket));
        QCOMPARE(sim.ask(QStringLiteral("plug")), QStringLiteral("ok"));
        QVERIFY(!socketIsFile || QFile::exists(socket));
        sim.process.write("quit\n");
        QVERIFY(sim.process.waitForFinished(5000));
        QCOMPARE(sim.process.exitCode(), 0);
    }
    // The cards persist; end of input ends the program like quit.
    Headless again;
    QVERIFY(again.start({QStringLiteral("--headless"), QStringLiteral("--socket"), socket,
                         QStringLiteral("--cards"), cards}));
    QCOMPARE(again.line(), QStringLiteral("listening ") + socket);
    QCOMPARE(again.ask(QStringLiteral("list")), QStringLiteral("7 absent ----------------"));
    again.process.closeWriteChannel();
    QVERIFY(again.process.waitForFinished(5000));
}

void TestSimulator::headlessBesideTheProgram()
{
    ResetProgramState();
    TestDialogs dialogs;
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("s"));
    Headless sim;
    QVERIFY(sim.start({QStringLiteral("--headless"), QStringLiteral("--socket"), socket}));
    QCOMPARE(sim.line(), QStringLiteral("listening ") + socket);
    QCOMPARE(sim.ask(QStringLiteral("new 3000000000")), QStringLiteral("3000000000"));
    QCOMPARE(sim.ask(QStringLiteral("present 3000000000")), QStringLiteral("ok"));

    SystemInfo.Sector = 7;
    std::vector<std::unique_ptr<HidBackend>> backends;
    backends.push_back(std::make_unique<SimulatorBackend>(socket));
    CardIssuerLink link(std::move(backends));
    QTRY_VERIFY_WITH_TIMEOUT(link.attached(), 1000);
    StartCommandWorker();

    QSignalSpy handled(&link, &CardIssuerLink::answerHandled);
    IssueCommand(0); // format the card on the reader
    QVERIFY(handled.wait(2000));
    QCOMPARE(int(ResponseFrame.Result), 0);
    IssueCommand(IdleCommand);
    UserCardRec = {};
    UserCardRec.Sector = 7;
    IssueCommand(3);
    QVERIFY(handled.wait(2000));
    QCOMPARE(CardResult, 0);
    QCOMPARE(uint32_t(UserCardRec.CardSerial), 3000000000u);
    QCOMPARE(sim.ask(QStringLiteral("list")), QStringLiteral("3000000000 present -------O--------"));

    QSignalSpy attached(&link, &CardIssuerLink::attachedChanged);
    sim.process.write("quit\n");
    QVERIFY(sim.process.waitForFinished(5000));
    QVERIFY(attached.wait(1000)); // the end of the connection is a removal
    QVERIFY(!link.attached());
    StopCommandWorker();
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
