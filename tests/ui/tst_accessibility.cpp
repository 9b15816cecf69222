// Walks every window of the program and checks what a screen reader gets: each input is named by
// its caption label, each value label announces its caption and its value, each push button its
// caption.

#include "UiFixture.h"
#include "ui/AlterUserInfo.h"
#include "ui/BlackName.h"
#include "ui/BuildInfo.h"
#include "ui/FirstSteps.h"
#include "ui/FixDataBase.h"
#include "ui/HelpWindow.h"
#include "ui/InitQdr.h"
#include "ui/InputDongHao.h"
#include "ui/LoginWindow.h"
#include "ui/MainWindow.h"
#include "ui/OperationLogWindow.h"
#include "ui/SearchCondition.h"
#include "ui/SetTerminalParam.h"
#include "ui/ShowBlackCard.h"
#include "ui/TerminalRegister.h"
#include "ui/UserInfo.h"
#include "ui/UserInfoSearch.h"
#include "ui/Widgets.h"
#include "ui/WriteUserCard.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

namespace {

QString withoutShortcut(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

QString accessibleText(QWidget* w, QAccessible::Text t)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(t) : QStringLiteral("<no interface>");
}

// A widget the operator types or picks in. Read-only text areas are shown values, not inputs.
bool isInput(QWidget* w)
{
    if (qobject_cast<QLineEdit*>(w))
        return !qobject_cast<QComboBox*>(w->parentWidget()) &&
               !qobject_cast<QAbstractSpinBox*>(w->parentWidget());
    if (auto* text = qobject_cast<QTextEdit*>(w))
        return !text->isReadOnly();
    if (auto* text = qobject_cast<QPlainTextEdit*>(w))
        return !text->isReadOnly();
    return qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w);
}

// The labels a screen reader announces the widget by: its caption, and a group box's title (on
// Linux a combo box's name is its current text, and its caption comes through this relation).
QStringList labelledBy(QWidget* w)
{
    QStringList labels;
    if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w))
        for (const auto& [label, relation] : iface->relations(QAccessible::Label))
            labels << label->text(QAccessible::Name);
    return labels;
}

QList<QLabel*> captionsOf(QWidget* window, QWidget* w)
{
    QList<QLabel*> captions;
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->buddy() == w)
            captions << label;
    return captions;
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyWindow_data();
    void everyWindow();
};

void TestAccessibility::everyWindow_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("inputs");
    QTest::addColumn<int>("values");
    QTest::newRow("main window") << "main" << 0 << 4;
    QTest::newRow("login") << "login" << 2 << 1;
    QTest::newRow("device card") << "device" << 2 << 1;
    QTest::newRow("card initialisation, format") << "format" << 0 << 3;
    QTest::newRow("card initialisation, restore blank") << "restore" << 0 << 3;
    QTest::newRow("database maintenance") << "maintenance" << 5 << 4;
    QTest::newRow("search dialog") << "search" << 2 << 0;
    QTest::newRow("export dialog") << "donghao" << 2 << 0;
    QTest::newRow("buildings and units") << "buildings" << 3 << 1;
    QTest::newRow("door terminals") << "terminals" << 3 << 1;
    QTest::newRow("owner editor") << "owner" << 10 << 5;
    QTest::newRow("owner cards") << "cards" << 1 << 9;
    QTest::newRow("blacklist") << "blacklist" << 0 << 2;
    QTest::newRow("blacklist card listing") << "listing" << 0 << 0;
    QTest::newRow("owner list") << "owners" << 0 << 1;
    QTest::newRow("owner search") << "owner search" << 5 << 0;
    QTest::newRow("operation log") << "log" << 6 << 1;
    QTest::newRow("guide") << "help" << 1 << 0;
}

void TestAccessibility::everyWindow()
{
    QFETCH(QString, window);
    QFETCH(int, inputs);
    QFETCH(int, values);
    UiFixture f;
    OperatorLevel = 2; // every control of every window is there
    std::unique_ptr<QWidget> w;
    if (window == QStringLiteral("main")) {
        auto main = std::make_unique<TFormMain>(f.backends());
        QVERIFY(main->StartUp());
        main->ApplyLevel();
        f.openData();
        main->RefreshFirstSteps(); // the first steps of a new office are listed
        QVERIFY(!main->firstSteps->isHidden());
        w = std::move(main);
    } else if (window == QStringLiteral("login")) {
        w = std::make_unique<TFormLogin>();
    } else if (window == QStringLiteral("device")) {
        w = std::make_unique<TFormSetTerminalParam>();
    } else if (window == QStringLiteral("maintenance")) {
        w = std::make_unique<TfrmFixDataBase>();
    } else if (window == QStringLiteral("search")) {
        w = std::make_unique<TFormSearchCondition>();
    } else if (window == QStringLiteral("donghao")) {
        w = std::make_unique<TFormInputDongHao>();
    } else if (window == QStringLiteral("buildings")) {
        f.openData();
        w = std::make_unique<TFormBuildInfo>();
    } else if (window == QStringLiteral("cards")) {
        f.openData();
        w = std::make_unique<TFormWriteUserCard>();
    } else if (window == QStringLiteral("blacklist")) {
        f.openData();
        w = std::make_unique<TFormBlackNameInfo>();
    } else if (window == QStringLiteral("listing")) {
        w = std::make_unique<TFormShowBlackCard>();
    } else if (window == QStringLiteral("owner")) {
        f.openData();
        w = std::make_unique<TFormAlter>();
    } else if (window == QStringLiteral("terminals")) {
        f.openData();
        w = std::make_unique<TFormTerminalRegster>();
    } else if (window == QStringLiteral("owners")) {
        f.openData();
        w = std::make_unique<TFormUserInfo>();
    } else if (window == QStringLiteral("owner search")) {
        w = std::make_unique<TFormSearchUserInfo>();
    } else if (window == QStringLiteral("log")) {
        f.openData();
        w = std::make_unique<TFormOperationLog>();
    } else if (window == QStringLiteral("help")) {
        auto help = std::make_unique<HelpWindow>(HelpFolder());
        help->ShowPage(QStringLiteral("index.md"));
        w = std::move(help);
    } else {
        auto init = std::make_unique<TFormInit_QDR>();
        init->setMode(window == QStringLiteral("restore"));
        w = std::move(init);
    }
    if (qobject_cast<QDialog*>(w.get()))
        w->show(); // the show step fills the values

    int inputsSeen = 0;
    int valuesSeen = 0;
    for (QWidget* child : w->findChildren<QWidget*>()) {
        const QString what =
            QStringLiteral("%1 \"%2\"")
                .arg(QLatin1String(child->metaObject()->className()), child->accessibleName());
        const QByteArray where = what.toUtf8();
        if (isInput(child)) {
            ++inputsSeen;
            const QList<QLabel*> captions = captionsOf(w.get(), child);
            QVERIFY2(captions.size() == 1, where);
            const QString caption = withoutShortcut(captions.first()->text()).trimmed();
            QVERIFY2(!caption.isEmpty(), where);
            QCOMPARE(child->accessibleName(), caption);
            QVERIFY2(labelledBy(child).contains(captions.first()->text()), where);
        } else if (auto* text = qobject_cast<QPlainTextEdit*>(child)) {
            QVERIFY2(!text->accessibleName().isEmpty(), where); // a read-only log still has a name
        }
        if (auto* label = qobject_cast<QLabel*>(child); label && qobject_cast<QLabel*>(label->buddy())) {
            // The caption of a shown value: the value must be a value label that says both.
            auto* value = qobject_cast<ValueLabel*>(label->buddy());
            QVERIFY2(value, where);
            ++valuesSeen;
            const QString caption = withoutShortcut(label->text()).trimmed();
            QCOMPARE(accessibleText(value, QAccessible::Name), caption);
            QCOMPARE(accessibleText(value, QAccessible::Value), value->text());
            QCOMPARE(accessibleText(value, QAccessible::Description),
                     value->toolTip().isEmpty() ? value->text() : value->toolTip());
        }
        if (auto* value = qobject_cast<ValueLabel*>(child))
            QVERIFY2(captionsOf(w.get(), value).size() == 1, where); // no value without its caption
        if (auto* button = qobject_cast<QPushButton*>(child)) {
            QCOMPARE(button->accessibleName(), withoutShortcut(button->text()));
            QCOMPARE(accessibleText(button, QAccessible::Name), withoutShortcut(button->text()));
        }
    }
    QCOMPARE(inputsSeen, inputs);
    QCOMPARE(valuesSeen, values);

    // The values are read out as they change.
    for (ValueLabel* value : w->findChildren<ValueLabel*>()) {
        value->setText(QStringLiteral("42"));
        QCOMPARE(accessibleText(value, QAccessible::Value), QStringLiteral("42"));
        QVERIFY(accessibleText(value, QAccessible::Name) != QStringLiteral("42"));
    }
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
