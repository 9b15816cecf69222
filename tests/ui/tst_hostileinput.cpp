// Hostile texts typed into every box of every window that stores or searches: quotes, semicolons,
// SQL, wildcards, 200-character texts and characters GBK has no code for (emoji). What a window
// stores comes back exactly as the box held it, or the window refuses with a message; no other row
// ever changes, a search lists only what matches the text literally, and the program goes on.

#include "UiFixture.h"
#include "office/Passwords.h"
#include "store/OwnerExchange.h"
#include "store/OwnerStatements.h"
#include "store/TvexDeviceInfo.h"
#include "store/TvexTerminalInfo.h"
#include "support/OwnerRecords.h"
#include "support/TestSql.h"
#include "ui/AlterUserInfo.h"
#include "ui/BuildInfo.h"
#include "ui/FixDataBase.h"
#include "ui/InputDongHao.h"
#include "ui/ListScreen.h"
#include "ui/LoginWindow.h"
#include "ui/SearchCondition.h"
#include "ui/SetTerminalParam.h"
#include "ui/TerminalRegister.h"
#include "ui/UserInfo.h"
#include "ui/UserInfoSearch.h"
#include "ui/WriteUserCard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlRecord>

namespace {

QStringList hostileTexts()
{
    return {QStringLiteral("O'Brien \"Bob\""),
            QStringLiteral("a;b; c;"),
            QStringLiteral("'; drop table UserInfo; --"),
            QStringLiteral("\" or 1=1 --"),
            QStringLiteral("%_\\"),
            QString(200, QChar(0x697C)), // 楼
            QStringLiteral("😀🏠"),
            QStringLiteral("张😀三")};
}

// Types text into a box as an input method does (the way Chinese and emoji arrive), after
// clearing it. The box keeps what it accepts (its length limit, its validator).
void typeInto(QWidget* box, const QString& text)
{
    box->setFocus();
    if (auto* line = qobject_cast<QLineEdit*>(box))
        line->clear();
    else if (auto* memo = qobject_cast<QPlainTextEdit*>(box))
        memo->clear();
    QInputMethodEvent typing;
    typing.setCommitString(text);
    QApplication::sendEvent(box, &typing);
}

QString textOf(QWidget* box)
{
    if (auto* line = qobject_cast<QLineEdit*>(box))
        return line->text();
    return qobject_cast<QPlainTextEdit*>(box)->toPlainText();
}

// Every row of a table, every column as text, by idx.
QMap<int, QStringList> rowsOf(const QString& table)
{
    QMap<int, QStringList> out;
    QSqlQuery q(dm->database());
    if (!q.exec(QStringLiteral("select * from ") + table))
        qWarning() << q.lastError().text();
    while (q.next()) {
        QStringList values;
        for (int c = 0; c < q.record().count(); ++c)
            values << (q.value(c).isNull() ? QStringLiteral("<null>") : q.value(c).toString());
        out.insert(q.value(QStringLiteral("idx")).toInt(), values);
    }
    return out;
}

int idxOfCardNo(const QString& cardNo)
{
    QSqlQuery q(dm->database());
    q.prepare(QStringLiteral("select idx from UserInfo where CardNo = ?"));
    q.addBindValue(cardNo);
    return q.exec() && q.next() ? q.value(0).toInt() : 0;
}

// The rows that changed (or came or went) between two pictures of a table.
QList<int> changed(const QMap<int, QStringList>& before, const QMap<int, QStringList>& after)
{
    QList<int> out;
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        if (before.value(it.key()) != it.value())
            out << it.key();
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (!after.contains(it.key()))
            out << it.key();
    return out;
}

QStringList column(const ListGrid* grid, const QString& field)
{
    QStringList out;
    for (int row = 0; row < grid->RecordCount(); ++row)
        out << grid->Model().FieldAt(row, field).toString();
    return out;
}

// The program with the card issuer attached, a data module, three units, three terminals and
// three owners whose texts the hostile ones must never touch.
struct Program {
    AttachedProgram a;
    bool start()
    {
        if (!a.start())
            return false;
        OperatorLevel = 2;
        a.f.openData();
        for (int id : {1, 2, 3})
            AddTerminal({0, QString::number(id), QStringLiteral("门%1").arg(id), QStringLiteral("备注")});
        for (int u : {1, 2, 3})
            TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QString::number(u), QStringLiteral("东区"));
        int n = 0;
        for (const char* name : {"张三", "李四", "王五"})
            if (!InsertUserInfo(*dm, OwnerRecord(QString::fromUtf8(name), QStringLiteral("A%1").arg(++n))))
                return false;
        return true;
    }
    TestDialogs& dialogs() { return a.f.dialogs; }
};

} // namespace

class TestHostileInput : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(m_p.emplace().start()); }
    void cleanup()
    {
        FreeSearchCondition();
        FreeInputDongHao();
        m_p.reset();
    }

    void buildings();
    void terminals();
    void ownerEditor();
    void ownerSearches();
    void exportChoice();
    void deviceCard();
    void maintenanceCode();
    void passwords();

private:
    // Checks one press of a storing button: either a message and no row changed, or only the row
    // `idx()` finds changed (or took the place of the one it found before), and its field holds what
    // the box held.
    template <typename Press, typename Find>
    void storedOrRefused(const QString& table, QWidget* box, const QString& field, Press press, Find idx)
    {
        // A memo is stored with every line ended by CR LF.
        const QString typed =
            textOf(box) + (qobject_cast<QPlainTextEdit*>(box) ? QStringLiteral("\r\n") : QString());
        const auto before = rowsOf(table);
        const int previous = idx(); // a row of the same key, which the press may replace
        m_p->dialogs().clear();
        press();
        const auto after = rowsOf(table);
        const QList<int> rows = changed(before, after);
        const QString context = table + QLatin1Char('.') + field + QStringLiteral(" typed ") + typed.left(40);
        if (!m_p->dialogs().shown.isEmpty() && rows.isEmpty())
            return; // refused with a message (a stored row may come with a notice such as "保存完成")
        const int row = idx();
        QVERIFY2(row > 0, qPrintable(context + QStringLiteral(": nothing stored and no message")));
        for (int r : rows)
            QVERIFY2(r == row || r == previous,
                     qPrintable(context + QStringLiteral(": another row changed")));
        QCOMPARE(valueAt(table, row, field).toString(), typed);
    }

    std::optional<Program> m_p;
};

void TestHostileInput::buildings()
{
    TFormBuildInfo w;
    w.show();
    for (const QString& text : hostileTexts()) {
        // The nickname is text: stored as typed.
        w.edtDongHao->setText(QStringLiteral("7"));
        w.edtDanYuan->setText(QStringLiteral("1"));
        typeInto(w.edtDanYuanName, text);
        storedOrRefused(
            QStringLiteral("BuildInfo"), w.edtDanYuanName, QStringLiteral("DanYuanName"),
            [&] { w.btnAdd->click(); },
            [] { return TvexTerminalInfo::FindBuildUnit(QStringLiteral("7"), QStringLiteral("1")); });
        // Searched for, it is found and only it.
        w.edtDongHao->clear();
        w.edtDanYuan->clear();
        w.btnSearch->click();
        QCOMPARE(column(w.grid, QStringLiteral("DanYuanName")), QStringList{w.edtDanYuanName->text()});
        // The building and unit are numbers: refused.
        for (QLineEdit* number : {w.edtDongHao, w.edtDanYuan}) {
            w.edtDongHao->setText(QStringLiteral("8"));
            w.edtDanYuan->setText(QStringLiteral("1"));
            typeInto(number, text);
            storedOrRefused(
                QStringLiteral("BuildInfo"), number, QStringLiteral("DongHao"), [&] { w.btnAdd->click(); },
                [] { return 0; });
            m_p->dialogs().clear();
            w.btnSearch->click();
            QCOMPARE(m_p->dialogs().shown.size(), 1);
        }
    }
}

void TestHostileInput::terminals()
{
    TFormTerminalRegster w;
    w.show();
    for (const QString& text : hostileTexts()) {
        for (QLineEdit* box : {w.edtTerminalName, w.edtRemark}) {
            w.edtTerminalID->setText(QStringLiteral("200"));
            w.edtTerminalName->setText(QStringLiteral("门200"));
            w.edtRemark->clear();
            typeInto(box, text);
            storedOrRefused(
                QStringLiteral("TerminalInfo"), box,
                box == w.edtRemark ? QStringLiteral("Remark") : QStringLiteral("TerminalName"),
                [&] { w.btnAdd->click(); }, [] { return FindTerminalIdx(QStringLiteral("200")); });
            // Changed again through "修改": the same.
            typeInto(box, text + QStringLiteral("改"));
            storedOrRefused(
                QStringLiteral("TerminalInfo"), box,
                box == w.edtRemark ? QStringLiteral("Remark") : QStringLiteral("TerminalName"),
                [&] { w.btnModify->click(); }, [] { return FindTerminalIdx(QStringLiteral("200")); });
        }
        // The number is a number: refused.
        typeInto(w.edtTerminalID, text);
        storedOrRefused(
            QStringLiteral("TerminalInfo"), w.edtTerminalID, QStringLiteral("TerminalID"),
            [&] { w.btnAdd->click(); }, [] { return 0; });
        // The search dialog, by name: only that terminal.
        const QString name = w.edtTerminalName->text();
        WhenModal<TFormSearchCondition>([name](TFormSearchCondition* d) {
            d->rb2->setChecked(true);
            typeInto(d->edt2, name);
            d->btnOk->click();
        });
        m_p->dialogs().clear();
        w.btnSearch->click();
        QVERIFY(QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }, 2000));
        const QStringList found = column(w.grid, QStringLiteral("TerminalName"));
        QVERIFY2(found.isEmpty() || found == QStringList{SearchCondition()->ChosenText()},
                 qPrintable(found.join(QLatin1Char('|'))));
    }
}

void TestHostileInput::ownerEditor()
{
    int n = 0;
    for (const QString& text : hostileTexts()) {
        TFormAlter w;
        w.SetMode(TFormAlter::Mode::Add);
        w.show();
        const QList<std::pair<QWidget*, QString>> boxes{{w.edtUserName, QStringLiteral("UserName")},
                                                        {w.edtPhone, QStringLiteral("phone")},
                                                        {w.mmoRemark, QStringLiteral("Remark")},
                                                        {w.edtFangHao, QStringLiteral("FangHao")},
                                                        {w.edtCardNo, QStringLiteral("CardNo")}};
        for (const auto& [box, field] : boxes) {
            const QString cardNo = QStringLiteral("H%1").arg(++n);
            w.edtCardNo->setText(cardNo);
            w.edtDongHao->setText(QStringLiteral("1"));
            w.edtDanYuan->setText(QStringLiteral("2"));
            w.edtFangHao->setText(QStringLiteral("0101"));
            w.edtUserName->setText(QStringLiteral("某人"));
            typeInto(box, text);
            const QString stored = w.edtCardNo->text();
            storedOrRefused(
                QStringLiteral("UserInfo"), box, field, [&] { w.btnSave->click(); },
                [&] { return idxOfCardNo(stored); });
        }
        // The building and unit are numbers: refused.
        for (QLineEdit* number : {w.edtDongHao, w.edtDanYuan}) {
            w.edtCardNo->setText(QStringLiteral("N%1").arg(++n));
            w.edtDongHao->setText(QStringLiteral("1"));
            w.edtDanYuan->setText(QStringLiteral("2"));
            typeInto(number, text);
            storedOrRefused(
                QStringLiteral("UserInfo"), number, QStringLiteral("DongHao"), [&] { w.btnSave->click(); },
                [] { return 0; });
        }
    }
}

void TestHostileInput::ownerSearches()
{
    // Owners named with the hostile texts themselves, then searched for through the owner list's
    // search and the owner card window's: a search finds only names holding the text literally.
    int n = 0;
    for (const QString& text : hostileTexts())
        QVERIFY(InsertUserInfo(*dm, OwnerRecord(text, QStringLiteral("S%1").arg(++n))));
    const auto before = rowsOf(QStringLiteral("UserInfo"));
    TFormUserInfo list;
    list.show();
    TFormWriteUserCard cards;
    cards.show();
    for (const QString& text : hostileTexts()) {
        WhenModal<TFormSearchUserInfo>([text](TFormSearchUserInfo* d) {
            typeInto(d->edtUserName, text);
            d->chkUserName->setChecked(true);
            d->btnSearch->click();
        });
        list.btnSearch->click();
        QVERIFY(QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }, 2000));
        const QStringList listed = column(list.grid, QStringLiteral("UserName"));
        QVERIFY2(!listed.isEmpty(), qPrintable(text));
        for (const QString& name : listed)
            QVERIFY2(name.contains(text), qPrintable(text + QStringLiteral(" listed ") + name));

        WhenModal<TFormSearchCondition>([text](TFormSearchCondition* d) {
            d->rb2->setChecked(true);
            typeInto(d->edt2, text);
            d->btnOk->click();
        });
        cards.btnSearch->click();
        QVERIFY(QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }, 2000));
        const QStringList shown = column(cards.grdOwners, QStringLiteral("UserName"));
        QVERIFY2(!shown.isEmpty(), qPrintable(text));
        for (const QString& name : shown)
            QVERIFY2(name.contains(text), qPrintable(text + QStringLiteral(" shown ") + name));
    }
    QVERIFY(changed(before, rowsOf(QStringLiteral("UserInfo"))).isEmpty());
}

void TestHostileInput::exportChoice()
{
    // The export dialog's boxes are a building and a unit: hostile texts are refused before any
    // file is asked for.
    TFormWriteUserCard w;
    w.show();
    for (const QString& text : hostileTexts()) {
        WhenModal<TFormInputDongHao>([text](TFormInputDongHao* d) {
            typeInto(d->edtDongHao, text);
            typeInto(d->edtDanYuan, QStringLiteral("1"));
            d->btnOk->click();
        });
        m_p->dialogs().clear();
        m_p->dialogs().fileDialogCaptions.clear();
        w.btnExport->click();
        QVERIFY(QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }, 2000));
        QCOMPARE(m_p->dialogs().texts(), QStringList{QString::fromUtf8(ExportChoiceRefusedText)});
        QVERIFY(m_p->dialogs().fileDialogCaptions.isEmpty());
    }

    // An owner whose name GBK cannot hold: the export is refused and names the owner; no file
    // with question marks is left.
    TuserInfoRec smiling =
        OwnerRecord(QStringLiteral("张😀三"), QStringLiteral("G1"), 1, 2, QStringLiteral("0302"));
    QVERIFY(InsertUserInfo(*dm, smiling));
    const QString file = m_p->a.f.dir.filePath(QStringLiteral("owners.csv"));
    WhenModal<TFormInputDongHao>([](TFormInputDongHao* d) {
        d->edtDongHao->clear();
        d->edtDanYuan->clear();
        d->btnOk->click();
    });
    m_p->dialogs().clear();
    m_p->dialogs().answers = {MsgAnswer::Yes};
    m_p->dialogs().fileNames = {file};
    w.btnExport->click();
    QVERIFY(QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }, 2000));
    const QStringList texts = m_p->dialogs().texts();
    QVERIFY2(texts.size() >= 2, qPrintable(texts.join(QLatin1Char('|'))));
    QVERIFY2(texts.last().startsWith(QString::fromUtf8(ExportRefusedOwnersText)) &&
                 texts.last().contains(QStringLiteral("1栋2单元302，卡号别名 G1）：业主姓名")),
             qPrintable(texts.last()));
    QVERIFY(!QFileInfo::exists(file));
}

void TestHostileInput::deviceCard()
{
    // The community identifier goes on cards and into the settings in GBK: only eight digits or
    // letters are taken, everything else is refused and the settings stay as they were.
    const QByteArray region(SystemInfo.RegionID, 8);
    const uint8_t sector = SystemInfo.Sector;
    for (const QString& text : hostileTexts()) {
        TFormSetTerminalParam w;
        w.show();
        for (QLineEdit* box : {w.edtRegion, w.edtSector}) {
            w.edtRegion->setText(QStringLiteral("12345678"));
            w.edtSector->setText(QStringLiteral("7"));
            typeInto(box, text);
            m_p->dialogs().clear();
            w.btnSave->click();
            QVERIFY2(m_p->dialogs().shown.size() == 1, qPrintable(text));
            QCOMPARE(QByteArray(SystemInfo.RegionID, 8), region);
            QCOMPARE(SystemInfo.Sector, sector);
            m_p->dialogs().clear();
            w.btnWrite->click();
            QVERIFY2(m_p->dialogs().shown.size() == 1, qPrintable(text));
            QCOMPARE(QByteArray(SystemInfo.RegionID, 8), region);
        }
    }
}

void TestHostileInput::maintenanceCode()
{
    // The code that empties the database: anything else typed is refused, nothing is emptied.
    const auto owners = rowsOf(QStringLiteral("UserInfo"));
    TfrmFixDataBase w;
    w.show();
    for (const QString& text : hostileTexts()) {
        typeInto(w.edtConfirm, text);
        m_p->dialogs().clear();
        m_p->dialogs().answers = {MsgAnswer::Yes, MsgAnswer::Yes};
        w.btnInit->click();
        QVERIFY2(!m_p->dialogs().shown.isEmpty(), qPrintable(text));
        QVERIFY(changed(owners, rowsOf(QStringLiteral("UserInfo"))).isEmpty());
    }
}

void TestHostileInput::passwords()
{
    // A password set as a hostile text opens the login when the same text is typed there (both
    // boxes keep the same first 8 characters), and the written one no longer does.
    const auto owners = rowsOf(QStringLiteral("UserInfo"));
    OperatorLevel = 1;
    TfrmFixDataBase w;
    w.show();
    for (const QString& text : hostileTexts()) {
        typeInto(w.edtNewPassword, text);
        typeInto(w.edtRepeatPassword, text);
        m_p->dialogs().clear();
        w.btnChangePassword->click();
        QCOMPARE(m_p->dialogs().texts(), QStringList{"管理员的密码已修改，下次登录时用新密码。"});
        TFormLogin login;
        login.show();
        login.cbb1->setCurrentIndex(1);
        typeInto(login.EditPassword, text);
        login.ButtonLogon->click();
        QVERIFY2(login.LoggedIn, qPrintable(text));
        QVERIFY(!CheckPassword(AdministratorLevel, QStringLiteral("470925")));
    }
    QVERIFY(changed(owners, rowsOf(QStringLiteral("UserInfo"))).isEmpty());
}

QTEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
