#include "UiFixture.h"
#include "link/CardIssuerLink.h"
#include "ui/InitQdr.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

class TestInitCards : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void formatRunWithAWriteErrorBetween();
    void restoreRunAndToggle();
    void resetFollowsItsState_data();
    void resetFollowsItsState();
    void levelShowsResetBox();
    void destroyedMidRunStops();
};

void TestInitCards::formatRunWithAWriteErrorBetween()
{
    AttachedProgram a;
    QVERIFY(a.start());
    for (uint32_t s : {101u, 102u, 103u})
        QVERIFY(a.f.sim.addCard(s));
    TFormInit_QDR w;
    w.setMode(false);
    w.show();
    QCOMPARE(w.lblHeading->text(), QStringLiteral("格式化IC卡"));
    QCOMPARE(w.pnlSector->text(), QStringLiteral("7"));
    QSignalSpy handled(a.link.get(), &CardIssuerLink::answerHandled);

    w.btnRun->click();
    QCOMPARE(w.btnRun->text(), QStringLiteral("停止"));
    QCOMPARE(int(PendingCommand), 0);

    a.f.sim.present(101);
    QVERIFY(handled.wait(3000));
    QTRY_COMPARE(w.pnlSuccess->text(), QStringLiteral("1"));
    QTRY_COMPARE(w.pnlResult->text(), QStringLiteral("操作完成"));

    a.f.sim.setFault(SimFault::WriteError, 1);
    a.f.sim.present(102);
    QVERIFY(handled.wait(3000));
    QTRY_COMPARE(w.pnlResult->text(), QStringLiteral("写卡错误"));
    QCOMPARE(w.pnlSuccess->text(), QStringLiteral("1"));
    QCOMPARE(w.failureCount, 1);

    a.f.sim.present(103);
    QVERIFY(handled.wait(3000));
    QTRY_COMPARE(w.pnlSuccess->text(), QStringLiteral("2"));
    QTRY_COMPARE(w.pnlResult->text(), QStringLiteral("操作完成"));
    QCOMPARE(a.f.sim.sectorState(101, 7), SectorState::Formatted);
    QCOMPARE(a.f.sim.sectorState(102, 7), SectorState::Blank);
    QCOMPARE(a.f.sim.sectorState(103, 7), SectorState::Formatted);
    QVERIFY(a.f.dialogs.texts().isEmpty()); // no boxes during a run

    // Stopping: the caption comes back, the card issuer is told, and a later card is not processed.
    QSignalSpy frames(&a.f.sim, &SimCardIssuer::frameReceived);
    w.btnRun->click();
    QTRY_VERIFY(!frames.isEmpty() &&
                frames.last().first().toByteArray() == QByteArray("\xAA\x05\x09\x00\xEE", 5));
    QCOMPARE(w.btnRun->text(), QStringLiteral("执行"));
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(a.f.sim.addCard(104));
    a.f.sim.present(104);
    QTest::qWait(300);
    QCOMPARE(a.f.sim.sectorState(104, 7), SectorState::Blank);
    QCOMPARE(w.successCount, 2);

    w.btnClear->click();
    QCOMPARE(w.pnlResult->text(), QStringLiteral("..."));
    QTRY_COMPARE(w.pnlSuccess->text(), QStringLiteral("0"));
}

void TestInitCards::restoreRunAndToggle()
{
    AttachedProgram a;
    QVERIFY(a.start());
    OperatorLevel = 2;
    a.f.formattedCardOnReader(201);
    TFormInit_QDR w;
    w.setMode(true);
    w.show();
    QCOMPARE(w.lblHeading->text(), QStringLiteral("IC卡恢复白卡"));
    QVERIFY(w.chkReset->isChecked());
    QVERIFY(w.buttonRow->styleSheet().contains(QStringLiteral("#d62f2f")));
    QSignalSpy handled(a.link.get(), &CardIssuerLink::answerHandled);
    w.btnRun->click();
    QCOMPARE(int(PendingCommand), 5);
    QVERIFY(handled.wait(3000));
    QTRY_COMPARE(w.pnlSuccess->text(), QStringLiteral("1"));
    QCOMPARE(a.f.sim.sectorState(201, 7), SectorState::Blank);

    // Clearing the box while restoring stops the run; the next run formats.
    w.chkReset->click();
    QVERIFY(!w.running);
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(w.buttonRow->styleSheet().isEmpty());
    w.btnRun->click();
    QCOMPARE(int(PendingCommand), 0);

    // Closing stops and leaves the idle command.
    w.close();
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(!w.running);
}

void TestInitCards::resetFollowsItsState_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Space") << "space";
    QTest::newRow("setChecked") << "setChecked";
    QTest::newRow("assistive tool") << "toggleAction";
}

// However "重置" changes, it stops a run and colours the row as a click does.
void TestInitCards::resetFollowsItsState()
{
    QFETCH(QString, way);
    UiFixture f;
    OperatorLevel = 2;
    TFormInit_QDR w;
    w.setMode(true);
    w.show();
    const auto toggle = [&] {
        if (way == QStringLiteral("space")) {
            QTest::keyClick(w.chkReset, Qt::Key_Space);
        } else if (way == QStringLiteral("setChecked")) {
            w.chkReset->setChecked(!w.chkReset->isChecked());
        } else {
            QAccessibleInterface* box = QAccessible::queryAccessibleInterface(w.chkReset);
            QVERIFY(box && box->actionInterface());
            box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        }
    };

    w.btnRun->click();
    QCOMPARE(int(PendingCommand), 5);
    toggle();
    QVERIFY(!w.chkReset->isChecked());
    QVERIFY(!w.running);
    QCOMPARE(w.btnRun->text(), QStringLiteral("执行"));
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(w.buttonRow->styleSheet().isEmpty());

    w.btnRun->click();
    QCOMPARE(int(PendingCommand), 0); // unchecked: formats
    toggle();
    QVERIFY(w.chkReset->isChecked());
    QVERIFY(!w.running);
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(w.buttonRow->styleSheet().contains(QStringLiteral("#d62f2f")));
}

void TestInitCards::levelShowsResetBox()
{
    UiFixture f;
    for (int level : {0, 1, 2}) {
        OperatorLevel = uint8_t(level);
        TFormInit_QDR w;
        w.show();
        QCOMPARE(w.chkReset->isVisible(), level == 2);
        QCOMPARE(w.pnlResult->text(), QStringLiteral("..."));
        QTRY_COMPARE(w.pnlResult->text(), QStringLiteral("操作完成")); // the first tick shows result 0
    }
}

// Gone without being closed (its opener went first): the run is stopped all the same, and later
// answers of the run find no window to count in.
void TestInitCards::destroyedMidRunStops()
{
    UiFixture f;
    auto* w = new TFormInit_QDR;
    w->show();
    QVERIFY(CurrentInitRunCounters);
    w->btnRun->click();
    QCOMPARE(int(PendingCommand), 0);
    CommandEvent.reset();
    delete w;
    QCOMPARE(int(PendingCommand), 9);
    QVERIFY(CommandEvent.isSet()); // command 9 goes out
    QVERIFY(!CurrentInitRunCounters);
}

QTEST_MAIN(TestInitCards)
#include "tst_initcards.moc"
