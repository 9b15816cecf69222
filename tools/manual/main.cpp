// iccard-manual-pdf: the operator's guide as one PDF to print or hand out. A cover with the title,
// the version and the date of the build; the table of contents with the sheet each page begins
// on; then each page of the guide, in the order of index.md, beginning on a sheet of its own, its
// pictures scaled to the width of the text, the sheet's number at its foot. The Chinese font is
// embedded, so the file reads the same on any computer.

#include "manual/Guide.h"

#include <QAbstractTextDocumentLayout>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <cstdio>

namespace {

const QString Title = QStringLiteral("门禁卡管理系统 使用说明");
const QString FontFamily = QStringLiteral("WenQuanYi Micro Hei");
constexpr int Dpi = 96;          // device units: those of a screen, as the pages are laid out
constexpr int FooterHeight = 36; // below the text of each sheet

void complain(const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

QFont font(double points, bool bold = false)
{
    QFont f(FontFamily);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

struct Body {
    QList<int> starts; // where each page of the guide begins in the document
    QStringList missingPictures;
};

// The guide's pages in one document, each beginning on a new sheet, the pictures fitted to width.
Body layOut(QTextDocument& doc, const QList<GuidePage>& pages, const QString& folder, QSizeF sheet)
{
    Body body;
    doc.setDefaultFont(font(10.5));
    doc.setPageSize(sheet);
    QTextCursor cursor(&doc);
    for (qsizetype i = 0; i < pages.size(); ++i) {
        QTextDocument part;
        part.setMarkdown(pages[i].markdown, QTextDocument::MarkdownDialectGitHub);
        if (i > 0)
            cursor.insertBlock();
        body.starts << cursor.position();
        cursor.insertFragment(QTextDocumentFragment(&part));
    }
    // Lines a little apart, as printed text reads best.
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        QTextCursor c(b);
        QTextBlockFormat spaced;
        spaced.setLineHeight(140, QTextBlockFormat::ProportionalHeight);
        c.mergeBlockFormat(spaced);
    }
    for (qsizetype i = 1; i < body.starts.size(); ++i) {
        QTextCursor c(&doc);
        c.setPosition(body.starts[i]);
        QTextBlockFormat sheetBreak;
        sheetBreak.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        c.mergeBlockFormat(sheetBreak);
    }

    // The pictures: found in the guide's folder, no wider than the text, no taller than most of a
    // sheet.
    struct Picture {
        int position;
        int length;
        QTextImageFormat format;
    };
    QList<Picture> pictures;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                pictures.append({it.fragment().position(), it.fragment().length(),
                                 it.fragment().charFormat().toImageFormat()});
    const double widest = sheet.width() - 2 * doc.documentMargin();
    const double tallest = sheet.height() * 0.7;
    for (Picture& p : pictures) {
        const QString file = QDir(folder).filePath(p.format.name());
        const QImage image(file);
        if (image.isNull()) {
            body.missingPictures << p.format.name();
            continue;
        }
        const QUrl name = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
        doc.addResource(QTextDocument::ImageResource, name, image);
        const double scale = qMin(1.0, qMin(widest / image.width(), tallest / image.height()));
        p.format.setName(name.toString());
        p.format.setWidth(image.width() * scale);
        p.format.setHeight(image.height() * scale);
        QTextCursor c(&doc);
        c.setPosition(p.position);
        c.setPosition(p.position + p.length, QTextCursor::KeepAnchor);
        c.setCharFormat(p.format);
    }
    return body;
}

void footer(QPainter& painter, const QRect& sheet, int number)
{
    painter.setFont(font(9));
    painter.setPen(Qt::darkGray);
    painter.drawText(QRect(0, sheet.height() - FooterHeight + 12, sheet.width(), FooterHeight - 12),
                     Qt::AlignHCenter | Qt::AlignBottom, QStringLiteral("— %1 —").arg(number));
    painter.setPen(Qt::black);
}

} // namespace

int main(int argc, char* argv[])
{
    // No display is needed: the pages are drawn into the file.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        complain(QStringLiteral("用法：iccard-manual-pdf 输出的PDF文件 使用说明的目录（含 index.md）"));
        return 2;
    }
    const QString output = args[1];
    const QString folder = args[2];
    QList<GuidePage> pages = ReadGuide(folder);
    if (pages.first().markdown.isEmpty() || pages.size() < 2) {
        complain(QStringLiteral("没有找到使用说明：%1 中没有 index.md，或它没有列出任何页").arg(folder));
        return 1;
    }
    pages.removeFirst(); // the table of contents is made here, with the sheets' numbers
    if (!QFontDatabase::families().contains(FontFamily)) {
        complain(QStringLiteral("没有找到字体 %1（fonts-wqy-microhei）").arg(FontFamily));
        return 1;
    }

    QPdfWriter writer(output);
    writer.setResolution(Dpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(20, 18, 20, 14), QPageLayout::Millimeter);
    writer.setTitle(Title);
    writer.setCreator(QStringLiteral("iccard-manual-pdf " ICCARD_VERSION));
    const QRect sheet(0, 0, writer.width(), writer.height());
    const QSizeF text(sheet.width(), sheet.height() - FooterHeight);

    QTextDocument doc;
    const Body body = layOut(doc, pages, folder, text);
    for (const QString& missing : body.missingPictures)
        complain(QStringLiteral("没有找到图片：%1").arg(missing));

    // The table of contents: as many sheets as its lines need.
    const int lineHeight = 30;
    const int tocTop = 90;
    const int linesPerSheet = qMax(1, int((text.height() - tocTop) / lineHeight));
    const int tocSheets = int((pages.size() + linesPerSheet - 1) / linesPerSheet);
    const int firstBodySheet = 1 + tocSheets + 1; // after the cover and the contents
    QList<int> sheetOf;
    for (const int start : body.starts) {
        const QRectF where = doc.documentLayout()->blockBoundingRect(doc.findBlock(start));
        sheetOf << firstBodySheet + int(where.top() / text.height());
    }

    QPainter painter(&writer);
    if (!painter.isActive()) {
        complain(QStringLiteral("无法写入 %1").arg(output));
        return 1;
    }
    // The cover.
    painter.setFont(font(26, true));
    painter.drawText(QRect(0, sheet.height() / 3, sheet.width(), 80), Qt::AlignCenter, Title);
    painter.setFont(font(13));
    const QDate built = QDate::fromString(QStringLiteral(ICCARD_BUILD_DATE), Qt::ISODate);
    painter.drawText(QRect(0, sheet.height() / 3 + 110, sheet.width(), 40), Qt::AlignCenter,
                     QStringLiteral("版本 %1").arg(QStringLiteral(ICCARD_VERSION)));
    painter.drawText(QRect(0, sheet.height() / 3 + 150, sheet.width(), 40), Qt::AlignCenter,
                     built.toString(QStringLiteral("yyyy年M月d日")));

    // The contents.
    for (int s = 0; s < tocSheets; ++s) {
        writer.newPage();
        painter.setFont(font(18, true));
        painter.drawText(QRect(0, 0, sheet.width(), 60), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("目录"));
        painter.setFont(font(11));
        const QFontMetrics metrics(painter.font());
        for (int i = s * linesPerSheet; i < qMin(int(pages.size()), (s + 1) * linesPerSheet); ++i) {
            const int y = tocTop + (i - s * linesPerSheet) * lineHeight;
            const QString entry = QStringLiteral("%1. %2").arg(i + 1).arg(pages[i].title);
            const QString number = QString::number(sheetOf[i]);
            painter.drawText(QPoint(0, y), entry);
            painter.drawText(QPoint(sheet.width() - metrics.horizontalAdvance(number), y), number);
            painter.save();
            painter.setPen(QPen(Qt::gray, 1, Qt::DotLine));
            painter.drawLine(metrics.horizontalAdvance(entry) + 8, y,
                             sheet.width() - metrics.horizontalAdvance(number) - 8, y);
            painter.restore();
        }
        footer(painter, sheet, 2 + s);
    }

    // The guide's pages.
    for (int i = 0; i < doc.pageCount(); ++i) {
        writer.newPage();
        painter.save();
        painter.translate(0, -i * text.height());
        doc.drawContents(&painter, QRectF(0, i * text.height(), text.width(), text.height()));
        painter.restore();
        footer(painter, sheet, firstBodySheet + i);
    }
    painter.end();
    std::printf("%s: %d sheets, %d pages of the guide\n", qPrintable(output),
                firstBodySheet - 1 + doc.pageCount(), int(pages.size()));
    return body.missingPictures.isEmpty() ? 0 : 1;
}
