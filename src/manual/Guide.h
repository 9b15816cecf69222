#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The operator's guide as files: a folder of Markdown pages (UTF-8) with their pictures under
// images/, and index.md, whose links give the pages' order. Read by the help window, the PDF tool
// and the guide's tests; reading never throws, a page that cannot be read is empty. Any thread.

// The guide's table of contents; its links name the other pages in their order.
inline constexpr char GuideIndexPage[] = "index.md";

// The anchor of a heading, as page links write it after '#': the heading's text in lower case,
// with spaces and tabs as '-' and punctuation other than '-' and '_' left out (Chinese text stays
// as it is).
QString HeadingAnchor(const QString& heading);

struct GuideHeading {
    int level = 1;  // 1 for "# ", 2 for "## " ...
    QString text;   // without the '#' marks
    QString anchor; // HeadingAnchor(text)
    int line = 0;   // from 1
};

// A link or picture in a page: [text](target) or ![text](target).
struct GuideLink {
    bool picture = false;
    QString text;
    QString target; // as written: "page.md", "page.md#anchor", "#anchor", "images/x.png", "https://…"
    int line = 0;   // from 1
};

// A text quoted in 「」.
struct GuideQuote {
    QString text;
    int line = 0; // from 1
};

struct GuidePage {
    QString file;     // the file's name in the folder ("owners.md")
    QString markdown; // the whole text
    QString title;    // the first heading's text; the file's name when the page has none
    QList<GuideHeading> headings;
    QList<GuideLink> links;
    QList<GuideQuote> quotes;

    bool hasAnchor(const QString& anchor) const;
};

// Reads one page (headings, links and quotes outside fenced code blocks).
GuidePage ReadGuidePage(const QString& folder, const QString& file);

// The page files index.md links to, in the order of their first link, each once, index.md itself
// left out; links to other places (web addresses, pictures, files that are no page) are passed over.
QStringList GuidePageOrder(const QString& folder);

// index.md and then the pages it links to, read.
QList<GuidePage> ReadGuide(const QString& folder);

// A link target within the guide split into its page and anchor: "owners.md#x" gives {"owners.md",
// "x"}; "#x" gives {"", "x"}. External targets (with a scheme such as https: or mailto:) give
// {"", ""} and external true.
struct GuideTarget {
    QString page;
    QString anchor;
    bool external = false;
};
GuideTarget SplitGuideTarget(const QString& target);
