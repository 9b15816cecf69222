// The command worker: one frame per wake-up built from the state at that moment, nothing for codes
// above 10, a clean end even while it waits for the main thread, and the end of the program when
// a main-thread step is called from another thread.

#include "FakeHid.h"
#include "link/CardIssuerLink.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "link/Responses.h"
#include "store/SaveLoad.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <thread>

class TestWorker : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void oneFramePerWakeUp();
    void codesAboveTenSendNothing();
    void stopsWhileStepPending();
    void startStopRepeatedly();
    void offMainThreadEndsTheProgram_data();
    void offMainThreadEndsTheProgram();

private:
    QList<QByteArray>& written() { return m_backend->present[0].device->written; }
    FakeHidBackend* m_backend = nullptr;
    std::unique_ptr<CardIssuerLink> m_link;
};

void TestWorker::init()
{
    ResetProgramState();
    DefaultSystemInfo(SystemInfo);
    auto backend = std::make_unique<FakeHidBackend>();
    backend->plug(QStringLiteral("/dev/a"), CardIssuerVendorId, CardIssuerProductId, false);
    m_backend = backend.get();
    std::vector<std::unique_ptr<HidBackend>> backends;
    backends.push_back(std::move(backend));
    m_link = std::make_unique<CardIssuerLink>(std::move(backends));
    QTRY_VERIFY(m_link->attached());
    StartCommandWorker();
}

void TestWorker::cleanup()
{
    StopCommandWorker();
    m_link.reset();
}

void TestWorker::oneFramePerWakeUp()
{
    IssueCommand(IdleCommand);
    QTRY_COMPARE(written().size(), 1);
    const QByteArray& r = written()[0];
    QCOMPARE(r.mid(5, 5), QByteArray("\xAA\x05\x09\x00\xEE", 5));

    // Command 0 with the sector as it is when the worker runs.
    SystemInfo.Sector = 12;
    IssueCommand(0);
    QTRY_COMPARE(written().size(), 2);
    QCOMPARE(written()[1].mid(5, 11), QByteArray("\xAA\x0B\x00\x0C\xFF\xFF\xFF\xFF\xFF\xFF\xEE", 11));
    QTest::qWait(50);
    QCOMPARE(written().size(), 2);
    QVERIFY(!CommandEvent.isSet()); // the worker reset it
}

void TestWorker::codesAboveTenSendNothing()
{
    IssueCommand(11);
    QTest::qWait(100);
    QVERIFY(written().isEmpty());
    QVERIFY(!CommandEvent.isSet()); // it woke and reset the event all the same
    QCOMPARE(int(PendingCommand), 11);
}

void TestWorker::stopsWhileStepPending()
{
    // The worker wakes and waits for the main thread, which does not run events here.
    IssueCommand(IdleCommand);
    QTest::qSleep(50);
    QElapsedTimer clock;
    clock.start();
    StopCommandWorker();
    QVERIFY(clock.elapsed() < 1000);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(written().isEmpty()); // the step it had asked for was dropped
}

void TestWorker::startStopRepeatedly()
{
    for (int i = 0; i < 100; ++i) {
        IssueCommand(IdleCommand);
        if (i % 2)
            QCoreApplication::processEvents();
        StopCommandWorker();
        StartCommandWorker();
    }
    // The last command of the loop may still be pending for the worker just started; under load it
    // can send it at any moment. The last worker goes, the wake-up is cleared while no worker runs,
    // and a new worker starts with nothing pending: one command, one frame.
    StopCommandWorker();
    CommandEvent.reset();
    QCoreApplication::processEvents();
    StartCommandWorker();
    const auto before = written().size();
    IssueCommand(IdleCommand);
    QTRY_COMPARE(written().size(), before + 1);
    QTest::qWait(100); // and no second one follows
    QCOMPARE(written().size(), before + 1);
}

void TestWorker::offMainThreadEndsTheProgram_data()
{
    QTest::addColumn<QString>("function");
    for (const char* function : {"IssueCommand", "BuildAndSendCommand", "HandleResponse"})
        QTest::newRow(function) << QString::fromLatin1(function);
}

// The test runs itself as a child that makes the call from a thread of its own; the child must die
// naming the function, in this build as in every other.
void TestWorker::offMainThreadEndsTheProgram()
{
    QFETCH(QString, function);
    const QString inChild = qEnvironmentVariable("ICCARD_CALL_OFF_MAIN");
    if (!inChild.isEmpty()) {
        std::thread([&inChild] {
            if (inChild == QStringLiteral("IssueCommand"))
                IssueCommand(IdleCommand);
            else if (inChild == QStringLiteral("BuildAndSendCommand"))
                BuildAndSendCommand();
            else
                HandleResponse(ReceivedFrame{});
        }).join();
        QFAIL("the call went through");
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ICCARD_CALL_OFF_MAIN"), function);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels); // Qt Test logs the fatal message to stdout
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("offMainThreadEndsTheProgram:") + function});
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QVERIFY2(
        child.readAll().contains((function + QStringLiteral(" called outside the main thread")).toUtf8()),
        "no message naming the function");
}

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
