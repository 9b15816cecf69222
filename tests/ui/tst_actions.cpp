// Handlers connected with OnSignal / OnClick: an error thrown inside one reaches the operator with
// its own text and ends that action only; the window stays and its next action works.

#include "UiFixture.h"
#include "store/OperationError.h"
#include "store/OwnerStatements.h"
#include "ui/Actions.h"
#include "ui/Dialog.h"

#include <QCheckBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

TuserInfoRec MissingOwner()
{
    TuserInfoRec rec;
    rec.UserName = QStringLiteral("张三");
    rec.CardNo = QStringLiteral("0001");
    rec.DongHao = 3;
    rec.DanYuan = 2;
    rec.FangHao = QStringLiteral("301");
    return rec;
}

// The text the lookup throws, as the operator should read it.
QString LookupError()
{
    try {
        FindUserIdx(*dm, MissingOwner());
    } catch (const OperationError& e) {
        return e.message();
    }
    return QString();
}

} // namespace

// A window wired the way every window is.
class ProbeWindow : public Dialog {
    Q_OBJECT
public:
    explicit ProbeWindow(bool failOnShow = false) : m_failOnShow(failOnShow)
    {
        btnFind = new QPushButton(QStringLiteral("查找"), this);
        btnCount = new QPushButton(QStringLiteral("计数"), this);
        chkFlag = new QCheckBox(QStringLiteral("标志"), this);
        tmr1 = new QTimer(this);
        tmr1->setInterval(10);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(btnFind);
        layout->addWidget(btnCount);
        layout->addWidget(chkFlag);
        OnClick(btnFind, this, &ProbeWindow::btnFindClick);
        OnClick(btnCount, this, [this] { ++counted; });
        OnSignal(chkFlag, &QCheckBox::toggled, this, &ProbeWindow::chkFlagToggled);
        OnSignal(tmr1, &QTimer::timeout, this, &ProbeWindow::tmr1Timer);
    }

    QPushButton* btnFind;
    QPushButton* btnCount;
    QCheckBox* chkFlag;
    QTimer* tmr1;
    int counted = 0;
    int ticks = 0;
    QList<bool> toggles;
    bool shown = false;

protected:
    void FormShow() override
    {
        if (m_failOnShow)
            FindUserIdx(*dm, MissingOwner());
        shown = true;
    }

private:
    void btnFindClick() { FindUserIdx(*dm, MissingOwner()); }
    void chkFlagToggled(bool checked) { toggles << checked; }
    void tmr1Timer()
    {
        if (++ticks == 1)
            throw OperationError(QStringLiteral("第一次失败"));
    }

    bool m_failOnShow;
};

class TestActions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lookupErrorEndsOnlyTheAction();
    void handlersTakeTheSignalsArguments();
    void failedTickKeepsTheTimerGoing();
    void failedShowStillOpens();
};

void TestActions::lookupErrorEndsOnlyTheAction()
{
    UiFixture f;
    f.openData();
    const QString error = LookupError();
    QVERIFY(error.contains(QStringLiteral("张三")));
    ProbeWindow w;
    w.show();

    w.btnFind->click();
    QCOMPARE(f.dialogs.texts(), QStringList{error});
    QCOMPARE(f.dialogs.shown.first().icon, MsgIcon::Error);
    QVERIFY(w.isVisible());

    w.btnCount->click();
    QCOMPARE(w.counted, 1);
    w.btnFind->click(); // the same action again: told again, nothing else
    QCOMPARE(f.dialogs.texts(), (QStringList{error, error}));
    QVERIFY(w.isVisible());
}

void TestActions::handlersTakeTheSignalsArguments()
{
    UiFixture f;
    ProbeWindow w;
    w.show();
    w.chkFlag->setChecked(true);
    QTest::keyClick(w.chkFlag, Qt::Key_Space);
    QCOMPARE(w.toggles, (QList<bool>{true, false}));
    QTest::mouseClick(w.btnCount, Qt::LeftButton); // clicked(bool) into a handler that takes none
    QCOMPARE(w.counted, 1);
    QVERIFY(f.dialogs.texts().isEmpty());
}

void TestActions::failedTickKeepsTheTimerGoing()
{
    UiFixture f;
    ProbeWindow w;
    w.show();
    w.tmr1->start();
    QTRY_VERIFY(w.ticks >= 3);
    QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("第一次失败")});
}

void TestActions::failedShowStillOpens()
{
    UiFixture f;
    f.openData();
    const QString error = LookupError();
    ProbeWindow w(true);
    w.show();
    QCOMPARE(f.dialogs.texts(), QStringList{error});
    QVERIFY(w.isVisible());
    QVERIFY(!w.shown);
    w.btnCount->click();
    QCOMPARE(w.counted, 1);
}

QTEST_MAIN(TestActions)
#include "tst_actions.moc"
