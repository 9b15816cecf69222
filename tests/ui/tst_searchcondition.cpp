#include "UiFixture.h"
#include "ui/SearchCondition.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

// One dialog for the whole run: what the operator chose and typed stays from one use to the next,
// and only "确 定" confirms.
class TestSearchCondition : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { FreeSearchCondition(); }
    void keepsChoiceAndTextsBetweenUses();
    void onlyOkConfirms_data();
    void onlyOkConfirms();
    void typingTakesTheChoice();
};

void TestSearchCondition::keepsChoiceAndTextsBetweenUses()
{
    UiFixture f;
    TFormSearchCondition* search = SearchCondition();
    QCOMPARE(SearchCondition(), search); // one instance
    QVERIFY(search->rb2->isChecked());   // the second choice at first
    search->SetCaptions(QStringLiteral("门禁编码:"), QStringLiteral("门禁名称"));
    QCOMPARE(search->lbl1->text(), QStringLiteral("门禁编码:"));
    QCOMPARE(search->edt2->accessibleName(), QStringLiteral("门禁名称"));

    WhenModal<TFormSearchCondition>([](TFormSearchCondition* w) {
        w->rb1->setChecked(true);
        w->edt1->setText(QStringLiteral("12"));
        w->edt2->setText(QStringLiteral("东门"));
        w->btnOk->click();
    });
    search->exec();
    QVERIFY(search->Confirmed);
    QVERIFY(search->FirstChosen());
    QCOMPARE(search->ChosenText(), QStringLiteral("12"));

    // The second use finds them as they were; confirming an empty box gives the empty text.
    QString seen;
    WhenModal<TFormSearchCondition>([&seen](TFormSearchCondition* w) {
        seen = w->edt1->text() + QLatin1Char('|') + w->edt2->text() + QLatin1Char('|') +
               QString::number(w->rb1->isChecked());
        w->edt1->clear();
        w->btnOk->click();
    });
    search->exec();
    QCOMPARE(seen, QStringLiteral("12|东门|1"));
    QVERIFY(search->Confirmed);
    QCOMPARE(search->ChosenText(), QString());
}

void TestSearchCondition::onlyOkConfirms_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close box") << "close";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("取 消") << "cancel";
}

void TestSearchCondition::onlyOkConfirms()
{
    QFETCH(QString, how);
    UiFixture f;
    TFormSearchCondition* search = SearchCondition();
    WhenModal<TFormSearchCondition>([](TFormSearchCondition* w) { w->btnOk->click(); });
    search->exec();
    QVERIFY(search->Confirmed);

    // An earlier confirmed search does not carry over to a use that was closed.
    WhenModal<TFormSearchCondition>([how](TFormSearchCondition* w) {
        w->edt2->setText(QStringLiteral("x"));
        if (how == QStringLiteral("close"))
            w->close();
        else if (how == QStringLiteral("escape"))
            QTest::keyClick(w->edt2, Qt::Key_Escape);
        else
            w->btnCancel->click();
    });
    search->exec();
    QVERIFY(!search->Confirmed);
    QCOMPARE(search->edt2->text(), QStringLiteral("x")); // the texts stay all the same
}

void TestSearchCondition::typingTakesTheChoice()
{
    UiFixture f;
    TFormSearchCondition* search = SearchCondition();
    search->show();
    search->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(search));
    QVERIFY(search->rb2->isChecked());
    QTest::keyClicks(search->edt1, QStringLiteral("7"));
    QVERIFY(search->FirstChosen());
    QCOMPARE(search->ChosenText(), QStringLiteral("7"));
    // Enter in a box goes on to "确 定"; Enter there confirms.
    QTest::keyClick(search->edt1, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), search->btnOk);
    QTest::keyClick(search->btnOk, Qt::Key_Return);
    QVERIFY(search->Confirmed);
    QVERIFY(!search->isVisible());
}

QTEST_MAIN(TestSearchCondition)
#include "tst_searchcondition.moc"
