#include "Guide.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>

QString HeadingAnchor(const QString& heading)
{
    QString anchor;
    for (const QChar c : heading.trimmed().toLower()) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t'))
            anchor += QLatin1Char('-');
        else if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_') || c.isMark())
            anchor += c;
    }
    return anchor;
}

bool GuidePage::hasAnchor(const QString& anchor) const
{
    for (const GuideHeading& h : headings)
        if (h.anchor == anchor)
            return true;
    return false;
}

GuideTarget SplitGuideTarget(const QString& target)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    if (scheme.match(target).hasMatch())
        return {QString(), QString(), true};
    const qsizetype hash = target.indexOf(QLatin1Char('#'));
    if (hash < 0)
        return {QUrl::fromPercentEncoding(target.toUtf8()), QString(), false};
    return {QUrl::fromPercentEncoding(target.left(hash).toUtf8()),
            QUrl::fromPercentEncoding(target.mid(hash + 1).toUtf8()), false};
}

GuidePage ReadGuidePage(const QString& folder, const QString& file)
{
    GuidePage page;
    page.file = file;
    QFile f(QDir(folder).filePath(file));
    if (f.open(QIODevice::ReadOnly))
        page.markdown = QString::fromUtf8(f.readAll());

    // [text](target "title") and ![text](target); the text may hold no ']'.
    static const QRegularExpression link(
        QStringLiteral(R"((!?)\[([^\]]*)\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\))"));
    static const QRegularExpression heading(QStringLiteral(R"(^(#{1,6})\s+(.*?)\s*#*\s*$)"));
    static const QRegularExpression quote(QStringLiteral("「([^」]*)」"));
    bool fenced = false;
    const QStringList lines = page.markdown.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString& text = lines[i];
        const int line = i + 1;
        if (text.trimmed().startsWith(QLatin1String("```")) ||
            text.trimmed().startsWith(QLatin1String("~~~"))) {
            fenced = !fenced;
            continue;
        }
        if (fenced)
            continue;
        if (const QRegularExpressionMatch h = heading.match(text); h.hasMatch()) {
            const QString words = h.captured(2);
            page.headings.append({int(h.capturedLength(1)), words, HeadingAnchor(words), line});
        }
        for (auto it = link.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            page.links.append({!m.captured(1).isEmpty(), m.captured(2), m.captured(3), line});
        }
        for (auto it = quote.globalMatch(text); it.hasNext();)
            page.quotes.append({it.next().captured(1), line});
    }
    page.title = page.headings.isEmpty() ? file : page.headings.first().text;
    return page;
}

QStringList GuidePageOrder(const QString& folder)
{
    QStringList order;
    const GuidePage index = ReadGuidePage(folder, QLatin1String(GuideIndexPage));
    for (const GuideLink& l : index.links) {
        if (l.picture)
            continue;
        const GuideTarget t = SplitGuideTarget(l.target);
        if (t.external || !t.page.endsWith(QLatin1String(".md")) || t.page == QLatin1String(GuideIndexPage) ||
            order.contains(t.page))
            continue;
        order << t.page;
    }
    return order;
}

QList<GuidePage> ReadGuide(const QString& folder)
{
    QList<GuidePage> pages{ReadGuidePage(folder, QLatin1String(GuideIndexPage))};
    for (const QString& file : GuidePageOrder(folder))
        pages << ReadGuidePage(folder, file);
    return pages;
}
