// Every window on the screen many offices have: 1366x768, with a taskbar and a title bar, which
// leaves about 1366x690 for a window's inside, in the program's font. Each window opens within
// that (its opening size and the least its layout needs), inside the screen's free area and in its
// middle, with every button whole; the windows whose lists or grid can grow get bigger with the
// window.

#include "UiFixture.h"
#include "store/OwnerStatements.h"
#include "support/OwnerRecords.h"
#include "ui/AlterUserInfo.h"
#include "ui/BlackName.h"
#include "ui/BuildInfo.h"
#include "ui/FirstSteps.h"
#include "ui/FixDataBase.h"
#include "ui/HelpWindow.h"
#include "ui/InitQdr.h"
#include "ui/InputDongHao.h"
#include "ui/ListScreen.h"
#include "ui/LoginWindow.h"
#include "ui/MainWindow.h"
#include "ui/OperationLogWindow.h"
#include "ui/SearchCondition.h"
#include "ui/SetTerminalParam.h"
#include "ui/ShowBlackCard.h"
#include "ui/TerminalRegister.h"
#include "ui/TerminalSel.h"
#include "ui/UserInfo.h"
#include "ui/UserInfoSearch.h"
#include "ui/Widgets.h"
#include "ui/WriteUserCard.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>

namespace {

// The inside of a window on a 1366x768 screen once the taskbar and the title bar are taken off.
const QSize OfficeRoom(1366, 690);

QString text(QSize s)
{
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

QString text(const QRect& r)
{
    return QStringLiteral("%1,%2 %3").arg(r.x()).arg(r.y()).arg(text(r.size()));
}

bool within(QSize s, QSize bound)
{
    return s.width() <= bound.width() && s.height() <= bound.height();
}

// The main window as the program shows it on an office PC: maximised, the operator logged in.
struct Program {
    UiFixture f;
    std::unique_ptr<TFormMain> main;

    bool start()
    {
        if (!f.listen())
            return false;
        main = std::make_unique<TFormMain>(f.backends());
        if (!main->StartUp())
            return false;
        f.openData();
        WhenModal<TFormLogin>([](TFormLogin* login) {
            login->cbb1->setCurrentIndex(2);
            login->EditPassword->setText(QStringLiteral("639104"));
            login->ButtonLogon->click();
        });
        QSignalSpy done(main.get(), &TFormMain::firstLoginDone);
        main->setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
        main->showMaximized();
        return done.wait(3000) && done.first().first().toBool();
    }
};

// A window as it opens, and the widgets in it that are to grow with it: the growth each must show
// (width, height) when the window grows by 120x80.
struct Opened {
    std::unique_ptr<QWidget> window;
    QList<QPair<QWidget*, QSize>> growing;
    TerminalGrid* terminals = nullptr; // the owner card windows: four rows of terminals in view
};

const QSize Taller(0, 1);
const QSize Bigger(1, 1);

// Some door terminals and buildings, so that the grids and the tree have rows.
void fillReferenceData()
{
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into BuildInfo (DongHao, DanYuan) values "
                                          "(1, 1), (1, 2), (2, 1), (3, 1)")));
    QStringList terminals;
    for (int id = 0; id < 20; ++id)
        terminals << QStringLiteral("(%1, '%1号门')").arg(id);
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into TerminalInfo (TerminalID, TerminalName) values ") +
                           terminals.join(QStringLiteral(", "))));
}

Opened open(const QString& name, TFormMain* main)
{
    Opened o;
    if (name == QStringLiteral("login")) {
        o.window = std::make_unique<TFormLogin>(main);
    } else if (name == QStringLiteral("device")) {
        o.window = std::make_unique<TFormSetTerminalParam>(main);
    } else if (name == QStringLiteral("format")) {
        auto w = std::make_unique<TFormInit_QDR>(main);
        w->setMode(false);
        o.window = std::move(w);
    } else if (name == QStringLiteral("maintenance")) {
        o.window = std::make_unique<TfrmFixDataBase>(main);
    } else if (name == QStringLiteral("search")) {
        o.window = std::make_unique<TFormSearchCondition>(); // kept for the run, without parent
    } else if (name == QStringLiteral("donghao")) {
        o.window = std::make_unique<TFormInputDongHao>(); // the same
    } else if (name == QStringLiteral("buildings")) {
        auto w = std::make_unique<TFormBuildInfo>(main);
        o.growing = {{w->grid, Bigger}};
        o.window = std::move(w);
    } else if (name == QStringLiteral("log")) {
        auto w = std::make_unique<TFormOperationLog>(main);
        o.growing = {{w->grid, Bigger}};
        o.window = std::move(w);
    } else if (name == QStringLiteral("terminals")) {
        auto w = std::make_unique<TFormTerminalRegster>(main);
        o.growing = {{w->grid, Bigger}};
        o.window = std::move(w);
    } else if (name.startsWith(QStringLiteral("owner editor"))) {
        auto w = std::make_unique<TFormAlter>(main);
        w->SetMode(name.endsWith(QStringLiteral("ownerless")) ? TFormAlter::Mode::Ownerless
                                                              : TFormAlter::Mode::Add);
        o.growing = {{w->grid, Bigger}};
        o.terminals = w->grid;
        o.window = std::move(w);
    } else if (name.startsWith(QStringLiteral("owner cards"))) {
        auto w = std::make_unique<TFormWriteUserCard>(main);
        o.growing = {{w->grid, Taller}, {w->grdOwners, Bigger}};
        o.terminals = w->grid;
        o.window = std::move(w);
    } else if (name == QStringLiteral("blacklist")) {
        auto w = std::make_unique<TFormBlackNameInfo>(main);
        o.growing = {{w->grdLost, Bigger}, {w->grdPrepared, Taller}};
        o.window = std::move(w);
    } else if (name == QStringLiteral("listing")) {
        auto w = std::make_unique<TFormShowBlackCard>(main);
        o.growing = {{w->mmoList, Bigger}};
        o.window = std::move(w);
    } else if (name == QStringLiteral("owners")) {
        auto w = std::make_unique<TFormUserInfo>(main);
        o.growing = {{w->grid, Bigger}};
        o.window = std::move(w);
    } else if (name == QStringLiteral("owner search")) {
        o.window = std::make_unique<TFormSearchUserInfo>(main);
    } else if (name == QStringLiteral("guide")) {
        auto w = std::make_unique<HelpWindow>(HelpFolder(), main);
        w->ShowPage(QStringLiteral("install.md"));
        o.growing = {{static_cast<QWidget*>(w->browser), Bigger},
                     {static_cast<QWidget*>(w->tvContents), Taller}};
        o.window = std::move(w);
    }
    return o;
}

// Every button of the window lies inside it, a push button as wide and as tall as its caption.
void checkButtonsWhole(QWidget* window)
{
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        if (!b->isVisibleTo(window))
            continue;
        bool scrolled = false; // a button in a scrolling area may lie outside its view
        for (QWidget* p = b->parentWidget(); p && p != window; p = p->parentWidget())
            scrolled = scrolled || qobject_cast<QAbstractScrollArea*>(p);
        if (scrolled)
            continue;
        const QRect where(b->mapTo(window, QPoint()), b->size());
        const QByteArray what = (b->accessibleName() + QLatin1Char(' ') + text(where)).toUtf8();
        QVERIFY2(window->rect().contains(where), what);
        if (qobject_cast<QPushButton*>(b)) {
            QString caption = b->text();
            caption.remove(QLatin1Char('&'));
            const int icon = b->icon().isNull() ? 0 : b->iconSize().width();
            const QSize needed(b->fontMetrics().horizontalAdvance(caption) + icon, b->fontMetrics().height());
            QVERIFY2(within(needed, b->size()), what);
        }
    }
}

// The window's inside and the least it needs fit the office screen, its frame lies within the
// screen's free area, in the middle of it.
void checkFits(QWidget* window)
{
    QApplication::processEvents();
    const QRect free = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    qInfo("%s: opens %s, needs at least %s, frame %s", qPrintable(window->windowTitle()),
          qPrintable(text(window->size())), qPrintable(text(window->minimumSizeHint())),
          qPrintable(text(frame)));
    QVERIFY2(within(window->size(), OfficeRoom), qPrintable(text(window->size())));
    QVERIFY2(within(window->minimumSizeHint(), OfficeRoom), qPrintable(text(window->minimumSizeHint())));
    QVERIFY2(within(window->minimumSize(), OfficeRoom), qPrintable(text(window->minimumSize())));
    QVERIFY2(free.contains(frame), qPrintable(text(frame)));
    const QPoint offCentre = frame.center() - free.center();
    QVERIFY2(qAbs(offCentre.x()) <= 1 && qAbs(offCentre.y()) <= 1, qPrintable(text(frame)));
    checkButtonsWhole(window);
}

} // namespace

class TestScreenFit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void everyWindow_data();
    void everyWindow();
    void mainWindow();
    void onTheMainWindowsScreen();
};

void TestScreenFit::initTestCase()
{
    // main() below gives the offscreen platform the office's screen, and a larger one beside it.
    QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1366, 768));
    QCOMPARE(QGuiApplication::screens().size(), 2);
    QVERIFY(QFontDatabase::families().contains(QStringLiteral("WenQuanYi Micro Hei")));
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 10)); // the program's font
}

void TestScreenFit::everyWindow_data()
{
    QTest::addColumn<QString>("window");
    for (const char* name :
         {"login", "device", "format", "maintenance", "search", "donghao", "buildings", "terminals",
          "owner editor", "owner editor, ownerless", "owner cards", "owner cards, long texts", "blacklist",
          "listing", "owners", "owner search", "log", "guide"})
        QTest::newRow(name) << QString::fromUtf8(name);
}

void TestScreenFit::everyWindow()
{
    QFETCH(QString, window);
    Program p;
    QVERIFY(p.start());
    fillReferenceData();
    if (window == QStringLiteral("owner cards, long texts")) {
        // An owner whose name and card number are long: the window keeps its size, the values
        // are cut rather than pushing the window past the screen.
        TuserInfoRec rec = OwnerRecord(QString(200, QChar(0x738B)), QString(200, QLatin1Char('9')));
        rec.FangHao = QString(200, QLatin1Char('0'));
        QVERIFY(InsertUserInfo(*dm, rec));
    }
    Opened o = open(window, p.main.get());
    QVERIFY(o.window);
    QWidget* w = o.window.get();
    w->show();
    if (window == QStringLiteral("owner editor, ownerless")) {
        // After a card operation: what is on the card shows under the owner.
        static_cast<TFormAlter*>(w)->grpCard->show();
    } else if (window == QStringLiteral("owner cards, long texts")) {
        auto* cards = static_cast<TFormWriteUserCard*>(w);
        cards->grdOwners->MakeCurrent(0);
        emit cards->grdOwners->rowChosen(0);
        QCOMPARE(cards->lblUserName->text(), QString(200, QChar(0x738B)));
        cards->pnlProgress->show(); // an export running
    }
    checkFits(w);
    if (QTest::currentTestFailed())
        return;
    if (o.terminals)
        QVERIFY2(o.terminals->viewport()->height() >= 4 * TerminalSelHeight,
                 qPrintable(QString::number(o.terminals->viewport()->height())));

    if (o.growing.isEmpty())
        return;
    QVERIFY2(w->minimumSize() != w->maximumSize(), "the window can be resized");
    QList<QSize> before;
    for (const auto& g : o.growing)
        before << g.first->size();
    w->resize(w->size() + QSize(120, 80));
    QApplication::processEvents();
    for (int i = 0; i < o.growing.size(); ++i) {
        const QSize grown = o.growing[i].first->size() - before[i];
        const QSize wanted = o.growing[i].second;
        const QByteArray what =
            (o.growing[i].first->accessibleName() + QLatin1Char(' ') + text(grown)).toUtf8();
        QVERIFY2(grown.width() >= wanted.width() && grown.height() >= wanted.height(), what);
    }
}

void TestScreenFit::mainWindow()
{
    // Maximised, with the first steps listed and the debug log of a maintainer.
    Program p;
    QVERIFY(p.start());
    TFormMain* main = p.main.get();
    QVERIFY(main->firstSteps->isVisible());
    QVERIFY(main->tabs->isTabVisible(1));
    const QRect free = main->screen()->availableGeometry();
    QVERIFY2(free.contains(main->frameGeometry()), qPrintable(text(main->frameGeometry())));
    QVERIFY2(within(main->minimumSizeHint(), OfficeRoom), qPrintable(text(main->minimumSizeHint())));
    checkButtonsWhole(main);

    // Restored to a window, the debug log grows with it.
    main->tabs->setCurrentIndex(1);
    main->showNormal();
    main->resize(900, 600);
    QApplication::processEvents();
    const QSize before = main->mmo1->size();
    main->resize(1100, 680);
    QApplication::processEvents();
    QVERIFY2(main->mmo1->width() > before.width() && main->mmo1->height() > before.height(),
             qPrintable(text(before) + QStringLiteral(" -> ") + text(main->mmo1->size())));
}

void TestScreenFit::onTheMainWindowsScreen()
{
    // The main window on the larger screen: the windows open there, in its middle, and the owner
    // card window opens at its full opening size, which that screen has room for.
    Program p;
    QScreen* large = QGuiApplication::screens().at(0) == QGuiApplication::primaryScreen()
                         ? QGuiApplication::screens().at(1)
                         : QGuiApplication::screens().at(0);
    p.main = std::make_unique<TFormMain>(p.f.backends());
    p.main->setScreen(large);
    p.main->setGeometry(large->availableGeometry());
    QVERIFY(p.f.listen());
    QVERIFY(p.main->StartUp());
    p.f.openData();
    WhenModal<TFormLogin>([](TFormLogin* login) { login->ButtonLogon->click(); });
    QSignalSpy done(p.main.get(), &TFormMain::firstLoginDone);
    p.main->showMaximized();
    QVERIFY(done.wait(3000));
    QCOMPARE(p.main->screen(), large);
    const QRect free = large->availableGeometry();

    TFormWriteUserCard cards(p.main.get());
    cards.show();
    QApplication::processEvents();
    QCOMPARE(cards.screen(), large);
    QCOMPARE(cards.size(), QSize(1340, 860));
    QVERIFY2(free.contains(cards.frameGeometry()), qPrintable(text(cards.frameGeometry())));
    QVERIFY((cards.frameGeometry().center() - free.center()).manhattanLength() <= 2);
    cards.close();

    // The search dialog, kept for the whole run without a parent, opens where the operator works.
    TFormSearchCondition search;
    search.show();
    QApplication::processEvents();
    QCOMPARE(search.screen(), large);
    QVERIFY((search.frameGeometry().center() - free.center()).manhattanLength() <= 2);
}

// The offscreen platform with two screens at 96 dpi: the primary one of 1366x768, as many offices
// have, and one of 1920x1080 to its right.
int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" ICCARD_SOURCE_DIR "/tests/ui/screens.json");
    QApplication app(argc, argv);
    TestScreenFit test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenfit.moc"
