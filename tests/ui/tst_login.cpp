#include "office/Passwords.h"
#include "support/ProgramFolderFixture.h"
#include "support/TestDialogs.h"
#include "support/TestSql.h"
#include "ui/LoginWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestLogin : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void levels_data();
    void levels();
    void officePasswords_data();
    void officePasswords();
    void enterMovesToLoginButton();
    void passwordShowsStars();
    void titles_data();
    void titles();
    void cancel();
};

void TestLogin::levels_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("message");
    QTest::newRow("steward, any password") << 0 << "whatever" << true << 0 << "";
    QTest::newRow("administrator") << 1 << "470925" << true << 1 << "";
    QTest::newRow("maintainer") << 2 << "639104" << true << 2 << "";
    QTest::newRow("administrator wrong") << 1 << "639104" << false << 0 << "管理员密码错误，请重新输入";
    QTest::newRow("administrator trailing space")
        << 1 << "470925 " << false << 0 << "管理员密码错误，请重新输入";
    QTest::newRow("maintainer wrong") << 2 << "" << false << 0 << "维护员密码错误，请重新输入";
}

void TestLogin::levels()
{
    QFETCH(int, role);
    QFETCH(QString, password);
    QFETCH(bool, loggedIn);
    QFETCH(int, level);
    QFETCH(QString, message);
    TestDialogs dialogs;
    TFormLogin login;
    login.show();
    login.cbb1->setCurrentIndex(role);
    QTest::keyClicks(login.EditPassword, password);
    QTest::mouseClick(login.ButtonLogon, Qt::LeftButton);
    QCOMPARE(login.LoggedIn, loggedIn);
    QCOMPARE(int(login.Level), level);
    QCOMPARE(login.isVisible(), !loggedIn); // a wrong password leaves the window open
    QCOMPARE(dialogs.texts(), message.isEmpty() ? QStringList() : QStringList{message});
}

void TestLogin::officePasswords_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QString>("message");
    // The office set "wy88" for every level.
    QTest::newRow("steward") << 0 << "wy88" << true << "";
    QTest::newRow("steward wrong") << 0 << "" << false << "物业管家密码错误，请重新输入";
    QTest::newRow("administrator") << 1 << "wy88" << true << "";
    QTest::newRow("administrator, the written one") << 1 << "470925" << false << "管理员密码错误，请重新输入";
    QTest::newRow("maintainer, the written one") << 2 << "639104" << false << "维护员密码错误，请重新输入";
}

// With passwords of the office's own in the database, the login checks those; a refusal is
// recorded with the level tried, never the text typed.
void TestLogin::officePasswords()
{
    QFETCH(int, role);
    QFETCH(QString, typed);
    QFETCH(bool, loggedIn);
    QFETCH(QString, message);
    ProgramFolderFixture f(QDateTime(QDate(2024, 3, 5), QTime(9, 0)));
    f.setUp();
    f.openData();
    for (int level : {StewardLevel, AdministratorLevel, MaintainerLevel})
        QVERIFY(SetPassword(level, QStringLiteral("wy88")));

    TFormLogin login;
    login.show();
    login.cbb1->setCurrentIndex(role);
    QTest::keyClicks(login.EditPassword, typed);
    QTest::mouseClick(login.ButtonLogon, Qt::LeftButton);
    QCOMPARE(login.LoggedIn, loggedIn);
    QCOMPARE(int(login.Level), loggedIn ? role : 0);
    QCOMPARE(f.dialogs.texts(), message.isEmpty() ? QStringList() : QStringList{message});

    QVERIFY(FlushOperationLog());
    const QVariantList entries =
        column(QStringLiteral("select OperatorLevel || '|' || Action || '|' || Outcome || '|' || Details "
                              "from OperationLog order by idx"));
    if (loggedIn) {
        QVERIFY(entries.isEmpty()); // the opener records the log-in itself
        return;
    }
    QCOMPARE(entries, QVariantList{QStringLiteral("%1|登录|%2|操作员=%3")
                                       .arg(LogLevelNotLoggedIn)
                                       .arg(message, login.cbb1->currentText())});
}

void TestLogin::enterMovesToLoginButton()
{
    TestDialogs dialogs;
    TFormLogin login;
    login.show();
    QApplication::setActiveWindow(&login);
    login.cbb1->setCurrentIndex(1);
    login.EditPassword->setFocus();
    QTest::keyClicks(login.EditPassword, QStringLiteral("470925"));
    QTest::keyClick(login.EditPassword, Qt::Key_Return);
    QVERIFY(login.ButtonLogon->hasFocus());
    QVERIFY(!login.LoggedIn); // Enter alone does not log in
    QTest::keyClick(login.ButtonLogon, Qt::Key_Return);
    QVERIFY(login.LoggedIn);
    QCOMPARE(int(login.Level), 1);
    QCOMPARE(login.EditPassword->maxLength(), 8);
    QCOMPARE(login.EditPassword->echoMode(), QLineEdit::Password);
}

void TestLogin::passwordShowsStars()
{
    TFormLogin login;
    login.show();
    QTest::keyClicks(login.EditPassword, QStringLiteral("639104"));
    QCOMPARE(login.EditPassword->displayText(), QStringLiteral("******"));
    QCOMPARE(login.EditPassword->text(), QStringLiteral("639104"));
}

void TestLogin::titles_data()
{
    QTest::addColumn<int>("plainTitle");
    QTest::addColumn<QString>("title");
    QTest::newRow("brand") << 0 << "岚禾IC卡智能门禁管理系统";
    QTest::newRow("plain") << 1 << "IC卡智能门禁管理系统";
    QTest::newRow("design") << 7 << "岚禾门禁管理系统";
}

void TestLogin::titles()
{
    QFETCH(int, plainTitle);
    QFETCH(QString, title);
    TFormLogin login;
    login.PlainTitle = uint8_t(plainTitle);
    login.show();
    QCOMPARE(login.lblTitle->text(), title);
    QCOMPARE(login.lblVersion->text(), QStringLiteral(ICCARD_VERSION));
    QCOMPARE(login.windowTitle(), QStringLiteral("系统登录"));
    QCOMPARE(login.cbb1->currentText(), QStringLiteral("物业管家"));
}

void TestLogin::cancel()
{
    TFormLogin login;
    login.show();
    QTest::mouseClick(login.ButtonCancel, Qt::LeftButton);
    QVERIFY(!login.LoggedIn);
    QVERIFY(!login.isVisible());
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
