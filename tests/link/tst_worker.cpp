// The command worker: one frame per wake-up built from the state at that moment, nothing for codes
// above 10, and a clean end even while it waits for the main thread.

#include "FakeHid.h"
#include "link/CardIssuerLink.h"
#include "link/CommandWorker.h"
#include "link/ProgramState.h"
#include "store/SaveLoad.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

class TestWorker : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void oneFramePerWakeUp();
    void codesAboveTenSendNothing();
    void stopsWhileStepPending();
    void startStopRepeatedly();

private:
    QList<QByteArray>& written() { return backend_->present[0].device->written; }
    FakeHidBackend* backend_ = nullptr;
    std::unique_ptr<CardIssuerLink> link_;
};

void TestWorker::init()
{
    ResetProgramState();
    DefaultSystemInfo(SystemInfo);
    auto backend = std::make_unique<FakeHidBackend>();
    backend->plug(QStringLiteral("/dev/a"), CardIssuerVendorId, CardIssuerProductId, false);
    backend_ = backend.get();
    std::vector<std::unique_ptr<HidBackend>> backends;
    backends.push_back(std::move(backend));
    link_ = std::make_unique<CardIssuerLink>(std::move(backends));
    QTRY_VERIFY(link_->attached());
    StartCommandWorker();
}

void TestWorker::cleanup()
{
    StopCommandWorker();
    link_.reset();
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
    CommandEvent.reset();
    QCoreApplication::processEvents();
    const auto before = written().size();
    IssueCommand(IdleCommand);
    QTRY_COMPARE(written().size(), before + 1);
}

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
