// The guide as a PDF: made by iccard-manual-pdf from the guide of the sources, a PDF with a sheet
// for the cover and the contents besides each page's sheets, the Chinese font embedded; and a
// folder without a guide refused in words.

#include "manual/Guide.h"
#include "support/Files.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Made {
    int status = -1;
    QString err;
};

Made make(const QString& output, const QString& folder)
{
    QProcess tool;
    tool.start(QStringLiteral(MANUAL_PDF_TOOL), {output, folder});
    Made m;
    if (!tool.waitForFinished(50000))
        return m;
    m.status = tool.exitCode();
    m.err = QString::fromUtf8(tool.readAllStandardError());
    return m;
}

} // namespace

class TestManualPdf : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fromTheGuide();
    void noGuide();
};

void TestManualPdf::fromTheGuide()
{
    const QString guide = QStringLiteral(ICCARD_SOURCE_DIR "/docs/manual/zh_CN");
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("手册.pdf"));
    const Made made = make(pdf, guide);
    QVERIFY2(made.status == 0, qPrintable(made.err));
    const QByteArray bytes = ReadFile(pdf);
    QVERIFY(bytes.startsWith("%PDF-"));
    QVERIFY(bytes.trimmed().endsWith("%%EOF"));
    static const QRegularExpression sheet(QStringLiteral("/Type\\s*/Page(?!s)"));
    const qsizetype sheets = QString::fromLatin1(bytes).count(sheet);
    const qsizetype pages = GuidePageOrder(guide).size();
    QVERIFY2(sheets >= pages + 2, qPrintable(QStringLiteral("%1 sheets, %2 pages").arg(sheets).arg(pages)));
    // The font is in the file, so that Chinese reads on a computer without it.
    QVERIFY(bytes.contains("/BaseFont /WenQuanYiMicroHei"));
    QVERIFY(bytes.contains("/FontFile2"));
}

void TestManualPdf::noGuide()
{
    QTemporaryDir empty;
    const Made made = make(empty.filePath(QStringLiteral("x.pdf")), empty.path());
    QCOMPARE(made.status, 1);
    QVERIFY2(made.err.contains(QStringLiteral("没有找到使用说明")), qPrintable(made.err));
    QVERIFY(!QFile::exists(empty.filePath(QStringLiteral("x.pdf"))));
}

QTEST_GUILESS_MAIN(TestManualPdf)
#include "tst_manualpdf.moc"
