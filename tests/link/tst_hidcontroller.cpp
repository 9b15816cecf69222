// The HID controller and the main window's three handlers, over a fake backend: claiming,
// hot-plug, read threads, and releasing a device that keeps sending without ever deadlocking.

#include "FakeHid.h"
#include "link/CardIssuerLink.h"
#include "link/Frames.h"
#include "link/HidReportDescriptor.h"
#include "link/ProgramState.h"
#include "link/SimulatorBackend.h"
#include "support/TestDialogs.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

constexpr uint16_t Vid = CardIssuerVendorId;
constexpr uint16_t Pid = CardIssuerProductId;

struct Setup {
    FakeHidBackend* backend = nullptr;
    std::unique_ptr<CardIssuerLink> link;
};

// A link over a fake backend with the given devices present from the start; returns once the first
// enumeration has run.
Setup MakeLink(const QList<std::tuple<QString, uint16_t, uint16_t>>& devices)
{
    Setup s;
    auto backend = std::make_unique<FakeHidBackend>();
    for (const auto& [path, vid, pid] : devices)
        backend->plug(path, vid, pid, false);
    s.backend = backend.get();
    std::vector<std::unique_ptr<HidBackend>> backends;
    backends.push_back(std::move(backend));
    s.link = std::make_unique<CardIssuerLink>(std::move(backends));
    QSignalSpy change(s.link->controller(), &TJvHidDeviceController::deviceChange);
    change.wait(1000);
    return s;
}

uint32_t SequenceOf(const QByteArray& data)
{
    // data is the report after its ID: 29, BB, 1, 1, then the frame AA 09 08 00 s3 s2 s1 s0 EE
    const auto* d = reinterpret_cast<const uint8_t*>(data.constData());
    return uint32_t(d[8]) << 24 | uint32_t(d[9]) << 16 | uint32_t(d[10]) << 8 | d[11];
}

} // namespace

class TestHidController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void firstEnumerationClaimsTheCardIssuer();
    void onlyTheCardIssuerIsClaimed();
    void twoCardIssuers();
    void unrelatedDeviceReclaimsAndKeepsHalfAnswer();
    void failedClaimShowsNotAttached();
    void badReportIsReported();
    void buttonMessages();
    void releaseWhileSendingNeverDeadlocks();
    void releaseFromNestedLoopInsideHandler();
    void reportDescriptorLengths_data();
    void reportDescriptorLengths();
    void defaultBackends();
};

void TestHidController::init()
{
    ResetProgramState();
}

void TestHidController::firstEnumerationClaimsTheCardIssuer()
{
    auto backend = std::make_unique<FakeHidBackend>();
    auto device = backend->plug(QStringLiteral("/dev/a"), Vid, Pid, false);
    std::vector<std::unique_ptr<HidBackend>> backends;
    backends.push_back(std::move(backend));
    CardIssuerLink link(std::move(backends));
    QSignalSpy attached(&link, &CardIssuerLink::attachedChanged);
    QVERIFY(!link.attached()); // not before the event loop runs
    QVERIFY(attached.wait(1000));
    QCOMPARE(attached.takeFirst().at(0).toBool(), true);
    QVERIFY(link.attached());
    QCOMPARE(CardIssuerDevice->DevicePath(), QStringLiteral("/dev/a"));
    QCOMPARE(CardIssuerDevice->NumInputBuffers(), 31);
    QCOMPARE(CardIssuerDevice->OutputReportLength(), 31);
    QCOMPARE(device->opens, 1);
}

void TestHidController::onlyTheCardIssuerIsClaimed()
{
    auto s =
        MakeLink({{QStringLiteral("/dev/other"), Vid, 0x1234}, {QStringLiteral("/dev/mouse"), 0x046D, Pid}});
    QVERIFY(!s.link->attached());
    QCOMPARE(s.link->controller()->Devices().size(), 2);
    for (TJvHidDevice* d : s.link->controller()->Devices())
        QVERIFY(!d->IsCheckedOut());
}

void TestHidController::twoCardIssuers()
{
    auto s = MakeLink({{QStringLiteral("/dev/a"), Vid, Pid}, {QStringLiteral("/dev/b"), Vid, Pid}});
    QVERIFY(s.link->attached());
    QCOMPARE(CardIssuerDevice->DevicePath(), QStringLiteral("/dev/a"));

    // Pulling out the other one still releases the claimed one, then claims it again.
    QSignalSpy attached(s.link.get(), &CardIssuerLink::attachedChanged);
    QSignalSpy removal(s.link->controller(), &TJvHidDeviceController::deviceRemoval);
    s.backend->unplug(QStringLiteral("/dev/b"));
    QCOMPARE(removal.size(), 1);
    QCOMPARE(attached.size(), 2); // "  拔 出", then "  插 入" again
    QCOMPARE(attached[0].at(0).toBool(), false);
    QCOMPARE(attached[1].at(0).toBool(), true);
    QCOMPARE(CardIssuerDevice->DevicePath(), QStringLiteral("/dev/a"));
    QCOMPARE(s.backend->present[0].device->opens, 2);
    QCOMPARE(s.link->controller()->Devices().size(), 1); // the unplugged one is gone

    // Pulling out the claimed one: the remaining one is claimed.
    s.backend->plug(QStringLiteral("/dev/b"), Vid, Pid);
    s.backend->unplug(QStringLiteral("/dev/a"));
    QVERIFY(s.link->attached());
    QCOMPARE(CardIssuerDevice->DevicePath(), QStringLiteral("/dev/b"));

    s.backend->unplug(QStringLiteral("/dev/b"));
    QVERIFY(!s.link->attached());
    QVERIFY(s.link->controller()->Devices().isEmpty());
}

void TestHidController::unrelatedDeviceReclaimsAndKeepsHalfAnswer()
{
    auto s = MakeLink({{QStringLiteral("/dev/a"), Vid, Pid}});
    auto device = s.backend->present[0].device;
    QSignalSpy handled(s.link.get(), &CardIssuerLink::answerHandled);
    QSignalSpy data(s.link->controller(), &TJvHidDeviceController::deviceData);

    // The first two pieces of a 53-byte answer to command 4 arrive ...
    std::vector<std::vector<uint8_t>> reports;
    struct Sink final : ReportSink {
        std::vector<std::vector<uint8_t>>* out;
        int outputReportLength() const override { return ReportSize; }
        void writeReport(const uint8_t* r, int n) override { out->emplace_back(r, r + n); }
    } sink;
    sink.out = &reports;
    FrameBytes answer{};
    answer[0] = FrameHead;
    answer[1] = 53;
    answer[2] = 4;
    answer[3] = 0;
    for (int i = 4; i < 52; ++i)
        answer[size_t(i)] = uint8_t(i);
    answer[52] = FrameTail;
    SendFrame(answer, &sink);
    QCOMPARE(reports.size(), size_t(3));
    FeedReports(*device, {reports[0], reports[1]});
    QTRY_COMPARE(data.size(), 2);

    // ... then a mouse is plugged in: the card issuer is released and claimed again ...
    s.backend->plug(QStringLiteral("/dev/mouse"), 0x046D, 0xC077);
    QCOMPARE(device->opens, 2);
    QVERIFY(s.link->attached());

    // ... and the last piece completes the answer from what stayed in the reassembly buffer.
    FeedReports(*device, {reports[2]});
    QVERIFY(handled.wait(1000));
    QCOMPARE(int(ResponseFrame.Length), 53);
    QCOMPARE(int(ResponseFrame.Data[47]), 51);
}

void TestHidController::failedClaimShowsNotAttached()
{
    auto s = MakeLink({{QStringLiteral("/dev/a"), Vid, Pid}});
    QVERIFY(s.link->attached());
    QSignalSpy attached(s.link.get(), &CardIssuerLink::attachedChanged);
    s.backend->failOpen = true; // e.g. the device went away between enumeration and opening
    s.backend->plug(QStringLiteral("/dev/mouse"), 0x046D, 0xC077);
    QVERIFY(!s.link->attached());
    QCOMPARE(attached.size(), 1);
    QCOMPARE(attached[0].at(0).toBool(), false);
}

void TestHidController::badReportIsReported()
{
    TestDialogs dialogs;
    auto s = MakeLink({{QStringLiteral("/dev/a"), Vid, Pid}});
    auto report = FakeHidBackend::SequenceReport(1);
    report[30] = 0; // no packet tail
    FeedReports(*s.backend->present[0].device, {report});
    QTRY_COMPARE(dialogs.texts(), QStringList{QStringLiteral("接收数据错误！")});
}

void TestHidController::buttonMessages()
{
    QCOMPARE(CardIssuerLink::btnInMessage(), QStringLiteral("插入设备\rVID:1A86\rPID:E010"));
    QCOMPARE(CardIssuerLink::btnOutMessage(), QStringLiteral("未找到设备\rVID:1A86\rPID:E010"));
}

void TestHidController::releaseWhileSendingNeverDeadlocks()
{
    auto s = MakeLink({{QStringLiteral("/dev/a"), Vid, Pid}});
    auto device = s.backend->present[0].device;
    {
        std::lock_guard lock(device->mutex);
        device->streaming = true;
    }
    std::vector<uint32_t> seen;
    connect(s.link->controller(), &TJvHidDeviceController::deviceData, this,
            [&](TJvHidDevice*, uint8_t id, const QByteArray& d) {
                QCOMPARE(int(id), 0);
                seen.push_back(SequenceOf(d));
            });
    QElapsedTimer clock;
    clock.start();
    constexpr int Rounds = 300;
    for (int i = 0; i < Rounds; ++i) {
        // Let some reports through, then release and claim again while the thread hands one over.
        for (int k = 0; k < 3; ++k)
            QCoreApplication::processEvents();
        s.link->HidCtlDeviceChange();
        QVERIFY(s.link->attached());
    }
    QTRY_VERIFY(seen.size() > size_t(Rounds));
    QCOMPARE(device->opens, Rounds + 1);
    // Reports are handled one at a time, in arrival order, none twice.
    for (size_t i = 1; i < seen.size(); ++i)
        QVERIFY2(seen[i] > seen[i - 1], qPrintable(QStringLiteral("at %1").arg(i)));
    qInfo("%d releases in %lld ms, %zu reports handled", Rounds, clock.elapsed(), seen.size());
}

void TestHidController::releaseFromNestedLoopInsideHandler()
{
    // A handler that shows a modal box runs a nested event loop; a device change handled there
    // must not wait for the read thread, which is waiting for that very handler.
    auto s = MakeLink({{QStringLiteral("/dev/a"), Vid, Pid}});
    auto device = s.backend->present[0].device;
    int nested = 0;
    int handledAfter = 0;
    connect(s.link->controller(), &TJvHidDeviceController::deviceData, this,
            [&](TJvHidDevice*, uint8_t, const QByteArray&) {
                if (nested >= 20) {
                    ++handledAfter;
                    return;
                }
                ++nested;
                QEventLoop modal;
                QTimer::singleShot(0, &modal, [&] {
                    s.backend->plug(QStringLiteral("/dev/mouse%1").arg(nested), 0x046D,
                                    0xC077); // release + claim
                    modal.quit();
                });
                modal.exec();
            });
    {
        std::lock_guard lock(device->mutex);
        device->streaming = true;
    }
    QTRY_VERIFY(handledAfter > 10);
    QCOMPARE(device->opens, 21);
    QVERIFY(s.link->attached());
}

void TestHidController::reportDescriptorLengths_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("output");
    QTest::addColumn<bool>("numbered");
    // Vendor page, 30 bytes in and out, no report IDs: what the card issuer declares.
    const QByteArray plain = QByteArray::fromHex("0600ff0901a1010901150026ff007508951e81020902951e9102c0");
    QTest::newRow("card issuer") << plain << 31 << 31 << false;
    // Two numbered input reports of 8 and 2 bytes, one output report of 4 bytes.
    const QByteArray numbered = QByteArray::fromHex("0600ff0901a101850175089508810285027508950281028503950491"
                                                    "02c0");
    QTest::newRow("numbered") << numbered << 9 << 5 << true;
    QTest::newRow("empty") << QByteArray() << 0 << 0 << false;
    QTest::newRow("truncated item") << QByteArray::fromHex("7508951e810295") << 31 << 0 << false;
}

void TestHidController::reportDescriptorLengths()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(int, input);
    QFETCH(int, output);
    QFETCH(bool, numbered);
    const HidReportLengths lengths = ParseReportDescriptor(descriptor);
    QCOMPARE(lengths.input, input);
    QCOMPARE(lengths.output, output);
    QCOMPARE(lengths.numbered, numbered);
}

void TestHidController::defaultBackends()
{
    qunsetenv(SimulatorVariable);
    auto backends = DefaultHidBackends();
    QCOMPARE(backends.size(), size_t(1));                      // real devices only
    for (const HidDeviceInfo& info : backends[0]->enumerate()) // whatever this machine has
        QVERIFY(!info.path.isEmpty());

    qputenv(SimulatorVariable, "/nonexistent/iccard-sim.sock");
    backends = DefaultHidBackends();
    qunsetenv(SimulatorVariable);
    QCOMPARE(backends.size(), size_t(2));
    QVERIFY(qobject_cast<SimulatorBackend*>(backends[1].get()));
    QVERIFY(backends[1]->enumerate().isEmpty()); // nobody listens there
}

QTEST_GUILESS_MAIN(TestHidController)
#include "tst_hidcontroller.moc"
