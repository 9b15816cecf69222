#include "UiFixture.h"
#include "office/Passwords.h"
#include "store/DbMaintenance.h"
#include "support/TestSql.h"
#include "ui/FixDataBase.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>

namespace {

int rowCount(const char* table)
{
    return countRows(QLatin1String(table));
}

bool fillAllTables()
{
    return dm->ExecuteSQL(
               QStringLiteral("insert into BuildInfo (DongHao, DanYuan, DanYuanName) values (1, 1, 'a')")) &&
           dm->ExecuteSQL(
               QStringLiteral("insert into TerminalInfo (TerminalID, TerminalName) values (3, 'gate')")) &&
           dm->ExecuteSQL(QStringLiteral("insert into UserInfo (UserName, CardNo) values ('x', '1')"));
}

} // namespace

class TestFixDataBase : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pagesByLevel();
    void confirmationCode_data();
    void confirmationCode();
    void failedDeleteKeepsTheCode();
    void showingAgainKeepsTheCode();
    void backupThenRestore();
    void restoreRefusesAFileThatIsNotADatabase();
    void restoreRefusedWhileAnotherProgramChanges();
    void passwordsChangedByTheAdministrator();
};

void TestFixDataBase::pagesByLevel()
{
    UiFixture f;
    f.openData();
    for (int level : {0, 1, 2}) {
        OperatorLevel = uint8_t(level);
        TfrmFixDataBase w;
        w.show();
        QCOMPARE(w.btnRecover->isEnabled(), level > 0);
        QCOMPARE(w.btnInit->isEnabled(), level > 0);
        QVERIFY(w.btn4->isEnabled());
        QCOMPARE(w.pages->isTabVisible(2), level == 2);
        QCOMPARE(w.pages->isTabVisible(w.pages->indexOf(w.pagePasswords)), level == 1);
        QCOMPARE(w.pages->currentIndex(), 0);
        // The folder and the database this run uses, whoever opens the window.
        QCOMPARE(w.lblFolder->text(), QDir::toNativeSeparators(QDir::cleanPath(AppPath)));
        QCOMPARE(w.lblDatabase->text(),
                 QStringLiteral("本机文件 ") +
                     QDir::toNativeSeparators(AppPath + QStringLiteral("QDR_DB.GRes")));
    }
}

void TestFixDataBase::confirmationCode_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("emptied");
    QTest::newRow("right") << "0007" << true;
    QTest::newRow("trailing space") << "0007 " << false;
    QTest::newRow("wrong") << "0008" << false;
    QTest::newRow("empty") << "" << false;
}

void TestFixDataBase::confirmationCode()
{
    QFETCH(QString, typed);
    QFETCH(bool, emptied);
    UiFixture f;
    f.openData();
    QVERIFY(fillAllTables());
    OperatorLevel = 1;
    TfrmFixDataBase w;
    w.show();
    QCOMPARE(w.pnlConfirm->text(), QStringLiteral("0007")); // minutes and seconds of 14:00:07
    f.clock.advanceSeconds(65);
    w.edtConfirm->setText(typed);
    w.btnInit->click();
    if (emptied) {
        QCOMPARE(f.dialogs.texts(), QStringList{"初始化完成"});
        QCOMPARE(ownerCount(), 0);
        QCOMPARE(w.pnlConfirm->text(), QStringLiteral("0112"));
        QVERIFY(w.edtConfirm->text().isEmpty());
    } else {
        QCOMPARE(f.dialogs.texts(), QStringList{"请输入正确的确认码。"});
        QCOMPARE(f.dialogs.shown.first().icon, MsgIcon::Information);
        QCOMPARE(ownerCount(), 1);
        QCOMPARE(w.pnlConfirm->text(), QStringLiteral("0007"));
    }
}

void TestFixDataBase::failedDeleteKeepsTheCode()
{
    UiFixture f;
    f.openData();
    QVERIFY(fillAllTables());
    QVERIFY(dm->ExecuteSQL(QStringLiteral(
        "create trigger keep before delete on TerminalInfo begin select raise(abort, 'kept'); end")));
    OperatorLevel = 1;
    TfrmFixDataBase w;
    w.show();
    w.edtConfirm->setText(QStringLiteral("0007"));
    f.clock.advanceSeconds(65);
    w.btnInit->click();
    // The failing delete has told the operator; the other two still ran.
    QCOMPARE(f.dialogs.texts(), QStringList{"执行错误：delete from TerminalInfo"});
    QCOMPARE(rowCount("UserInfo"), 0);
    QCOMPARE(rowCount("TerminalInfo"), 1);
    QCOMPARE(rowCount("BuildInfo"), 0);
    // Nothing more: the code and the entry stay for another try.
    QCOMPARE(w.pnlConfirm->text(), QStringLiteral("0007"));
    QCOMPARE(w.edtConfirm->text(), QStringLiteral("0007"));

    QVERIFY(dm->ExecuteSQL(QStringLiteral("drop trigger keep")));
    f.dialogs.clear();
    w.btnInit->click();
    QCOMPARE(f.dialogs.texts(), QStringList{"初始化完成"});
    QCOMPARE(rowCount("TerminalInfo"), 0);
    QCOMPARE(w.pnlConfirm->text(), QStringLiteral("0112"));
    QVERIFY(w.edtConfirm->text().isEmpty());
}

void TestFixDataBase::showingAgainKeepsTheCode()
{
    UiFixture f;
    OperatorLevel = 1;
    TfrmFixDataBase w;
    f.clock.advanceSeconds(2);
    w.show();
    QCOMPARE(w.pnlConfirm->text(), QStringLiteral("0009"));
    QTest::keyClicks(w.edtConfirm, QStringLiteral("00"));
    // Hidden and shown again (as after minimising), a minute later: nothing changes.
    f.clock.advanceSeconds(60);
    w.hide();
    w.show();
    QCOMPARE(w.pnlConfirm->text(), QStringLiteral("0009"));
    QCOMPARE(w.edtConfirm->text(), QStringLiteral("00"));
    // Closed and opened again: a new opening gets a new code and an empty entry.
    w.reject();
    w.show();
    QCOMPARE(w.pnlConfirm->text(), QStringLiteral("0109"));
    QVERIFY(w.edtConfirm->text().isEmpty());
}

void TestFixDataBase::backupThenRestore()
{
    UiFixture f;
    f.openData();
    OperatorLevel = 1;
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into UserInfo (UserName, CardNo) values ('before', '1')")));
    TfrmFixDataBase w;
    w.show();
    w.btn4->click();
    QCOMPARE(f.dialogs.texts(), QStringList{"备份完成"});
    const QString backup = f.dir.filePath(QStringLiteral("dbBak/db_240305_140007.bak"));
    QVERIFY(QFile::exists(backup));

    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into UserInfo (UserName, CardNo) values ('after', '2')")));
    QCOMPARE(ownerCount(), 2);

    // Anything but Yes ends the restore before the file dialog.
    f.dialogs.clear();
    w.btnRecover->click();
    QCOMPARE(f.dialogs.texts(), QStringList{"注意：恢复数据库将会覆盖原有的数据，确定操作吗？(Y/N)"});
    QVERIFY(f.dialogs.fileDialogCaptions.isEmpty());

    f.dialogs.clear();
    f.clock.advanceSeconds(1);
    f.dialogs.answers << MsgAnswer::Yes;
    f.dialogs.fileNames << backup;
    w.btnRecover->click();
    QCOMPARE(f.dialogs.fileDialogFilters, QStringList{"备份文件 (*.bak);;所有文件 (*)"});
    QCOMPARE(f.dialogs.texts().last(), QStringLiteral("恢复完成"));
    QCOMPARE(ownerCount(), 1);
}

void TestFixDataBase::restoreRefusesAFileThatIsNotADatabase()
{
    UiFixture f;
    f.openData();
    OperatorLevel = 1;
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into UserInfo (UserName, CardNo) values ('kept', '1')")));
    QFile text(f.dir.filePath(QStringLiteral("notes.txt")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a database");
    text.close();
    TfrmFixDataBase w;
    w.show();
    f.dialogs.answers << MsgAnswer::Yes;
    f.dialogs.fileNames << text.fileName();
    w.btnRecover->click();
    QVERIFY(!f.dialogs.texts().contains(QStringLiteral("恢复完成")));
    QCOMPARE(f.dialogs.shown.last().icon, MsgIcon::Error);
    QCOMPARE(ownerCount(), 1);
}

void TestFixDataBase::restoreRefusedWhileAnotherProgramChanges()
{
    UiFixture f;
    f.openData();
    OperatorLevel = 1;
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into UserInfo (UserName, CardNo) values ('kept', '1')")));
    TfrmFixDataBase w;
    w.show();
    w.btn4->click();
    const QString backup = f.dir.filePath(QStringLiteral("dbBak/db_240305_140007.bak"));
    {
        // Another program (an import from the command line) in the middle of a commit.
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(Tdm::DatabasePath());
        QVERIFY(other.open());
        QSqlQuery q(other);
        QVERIFY(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QVERIFY(q.exec(QStringLiteral("insert into UserInfo (UserName, CardNo) values ('imported', '2')")));
        f.dialogs.clear();
        f.dialogs.answers << MsgAnswer::Yes;
        f.dialogs.fileNames << backup;
        w.btnRecover->click();
        QCOMPARE(f.dialogs.shown.last().icon, MsgIcon::Error);
        QVERIFY2(f.dialogs.texts().last().contains(QStringLiteral("数据库正被其他程序使用")),
                 qPrintable(f.dialogs.texts().last()));
        QVERIFY(q.exec(QStringLiteral("COMMIT")));
        q.finish();
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    QCOMPARE(ownerCount(), 2);
}

void TestFixDataBase::passwordsChangedByTheAdministrator()
{
    UiFixture f;
    f.openData();
    OperatorLevel = 1;
    SetLogOperatorLevel(1);
    TfrmFixDataBase w;
    w.show();
    QCOMPARE(w.cbbPasswordLevel->currentText(), QStringLiteral("管理员"));
    QCOMPARE(w.lblPasswordState->text(), QStringLiteral("程序原来的密码"));
    QVERIFY(!w.btnRemovePassword->isEnabled());

    auto type = [&w](const QString& first, const QString& second) {
        w.edtNewPassword->setText(first);
        w.edtRepeatPassword->setText(second);
        w.btnChangePassword->click();
    };
    type(QString(), QString());
    type(QStringLiteral("ab12"), QStringLiteral("ab13"));
    QCOMPARE(f.dialogs.texts(), (QStringList{"请输入新密码。", "两次输入的密码不一样，请重新输入。"}));
    QCOMPARE(f.dialogs.shown.last().buttons, MsgButtons::Abort);
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("470925"))); // nothing changed

    f.dialogs.shown.clear();
    type(QStringLiteral("ab12"), QStringLiteral("ab12"));
    QCOMPARE(f.dialogs.texts(), QStringList{"管理员的密码已修改，下次登录时用新密码。"});
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("ab12")));
    QVERIFY(!CheckPassword(AdministratorLevel, QStringLiteral("470925")));
    QCOMPARE(w.lblPasswordState->text(), QStringLiteral("本单位设置的密码（2024-03-05 14:00:07 修改）"));
    QVERIFY(w.edtNewPassword->text().isEmpty());

    // 物业管家: a password, then none again.
    w.cbbPasswordLevel->setCurrentIndex(2);
    QCOMPARE(w.lblPasswordState->text(), QStringLiteral("没有密码"));
    QVERIFY(w.btnRemovePassword->isEnabled());
    type(QStringLiteral("wy"), QStringLiteral("wy"));
    QVERIFY(!CheckPassword(StewardLevel, QString()));
    w.btnRemovePassword->click();
    QVERIFY(CheckPassword(StewardLevel, QString()));
    QCOMPARE(f.dialogs.texts().last(), QStringLiteral("物业管家的密码已取消，登录时不用密码。"));

    // Each change is recorded with its level, and no password is in the log.
    QVERIFY(FlushOperationLog());
    QCOMPARE(
        column(QStringLiteral("select OperatorLevel || '|' || Action || '|' || Outcome || '|' || Details "
                              "from OperationLog order by idx")),
        (QVariantList{QStringLiteral("1|修改密码|成功|操作员=管理员"),
                      QStringLiteral("1|修改密码|成功|操作员=物业管家"),
                      QStringLiteral("1|修改密码|成功|操作员=物业管家；取消密码")}));
}

QTEST_MAIN(TestFixDataBase)
#include "tst_fixdatabase.moc"
