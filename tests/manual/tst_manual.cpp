// The operator's guide cannot drift from the program: every picture a page shows exists, every
// page is in the table of contents, every link leads to a page (and heading) of the guide, every
// text a page quotes in 「」 is one the program shows, and F1 in every window has a page. Each
// failure names the page, the line and the text.

#include "manual/Guide.h"
#include "support/Files.h"
#include "ui/HelpPages.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Guide = QStringLiteral(ICCARD_SOURCE_DIR "/docs/manual/zh_CN");

// The program's own texts: every source file of the program and of the simulated card issuer.
QString programSources(const QString& root)
{
    QString all;
    for (const char* folder : {"src", "tools/sim"}) {
        QDirIterator it(QDir(root).filePath(QLatin1String(folder)),
                        {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            all += QString::fromUtf8(ReadFile(it.next())) + QLatin1Char('\n');
    }
    return all;
}

QStringList pageFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.md")}, QDir::Files, QDir::Name);
}

QString where(const GuidePage& page, int line)
{
    return QStringLiteral("%1:%2").arg(page.file).arg(line);
}

// What is wrong with the guide in folder, one line each; sources are the program's texts.
QStringList checkGuide(const QString& folder, const QString& sources)
{
    QStringList failures;
    const QStringList files = pageFiles(folder);
    QMap<QString, GuidePage> pages;
    for (const QString& file : files)
        pages.insert(file, ReadGuidePage(folder, file));

    if (!files.contains(QLatin1String(GuideIndexPage)))
        failures << QStringLiteral("index.md: missing");
    const QStringList order = GuidePageOrder(folder);
    for (const QString& file : files)
        if (file != QLatin1String(GuideIndexPage) && !order.contains(file))
            failures << QStringLiteral("%1: not linked from index.md").arg(file);

    for (const GuidePage& page : pages) {
        if (page.headings.isEmpty() || page.headings.first().level != 1 || page.headings.first().line != 1)
            failures << QStringLiteral("%1:1: the page does not start with its \"# \" title").arg(page.file);
        for (const GuideLink& link : page.links) {
            if (link.picture) {
                if (!QFileInfo(QDir(folder).filePath(link.target)).isFile())
                    failures << QStringLiteral("%1: picture %2 not found")
                                    .arg(where(page, link.line), link.target);
                continue;
            }
            const GuideTarget target = SplitGuideTarget(link.target);
            if (target.external)
                continue;
            const QString file = target.page.isEmpty() ? page.file : target.page;
            if (!pages.contains(file)) {
                failures << QStringLiteral("%1: link to %2: no such page")
                                .arg(where(page, link.line), link.target);
                continue;
            }
            if (!target.anchor.isEmpty() && !pages[file].hasAnchor(target.anchor))
                failures << QStringLiteral("%1: link to %2: no such heading")
                                .arg(where(page, link.line), link.target);
        }
        for (const GuideQuote& quote : page.quotes)
            if (quote.text.isEmpty() || !sources.contains(quote.text))
                failures << QStringLiteral("%1: 「%2」 is no text of the program")
                                .arg(where(page, quote.line), quote.text);
    }
    return failures;
}

// The windows among the classes of the headers in folder: the classes derived, directly or
// through another class of the folder, from QDialog or QMainWindow.
QStringList windowClasses(const QString& folder)
{
    static const QRegularExpression declaration(
        QStringLiteral(R"(\bclass\s+(\w+)\s*(?:final\s*)?:\s*([^{;]+)\{)"));
    QMap<QString, QStringList> bases;
    for (const QString& header : QDir(folder).entryList({QStringLiteral("*.h")}, QDir::Files)) {
        const QString text = QString::fromUtf8(ReadFile(QDir(folder).filePath(header)));
        for (auto it = declaration.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            QStringList list;
            for (QString base : m.captured(2).split(QLatin1Char(','))) {
                base.remove(QRegularExpression(QStringLiteral(R"(\b(public|private|protected|virtual)\b)")));
                list << base.trimmed();
            }
            bases.insert(m.captured(1), list);
        }
    }
    const std::function<bool(const QString&)> isWindow = [&](const QString& cls) {
        if (cls == QLatin1String("QDialog") || cls == QLatin1String("QMainWindow"))
            return true;
        for (const QString& base : bases.value(cls))
            if (isWindow(base))
                return true;
        return false;
    };
    QStringList windows;
    for (auto it = bases.cbegin(); it != bases.cend(); ++it)
        if (isWindow(it.key()))
            windows << it.key();
    return windows;
}

} // namespace

class TestManual : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theGuide();
    void faultsNamed_data();
    void faultsNamed();
    void everyWindowHasAPage();
    void pageOrder();
};

void TestManual::theGuide()
{
    QVERIFY2(QFileInfo(QDir(Guide).filePath(QLatin1String(GuideIndexPage))).isFile(), qPrintable(Guide));
    const QStringList failures = checkGuide(Guide, programSources(QStringLiteral(ICCARD_SOURCE_DIR)));
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
}

void TestManual::faultsNamed_data()
{
    // A small guide with one fault, and the failure it must give.
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("failure");
    QTest::newRow("missing picture") << "a.md"
                                     << "# 甲\n\n1. 点「增加」。\n\n![图](images/none.png)\n"
                                     << "a.md:5: picture images/none.png not found";
    QTest::newRow("page left out of the contents") << "b.md"
                                                   << "# 乙\n"
                                                   << "b.md: not linked from index.md";
    QTest::newRow("link to no page") << "a.md"
                                     << "# 甲\n\n见[别处](gone.md)。\n"
                                     << "a.md:3: link to gone.md: no such page";
    QTest::newRow("link to no heading")
        << "a.md"
        << "# 甲\n\n## 第一步\n\n见[第二步](a.md#第二步)和[第一步](#第一步)。\n"
        << "a.md:5: link to a.md#第二步: no such heading";
    QTest::newRow("text the program does not show") << "a.md"
                                                    << "# 甲\n\n1. 点「增加」，再点「立即发卡」。\n"
                                                    << "a.md:3: 「立即发卡」 is no text of the program";
    QTest::newRow("no title first") << "a.md"
                                    << "说明\n\n# 甲\n"
                                    << "a.md:1: the page does not start with its \"# \" title";
}

void TestManual::faultsNamed()
{
    QFETCH(QString, page);
    QFETCH(QString, text);
    QFETCH(QString, failure);
    QTemporaryDir folder;
    WriteFile(folder.filePath(QStringLiteral("index.md")),
              "# 目录\n\n1. [甲](a.md)\n2. [网上](https://example.org/x.md)\n");
    WriteFile(folder.filePath(QStringLiteral("a.md")), "# 甲\n");
    WriteFile(folder.filePath(page), text.toUtf8());
    const QStringList failures =
        checkGuide(folder.path(), QStringLiteral(R"(MakeButton(QStringLiteral("增加"));)"));
    QCOMPARE(failures, QStringList{failure});
}

void TestManual::everyWindowHasAPage()
{
    const QString sources = programSources(QStringLiteral(ICCARD_SOURCE_DIR));
    QStringList failures;
    const QList<GuidePage> guide = ReadGuide(Guide);
    QSet<QString> known;
    for (const HelpTopic& t : HelpTopics()) {
        known << QLatin1String(t.widget);
        const GuideTarget target = SplitGuideTarget(QString::fromUtf8(t.page));
        const auto page = std::find_if(guide.cbegin(), guide.cend(),
                                       [&](const GuidePage& p) { return p.file == target.page; });
        if (page == guide.cend())
            failures << QStringLiteral("%1: F1 opens %2, which is no page of the guide")
                            .arg(QLatin1String(t.widget), target.page);
        else if (!target.anchor.isEmpty() && !page->hasAnchor(target.anchor))
            failures << QStringLiteral("%1: F1 opens %2, whose heading is not there")
                            .arg(QLatin1String(t.widget), QString::fromUtf8(t.page));
        // A tab or title the window no longer shows would never match.
        if (t.shown && !sources.contains(QStringLiteral("\"%1\"").arg(QString::fromUtf8(t.shown))))
            failures << QStringLiteral("%1: shows no \"%2\"")
                            .arg(QLatin1String(t.widget), QString::fromUtf8(t.shown));
        if (!sources.contains(QStringLiteral("class %1 ").arg(QLatin1String(t.widget))))
            failures << QStringLiteral("%1: no such class").arg(QLatin1String(t.widget));
    }
    for (const char* w : HelpFromOpener())
        known << QLatin1String(w);
    const QStringList windows = windowClasses(QStringLiteral(ICCARD_SOURCE_DIR "/src/ui"));
    QVERIFY(windows.contains(QStringLiteral("TFormAlter"))); // the scan finds windows through their bases
    QVERIFY(windows.contains(QStringLiteral("TFormMain")));
    for (const QString& w : windows)
        if (!known.contains(w))
            failures << QStringLiteral("%1: a window without a page for F1 (HelpPages.cpp)").arg(w);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
}

void TestManual::pageOrder()
{
    // The contents' order is that of index.md's links, each page once, web addresses and pictures
    // passed over; a link's anchor does not make another page.
    QTemporaryDir folder;
    WriteFile(folder.filePath(QStringLiteral("index.md")),
              "# 目录\n\n![封面](images/c.png)\n1. [乙](b.md)\n2. [甲](a.md#第一步) [又是乙](b.md)\n"
              "3. [网上](https://example.org/c.md)\n4. [目录](index.md)\n");
    QCOMPARE(GuidePageOrder(folder.path()), (QStringList{"b.md", "a.md"}));
    QCOMPARE(HeadingAnchor(QStringLiteral("Step 2: 写卡 (IC卡)")), QStringLiteral("step-2-写卡-ic卡"));
}

QTEST_GUILESS_MAIN(TestManual)
#include "tst_manual.moc"
