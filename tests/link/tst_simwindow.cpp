// The simulated card issuer's window: every caption in Chinese, as the program an office trains on,
// the cards as the issuer has them, and its place in a strip at the right edge of the screen, beside
// the program's main window.

#include "SimCardIssuer.h"
#include "SimWindow.h"
#include "link/SimulatorScreen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool hasChinese(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    return false;
}

// Every caption the window shows: title, labels, buttons, boxes, group titles, column titles, units.
QStringList captions(SimWindow& w)
{
    QStringList out{w.windowTitle()};
    for (QLabel* label : w.findChildren<QLabel*>())
        if (!label->text().isEmpty())
            out << label->text();
    for (QAbstractButton* button : w.findChildren<QAbstractButton*>())
        if (!button->text().isEmpty())
            out << button->text();
    for (QGroupBox* group : w.findChildren<QGroupBox*>())
        out << group->title();
    for (QSpinBox* box : w.findChildren<QSpinBox*>())
        if (!box->suffix().isEmpty())
            out << box->suffix();
    for (int col = 0; col < w.table()->columnCount(); ++col)
        out << w.table()->horizontalHeaderItem(col)->text();
    return out;
}

} // namespace

class TestSimWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void captionsInChinese();
    void cardsAndTheirContent();
    void stripBesideTheProgram_data();
    void stripBesideTheProgram();
    void windowTakesItsStrip();
};

void TestSimWindow::captionsInChinese()
{
    QTemporaryDir dir;
    SimCardIssuer issuer;
    QVERIFY(issuer.listen(dir.filePath(QStringLiteral("sim.sock"))));
    SimWindow w(&issuer);
    QStringList seen = captions(w);
    w.plugButton()->click(); // unplugged: the status and the plug button change their texts
    seen << captions(w);
    for (const QString& text : seen)
        QVERIFY2(hasChinese(text), qPrintable(text));
    QVERIFY(seen.contains(QStringLiteral("发卡器已拔出")));
    QVERIFY(seen.contains(QStringLiteral("插入发卡器")));
    w.plugButton()->click();
    QVERIFY(issuer.pluggedIn());
    QCOMPARE(w.plugButton()->text(), QStringLiteral("拔出发卡器"));
}

void TestSimWindow::cardsAndTheirContent()
{
    SimCardIssuer issuer;
    SimWindow w(&issuer);
    QVERIFY(issuer.addCard(3000000001u));
    QVERIFY(issuer.addCard(3000000002u));
    QVERIFY(issuer.setSector(3000000002u, 7, SectorState::Formatted, QByteArray::fromHex("01020304")));
    QVERIFY(issuer.present(3000000002u));
    QCOMPARE(w.table()->rowCount(), 2);
    const int row = w.table()->item(0, 0)->text() == QStringLiteral("3000000002") ? 0 : 1;
    QCOMPARE(w.table()->item(row, 1)->text(), QStringLiteral("在读卡器上"));
    QCOMPARE(w.table()->item(row, 2)->text(), QStringLiteral("-------D--------"));
    QCOMPARE(w.table()->item(1 - row, 1)->text(), QString());
    QCOMPARE(w.content()->toPlainText(), QStringLiteral("（在上面选一张卡）"));
    w.table()->setCurrentCell(row, 0);
    QCOMPARE(w.content()->toPlainText(), QStringLiteral("扇区 7：01 02 03 04"));
    w.table()->setCurrentCell(1 - row, 0);
    QCOMPARE(w.content()->toPlainText(), QStringLiteral("（卡上没有记录）"));
}

void TestSimWindow::stripBesideTheProgram_data()
{
    QTest::addColumn<QRect>("available");
    QTest::newRow("1366x768") << QRect(0, 0, 1366, 768);
    QTest::newRow("with a panel at the top") << QRect(0, 27, 1366, 741);
    QTest::newRow("second screen") << QRect(1920, 0, 1366, 768);
    QTest::newRow("1920x1080") << QRect(0, 0, 1920, 1080);
}

void TestSimWindow::stripBesideTheProgram()
{
    QFETCH(QRect, available);
    const QRect strip = SimulatorStrip(available);
    const QRect program = BesideSimulatorStrip(available);
    QCOMPARE(strip.width(), SimulatorStripWidth);
    QCOMPARE(strip.right(), available.right()); // at the right edge
    QCOMPARE(strip.top(), available.top());
    QCOMPARE(strip.height(), available.height());
    QVERIFY(!strip.intersects(program));        // neither hides the other
    QCOMPARE(strip.united(program), available); // and nothing is left unused
}

void TestSimWindow::windowTakesItsStrip()
{
    SimCardIssuer issuer;
    for (int i = 0; i < 3; ++i)
        issuer.newCard();
    SimWindow w(&issuer);
    // Its contents fit the strip on a 1366x768 screen, so the strip is not widened.
    QVERIFY2(w.minimumSizeHint().width() <= SimulatorStripWidth,
             qPrintable(QString::number(w.minimumSizeHint().width())));
    QVERIFY2(w.minimumSizeHint().height() <= 768 - 40,
             qPrintable(QString::number(w.minimumSizeHint().height())));
    w.PlaceBesideProgram();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Once framed, the window is placed again so that its frame, too, keeps to the strip.
    QTRY_COMPARE(w.frameGeometry(), SimulatorStrip(QGuiApplication::primaryScreen()->availableGeometry()));
}

QTEST_MAIN(TestSimWindow)
#include "tst_simwindow.moc"
