// The guide inside the program: the 帮助 menu, F1 in windows (a modal one among them) opening their
// page over whatever window is in use, search, links and history, and a guide that is not there.

#include "UiFixture.h"
#include "manual/Guide.h"
#include "support/Files.h"
#include "ui/AlterUserInfo.h"
#include "ui/FirstSteps.h"
#include "ui/FixDataBase.h"
#include "ui/HelpWindow.h"
#include "ui/LoginWindow.h"
#include "ui/MainWindow.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QWindow>

namespace {

QAction* menuItem(TFormMain& main, const QString& menu, const QString& item)
{
    for (QAction* top : main.menuBar()->actions())
        if (top->text() == menu && top->menu())
            for (QAction* a : top->menu()->actions())
                if (a->text() == item)
                    return a;
    return nullptr;
}

void pressF1(QWidget* window)
{
    QWidget* focus = window->focusWidget();
    QTest::keyClick(focus ? focus : window, Qt::Key_F1);
}

QStringList found(const HelpWindow* help)
{
    QStringList pages;
    for (int i = 0; i < help->lstFound->count(); ++i)
        pages << help->lstFound->item(i)->data(Qt::UserRole).toString();
    return pages;
}

// A guide of two pages: the second long, with a heading far down, a picture and links.
void writeSmallGuide(const QString& folder)
{
    WriteFile(folder + QStringLiteral("/index.md"), "# 目录\n\n1. [第一页](a.md)\n2. [第二页](b.md)\n");
    WriteFile(folder + QStringLiteral("/a.md"),
              "# 第一页\n\n写卡前先看[第二页的最后一步](b.md#最后一步)。\n\n"
              "[网上的说明](https://example.org/a.md)\n");
    // The picture shows a step, indented under it as the guide's pictures are.
    QByteArray b = "# 第二页\n\n1. 打开窗口。\n\n   ![窗口](images/w.png)\n\n";
    for (int i = 0; i < 80; ++i)
        b += "一行说明。\n\n";
    b += "## 最后一步\n\n点「确定」。\n";
    WriteFile(folder + QStringLiteral("/b.md"), b);
    QDir().mkpath(folder + QStringLiteral("/images"));
    QImage picture(1600, 300, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QVERIFY(picture.save(folder + QStringLiteral("/images/w.png")));
}

} // namespace

class TestHelp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void helpMenu();
    void f1_data();
    void f1();
    void f1InAModalWindow();
    void search();
    void linksHistoryAndPictures();
    void guideNotFound();
};

void TestHelp::helpMenu()
{
    UiFixture f;
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    QAction* manual = menuItem(main, QStringLiteral("帮助"), QStringLiteral("使用说明"));
    QAction* about = menuItem(main, QStringLiteral("帮助"), QStringLiteral("关于"));
    QVERIFY(manual && about);

    manual->trigger();
    HelpWindow* help = CurrentHelpWindow();
    QVERIFY(help && help->isVisible());
    QCOMPARE(help->CurrentPage(), QStringLiteral("index.md"));
    QVERIFY(help->browser->toPlainText().startsWith(QStringLiteral("门禁卡管理系统 使用说明")));
    // The contents: the table of contents, then its pages in its order.
    const QStringList order = GuidePageOrder(help->Folder());
    QCOMPARE(help->tvContents->topLevelItemCount(), order.size() + 1);
    for (int i = 0; i < order.size(); ++i)
        QCOMPARE(help->tvContents->topLevelItem(i + 1)->data(0, Qt::UserRole).toString(), order[i]);
    // Opened again: the same window.
    help->ShowPage(QStringLiteral("owners.md"));
    manual->trigger();
    QCOMPARE(CurrentHelpWindow(), help);
    QCOMPARE(help->CurrentPage(), QStringLiteral("index.md"));

    about->trigger();
    QCOMPARE(f.dialogs.shown.size(), 1);
    const QString text = f.dialogs.shown.first().text;
    QVERIFY2(text.contains(QStringLiteral("IC卡脱机系统")) &&
                 text.contains(QStringLiteral("版本 " ICCARD_VERSION)) && text.contains(QStringLiteral("F1")),
             qPrintable(text));
}

void TestHelp::f1_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("page");
    QTest::newRow("main window") << "main"
                                 << "index.md";
    QTest::newRow("main window, first steps") << "first steps"
                                              << "install.md";
    QTest::newRow("maintenance, backup tab") << "maintenance"
                                             << "backup.md";
    QTest::newRow("maintenance, passwords tab") << "passwords"
                                                << "log.md";
    QTest::newRow("owner editor") << "owner"
                                  << "owners.md";
    QTest::newRow("owner editor, card without owner") << "ownerless"
                                                      << "owner-card.md";
    QTest::newRow("a window without a line: its opener's page") << "plain over maintenance"
                                                                << "backup.md";
}

void TestHelp::f1()
{
    QFETCH(QString, window);
    QFETCH(QString, page);
    UiFixture f;
    OperatorLevel = 2;
    f.openData();
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    main.show();
    std::unique_ptr<QWidget> opened;
    QWidget* target = &main;
    if (window == QStringLiteral("first steps")) {
        main.RefreshFirstSteps();
        QVERIFY(main.firstSteps->isVisible());
        main.firstSteps->Step(0)->setFocus();
        target = main.firstSteps->Step(0);
    } else if (window == QStringLiteral("owner") || window == QStringLiteral("ownerless")) {
        auto alter = std::make_unique<TFormAlter>(&main);
        alter->SetMode(window == QStringLiteral("owner") ? TFormAlter::Mode::Add
                                                         : TFormAlter::Mode::Ownerless);
        opened = std::move(alter);
    } else if (window == QStringLiteral("plain")) {
        opened = std::make_unique<QDialog>();
        opened->show();
        target = opened.get();
    } else if (window != QStringLiteral("main")) {
        auto maintenance = std::make_unique<TfrmFixDataBase>(&main);
        maintenance->show();
        if (window == QStringLiteral("passwords"))
            maintenance->pages->setCurrentWidget(maintenance->pagePasswords);
        target = maintenance.get();
        if (window.startsWith(QStringLiteral("plain"))) {
            auto* plain = new QDialog(maintenance.get());
            plain->show();
            target = plain;
        }
        opened = std::move(maintenance);
    }
    if (opened && target == &main) {
        opened->show();
        target = opened.get();
    }
    QTest::keyClick(target, Qt::Key_F1);
    HelpWindow* help = CurrentHelpWindow();
    QVERIFY(help && help->isVisible());
    QCOMPARE(help->CurrentPage(), page);
}

void TestHelp::f1InAModalWindow()
{
    UiFixture f;
    TFormLogin login;
    QPointer<HelpWindow> help;
    bool typed = false;
    bool blockedElsewhere = false;
    WhenModal<TFormLogin>([&](TFormLogin* shown) {
        pressF1(shown);
        help = CurrentHelpWindow();
        if (!help || help->CurrentPage() != QStringLiteral("login.md")) {
            shown->reject();
            return;
        }
        // Typing reaches the guide's search box through the window system, while the login waits;
        // a window that is not over the login does not get it (the check does tell them apart).
        QTest::qWait(20);
        help->activateWindow();
        help->edtSearch->setFocus();
        QTest::keyClick(help->windowHandle(), Qt::Key_A);
        typed = help->edtSearch->text() == QStringLiteral("a");
        QLineEdit elsewhere;
        elsewhere.show();
        QTest::keyClick(elsewhere.windowHandle(), Qt::Key_A);
        blockedElsewhere = elsewhere.text().isEmpty();
        shown->reject();
    });
    login.exec();
    QVERIFY(help);
    QVERIFY(typed);
    QVERIFY(blockedElsewhere);
    // The login is closed: the guide stays open, on its own.
    QVERIFY(help->isVisible());
    QCOMPARE(help->parentWidget(), nullptr);
    QCOMPARE(help->edtSearch->text(), QStringLiteral("a"));
}

void TestHelp::search()
{
    UiFixture f;
    HelpWindow* help = ShowHelp(QStringLiteral("index.md"));
    QVERIFY(help);
    const int pages = help->tvContents->topLevelItemCount();
    help->edtSearch->setText(QStringLiteral("挂失"));
    QVERIFY(help->lstFound->isVisible());
    QVERIFY(!help->tvContents->isVisible());
    const QStringList lost = found(help);
    QVERIFY2(lost.contains(QStringLiteral("lost-card.md")), qPrintable(lost.join(QLatin1Char(' '))));
    // A word of few pages lists only those.
    help->edtSearch->setText(QStringLiteral("确认码"));
    const QStringList code = found(help);
    QVERIFY2(code.contains(QStringLiteral("backup.md")) && !code.contains(QStringLiteral("lost-card.md")) &&
                 code.size() < pages,
             qPrintable(code.join(QLatin1Char(' '))));
    // Every word typed must be there; the list opens the page.
    help->edtSearch->setText(QStringLiteral("挂失  解挂"));
    QVERIFY(found(help).contains(QStringLiteral("lost-card.md")));
    QListWidgetItem* item =
        help->lstFound->findItems(QStringLiteral("挂失与解挂"), Qt::MatchExactly).value(0);
    QVERIFY(item);
    emit help->lstFound->itemClicked(item);
    QCOMPARE(help->CurrentPage(), QStringLiteral("lost-card.md"));
    help->edtSearch->setText(QStringLiteral("挂失 长颈鹿"));
    QCOMPARE(help->lstFound->count(), 1);
    QCOMPARE(help->lstFound->item(0)->text(), QStringLiteral("没有找到"));
    help->edtSearch->clear();
    QVERIFY(help->tvContents->isVisible());
}

void TestHelp::linksHistoryAndPictures()
{
    UiFixture f;
    QTemporaryDir guide;
    writeSmallGuide(guide.path());
    SetHelpFolder(guide.path());
    HelpWindow* help = ShowHelp(QStringLiteral("a.md"));
    QVERIFY(help);
    QCOMPARE(help->tvContents->topLevelItem(2)->child(0)->text(0), QStringLiteral("最后一步"));

    // A link to a heading of another page.
    emit help->browser->anchorClicked(QUrl(QStringLiteral("b.md#最后一步")));
    QCOMPARE(help->CurrentPage(), QStringLiteral("b.md"));
    QCOMPARE(help->CurrentAnchor(), QStringLiteral("最后一步"));
    QCOMPARE(help->tvContents->currentItem()->text(0), QStringLiteral("最后一步"));
    QScrollBar* bar = help->browser->verticalScrollBar();
    QVERIFY2(bar->value() > bar->maximum() / 2, qPrintable(QString::number(bar->value())));
    // The picture is there, no wider than the page.
    const QImage picture = help->browser->document()
                               ->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("images/w.png")))
                               .value<QImage>();
    QVERIFY(!picture.isNull());
    QVERIFY2(picture.width() <= help->browser->viewport()->width(),
             qPrintable(QString::number(picture.width())));
    QTRY_COMPARE(help->browser->horizontalScrollBar()->maximum(), 0);

    QVERIFY(help->btnBack->isEnabled());
    help->btnBack->click();
    QCOMPARE(help->CurrentPage(), QStringLiteral("a.md"));
    QCOMPARE(help->tvContents->currentItem()->text(0), QStringLiteral("第一页"));
    QVERIFY(help->btnForward->isEnabled());
    help->btnForward->click();
    QCOMPARE(help->CurrentPage(), QStringLiteral("b.md"));

    // Links out of the guide are left alone.
    help->ShowPage(QStringLiteral("a.md"));
    emit help->browser->anchorClicked(QUrl(QStringLiteral("https://example.org/a.md")));
    emit help->browser->anchorClicked(QUrl::fromLocalFile(QStringLiteral("/etc/passwd")));
    QCOMPARE(help->CurrentPage(), QStringLiteral("a.md"));
    // A page that is not there: the table of contents.
    help->ShowPage(QStringLiteral("gone.md"));
    QCOMPARE(help->CurrentPage(), QStringLiteral("index.md"));
    // The contents open a page at a heading.
    emit help->tvContents->itemClicked(help->tvContents->topLevelItem(2)->child(0), 0);
    QCOMPARE(help->CurrentPage(), QStringLiteral("b.md"));
    QCOMPARE(help->CurrentAnchor(), QStringLiteral("最后一步"));
}

void TestHelp::guideNotFound()
{
    UiFixture f;
    QTemporaryDir empty;
    SetHelpFolder(empty.path());
    TFormMain main(f.backends());
    QVERIFY(main.StartUp());
    main.show();
    QTest::keyClick(&main, Qt::Key_F1);
    QCOMPARE(CurrentHelpWindow(), nullptr);
    QCOMPARE(f.dialogs.shown.size(), 1);
    const QString text = f.dialogs.shown.first().text;
    QVERIFY2(text.startsWith(QStringLiteral("没有找到使用说明")) &&
                 text.contains(QDir::toNativeSeparators(empty.path())),
             qPrintable(text));
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
