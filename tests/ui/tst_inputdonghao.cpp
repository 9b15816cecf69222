#include "UiFixture.h"
#include "store/Database.h"
#include "ui/InputDongHao.h"
#include "ui/SearchCondition.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

// One dialog for the whole run: "确定" keeps the texts and confirms, "取消" only clears the
// confirmation, and closing it any other way changes nothing at all.
class TestInputDongHao : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { FreeInputDongHao(); }
    void okKeepsTheTextsForTheNextExport();
    void cancelClearsOnlyTheConfirmation();
    void closingOtherwiseCancels_data();
    void closingOtherwiseCancels();
    void aResetStartsTheRunAfresh();

private:
    // Shows the dialog modally; act sees it with what the boxes hold when it opens.
    static QString showAnd(const std::function<void(TFormInputDongHao*)>& act)
    {
        QString opened;
        WhenModal<TFormInputDongHao>([&opened, act](TFormInputDongHao* w) {
            opened = w->edtDongHao->text() + QLatin1Char('/') + w->edtDanYuan->text();
            act(w);
        });
        InputDongHao()->exec();
        return opened;
    }
};

void TestInputDongHao::okKeepsTheTextsForTheNextExport()
{
    UiFixture f;
    TFormInputDongHao* d = InputDongHao();
    QCOMPARE(InputDongHao(), d); // one instance
    QCOMPARE(d->windowTitle(), QStringLiteral("导出用户数据"));
    QCOMPARE(d->lblHeading->text(), QStringLiteral("请输入目标单元号"));
    QVERIFY(!d->Confirmed);

    bool enterMovedOn = false;
    const QString first = showAnd([&enterMovedOn](TFormInputDongHao* w) {
        (void)QTest::qWaitForWindowActive(w);
        QTest::keyClicks(w->edtDongHao, QStringLiteral("3"));
        QTest::keyClick(w->edtDongHao, Qt::Key_Return); // on to the unit
        enterMovedOn = QApplication::focusWidget() == w->edtDanYuan;
        QTest::keyClicks(w->edtDanYuan, QStringLiteral("2"));
        w->btnOk->click();
    });
    QCOMPARE(first, QStringLiteral("/"));
    QVERIFY(enterMovedOn);
    QVERIFY(d->Confirmed);
    QCOMPARE(d->BuildingText, QStringLiteral("3"));
    QCOMPARE(d->UnitText, QStringLiteral("2"));

    // The next export opens with 3 and 2; confirming empty boxes is the whole community.
    const QString second = showAnd([](TFormInputDongHao* w) {
        w->edtDongHao->clear();
        w->edtDanYuan->clear();
        w->btnOk->click();
    });
    QCOMPARE(second, QStringLiteral("3/2"));
    QVERIFY(d->Confirmed);
    QCOMPARE(d->BuildingText + d->UnitText, QString());
}

void TestInputDongHao::cancelClearsOnlyTheConfirmation()
{
    UiFixture f;
    showAnd([](TFormInputDongHao* w) {
        w->edtDongHao->setText(QStringLiteral("3"));
        w->edtDanYuan->setText(QStringLiteral("2"));
        w->btnOk->click();
    });
    const QString opened = showAnd([](TFormInputDongHao* w) {
        w->edtDongHao->setText(QStringLiteral("8"));
        w->btnCancel->click();
    });
    QCOMPARE(opened, QStringLiteral("3/2"));
    TFormInputDongHao* d = InputDongHao();
    QVERIFY(!d->Confirmed);
    QCOMPARE(d->BuildingText + QLatin1Char('/') + d->UnitText, QStringLiteral("3/2"));
    QCOMPARE(showAnd([](TFormInputDongHao* w) { w->btnCancel->click(); }), QStringLiteral("3/2"));
}

void TestInputDongHao::closingOtherwiseCancels_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("confirmedBefore");
    QTest::newRow("close box after 确定") << "close" << true;
    QTest::newRow("close box after 取消") << "close" << false;
    QTest::newRow("Escape after 确定") << "escape" << true;
    QTest::newRow("Escape after 取消") << "escape" << false;
}

void TestInputDongHao::closingOtherwiseCancels()
{
    QFETCH(QString, how);
    QFETCH(bool, confirmedBefore);
    UiFixture f;
    showAnd([](TFormInputDongHao* w) {
        w->edtDongHao->setText(QStringLiteral("3"));
        w->edtDanYuan->setText(QStringLiteral("2"));
        w->btnOk->click();
    });
    if (!confirmedBefore)
        showAnd([](TFormInputDongHao* w) { w->btnCancel->click(); });

    showAnd([how](TFormInputDongHao* w) {
        w->edtDongHao->setText(QStringLiteral("9"));
        w->edtDanYuan->setText(QStringLiteral("9"));
        if (how == QLatin1String("close"))
            w->close();
        else
            QTest::keyClick(w->edtDanYuan, Qt::Key_Escape);
    });
    TFormInputDongHao* d = InputDongHao();
    QVERIFY(!d->isVisible());
    QVERIFY(!d->Confirmed); // an earlier 确定 does not start an export
    QCOMPARE(d->BuildingText + QLatin1Char('/') + d->UnitText, QStringLiteral("3/2"));
    // What was typed before closing is gone at the next showing.
    QCOMPARE(showAnd([](TFormInputDongHao* w) { w->close(); }), QStringLiteral("3/2"));
}

// What is kept for the run lives in more than one layer; one reset puts all of it back, as at the
// start of the program: the dialogs kept hidden go (with their texts), and so does --database.
void TestInputDongHao::aResetStartsTheRunAfresh()
{
    UiFixture f;
    QPointer<TFormInputDongHao> exportDialog = InputDongHao();
    QPointer<TFormSearchCondition> searchDialog = SearchCondition();
    exportDialog->edtDongHao->setText(QStringLiteral("3"));
    SetDatabaseOverride(QStringLiteral("postgresql://gate@other/iccard2"));

    ResetProgramState();
    QVERIFY(exportDialog.isNull());
    QVERIFY(searchDialog.isNull());
    QVERIFY(DatabaseOverride().isEmpty());
    QVERIFY(InputDongHao()->edtDongHao->text().isEmpty());
}

QTEST_MAIN(TestInputDongHao)
#include "tst_inputdonghao.moc"
