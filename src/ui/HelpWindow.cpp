#include "HelpWindow.h"

#include "Actions.h"
#include "HelpPages.h"
#include "Widgets.h"
#include "manual/Guide.h"
#include "store/AppPath.h"
#include "store/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <optional>

namespace {

QPointer<HelpWindow> TheWindow;
std::optional<QString> FolderForRun;

constexpr int PageRole = Qt::UserRole; // "page.md#anchor" of a list or contents item

// The browser of the guide's pages: a page's headings become anchors ("page.md#anchor" scrolls to
// the heading, see HeadingAnchor), and pictures wider than the page are shown scaled to its width.
class GuideBrowser final : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;

protected:
    void doSetSource(const QUrl& url, QTextDocument::ResourceType type) override
    {
        QTextBrowser::doSetSource(url, type);
        markHeadings();
        if (url.hasFragment())
            scrollToAnchor(url.fragment());
    }

    QVariant loadResource(int type, const QUrl& name) override
    {
        if (type != QTextDocument::ImageResource)
            return QTextBrowser::loadResource(type, name);
        const QUrl file = source().resolved(name);
        QImageReader reader(file.toLocalFile());
        QImage image = reader.read();
        if (image.isNull())
            return QTextBrowser::loadResource(type, name);
        // Room for the scroll bar too, which a long page shows once laid out, and for the indent
        // of the numbered step a picture belongs to.
        const int room =
            qMax(320, viewport()->width() - verticalScrollBar()->sizeHint().width() -
                          2 * int(document()->documentMargin()) - int(document()->indentWidth()) - 8);
        if (image.width() > room)
            image = image.scaledToWidth(room, Qt::SmoothTransformation);
        return image;
    }

private:
    void markHeadings()
    {
        for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
            if (b.blockFormat().headingLevel() == 0 || b.text().isEmpty())
                continue;
            QTextCursor c(b);
            c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            QTextCharFormat anchor;
            anchor.setAnchor(true);
            anchor.setAnchorNames({HeadingAnchor(b.text())});
            c.mergeCharFormat(anchor);
        }
    }
};

QStringList wordsOf(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

bool holdsAll(const QString& text, const QStringList& words)
{
    for (const QString& w : words)
        if (!text.contains(w, Qt::CaseInsensitive))
            return false;
    return true;
}

// A page's text as the operator reads it: link targets and picture names left out.
QString readable(const QString& markdown)
{
    static const QRegularExpression target(QStringLiteral(R"(\]\([^)]*\))"));
    QString text = markdown;
    text.replace(target, QStringLiteral("]"));
    return text;
}

class HelpKey final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F1 || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget)
            return false; // the window system's window: the key goes on to the widget with the focus
        Guarded([widget] { ShowHelp(HelpPageFor(widget)); });
        return true;
    }
};

QPointer<HelpKey> TheHelpKey;

} // namespace

HelpWindow::HelpWindow(const QString& folder, QWidget* parent) : QDialog(parent), m_folder(folder)
{
    setWindowTitle(QStringLiteral("使用说明"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinMaxButtonsHint);
    // Closing the main window ends the program, whether or not the guide is open.
    setAttribute(Qt::WA_QuitOnClose, false);

    edtSearch = new QLineEdit(this);
    edtSearch->setClearButtonEnabled(true);
    edtSearch->setPlaceholderText(QStringLiteral("输入要找的字词"));
    lstFound = new QListWidget(this);
    lstFound->setAccessibleName(QStringLiteral("查找结果"));
    lstFound->hide();
    tvContents = new QTreeWidget(this);
    tvContents->setHeaderHidden(true);
    tvContents->setAccessibleName(QStringLiteral("目录"));
    browser = new GuideBrowser(this);
    browser->setOpenLinks(false);
    browser->setAccessibleName(QStringLiteral("使用说明"));
    btnBack = MakeButton(QStringLiteral("后退"), this);
    btnForward = MakeButton(QStringLiteral("前进"), this);
    btnContents = MakeButton(QStringLiteral("目录"), this);
    btnBack->setEnabled(false);
    btnForward->setEnabled(false);

    auto* left = new QWidget(this);
    {
        auto* v = new QVBoxLayout(left);
        v->setContentsMargins(0, 0, 0, 0);
        auto* row = new QHBoxLayout;
        row->addWidget(CaptionFor(edtSearch, QStringLiteral("查找："), left));
        row->addWidget(edtSearch, 1);
        v->addLayout(row);
        v->addWidget(lstFound, 1);
        v->addWidget(tvContents, 1);
    }
    auto* right = new QWidget(this);
    {
        auto* v = new QVBoxLayout(right);
        v->setContentsMargins(0, 0, 0, 0);
        auto* row = new QHBoxLayout;
        row->addWidget(btnBack);
        row->addWidget(btnForward);
        row->addWidget(btnContents);
        row->addStretch();
        v->addLayout(row);
        v->addWidget(browser, 1);
    }
    auto* split = new QSplitter(this);
    split->addWidget(left);
    split->addWidget(right);
    split->setStretchFactor(1, 1);
    split->setSizes({300, 800});
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split);

    fillContents();

    OnClick(btnBack, browser, &QTextBrowser::backward);
    OnClick(btnForward, browser, &QTextBrowser::forward);
    OnClick(btnContents, this, [this] { ShowPage(QLatin1String(GuideIndexPage)); });
    OnSignal(browser, &QTextBrowser::backwardAvailable, btnBack, &QPushButton::setEnabled);
    OnSignal(browser, &QTextBrowser::forwardAvailable, btnForward, &QPushButton::setEnabled);
    OnSignal(browser, &QTextBrowser::anchorClicked, this, &HelpWindow::followLink);
    OnSignal(browser, &QTextBrowser::sourceChanged, this, &HelpWindow::markCurrentPage);
    OnSignal(edtSearch, &QLineEdit::textChanged, this, &HelpWindow::search);
    const auto open = [this](QTreeWidgetItem* item) {
        if (item)
            openItem(item->data(0, PageRole).toString());
    };
    OnSignal(tvContents, &QTreeWidget::itemActivated, this, open);
    OnSignal(tvContents, &QTreeWidget::itemClicked, this, open);
    const auto openFound = [this](QListWidgetItem* item) {
        if (item)
            openItem(item->data(PageRole).toString());
    };
    OnSignal(lstFound, &QListWidget::itemActivated, this, openFound);
    OnSignal(lstFound, &QListWidget::itemClicked, this, openFound);
}

void HelpWindow::fillContents()
{
    tvContents->clear();
    for (const GuidePage& page : ReadGuide(m_folder)) {
        auto* item = new QTreeWidgetItem(tvContents, {page.title});
        item->setData(0, PageRole, page.file);
        for (const GuideHeading& h : page.headings)
            if (h.level == 2) {
                auto* sub = new QTreeWidgetItem(item, {h.text});
                sub->setData(0, PageRole, page.file + QLatin1Char('#') + h.anchor);
            }
    }
    tvContents->expandAll();
}

void HelpWindow::search(const QString& text)
{
    const QStringList words = wordsOf(text);
    lstFound->clear();
    lstFound->setVisible(!words.isEmpty());
    tvContents->setVisible(words.isEmpty());
    if (words.isEmpty())
        return;
    for (const GuidePage& page : ReadGuide(m_folder)) {
        if (!holdsAll(readable(page.markdown), words))
            continue;
        auto* item = new QListWidgetItem(page.title, lstFound);
        item->setData(PageRole, page.file);
        // Each heading whose part of the page holds the words.
        const QStringList lines = page.markdown.split(QLatin1Char('\n'));
        for (qsizetype i = 1; i < page.headings.size(); ++i) {
            const GuideHeading& h = page.headings[i];
            const int end = i + 1 < page.headings.size() ? page.headings[i + 1].line - 1 : int(lines.size());
            const QString part = lines.mid(h.line - 1, end - h.line + 1).join(QLatin1Char('\n'));
            if (!holdsAll(readable(part), words))
                continue;
            auto* sub = new QListWidgetItem(QStringLiteral("    ") + h.text, lstFound);
            sub->setData(PageRole, page.file + QLatin1Char('#') + h.anchor);
        }
    }
    if (lstFound->count() == 0) {
        auto* none = new QListWidgetItem(QStringLiteral("没有找到"), lstFound);
        none->setFlags(Qt::NoItemFlags);
    }
}

void HelpWindow::openItem(const QString& pageAndAnchor)
{
    if (!pageAndAnchor.isEmpty())
        ShowPage(pageAndAnchor);
}

void HelpWindow::ShowPage(const QString& pageAndAnchor)
{
    GuideTarget target = SplitGuideTarget(pageAndAnchor);
    if (target.external || target.page.isEmpty() || !QFileInfo(QDir(m_folder).filePath(target.page)).isFile())
        target = {QLatin1String(GuideIndexPage), QString(), false};
    QUrl url = QUrl::fromLocalFile(QDir(m_folder).filePath(target.page));
    if (!target.anchor.isEmpty())
        url.setFragment(target.anchor);
    browser->setSource(url);
}

QString HelpWindow::CurrentPage() const
{
    return QFileInfo(browser->source().toLocalFile()).fileName();
}

QString HelpWindow::CurrentAnchor() const
{
    return browser->source().fragment();
}

void HelpWindow::followLink(const QUrl& url)
{
    // Pages of the guide only: web addresses, mail and other files are left alone.
    const QUrl target = browser->source().resolved(url);
    if (!target.isLocalFile())
        return;
    const QFileInfo file(target.toLocalFile());
    if (file.suffix() != QLatin1String("md") || !file.isFile() || QDir(file.absolutePath()) != QDir(m_folder))
        return;
    browser->setSource(target);
}

void HelpWindow::markCurrentPage(const QUrl& url)
{
    // The browser's source() is the page before while it tells of the new one.
    const QString page = QFileInfo(url.toLocalFile()).fileName();
    const QString anchor = url.fragment();
    const QString wanted = anchor.isEmpty() ? page : page + QLatin1Char('#') + anchor;
    QTreeWidgetItem* best = nullptr;
    for (int i = 0; i < tvContents->topLevelItemCount() && !best; ++i) {
        QTreeWidgetItem* item = tvContents->topLevelItem(i);
        if (item->data(0, PageRole).toString() != page)
            continue;
        best = item;
        for (int j = 0; j < item->childCount(); ++j)
            if (item->child(j)->data(0, PageRole).toString() == wanted)
                best = item->child(j);
    }
    if (best) {
        const QSignalBlocker quiet(tvContents);
        tvContents->setCurrentItem(best);
    }
}

void HelpWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_placed) {
        m_placed = true;
        PlaceOnScreen(this, QSize(1100, 680));
    }
}

void HelpWindow::ShowOver(QWidget* owner)
{
    moveOver(owner);
    show();
    raise();
    activateWindow();
}

void HelpWindow::moveOver(QWidget* owner)
{
    if (owner == this)
        owner = nullptr;
    if (owner == m_owner)
        return;
    const QRect where = geometry();
    const bool shown = isVisible();
    if (m_owner)
        m_owner->removeEventFilter(this);
    m_owner = owner;
    // A window whose parent is the modal window takes input while that window waits.
    setParent(owner, windowFlags());
    if (m_owner)
        m_owner->installEventFilter(this);
    if (m_placed)
        setGeometry(where);
    if (shown)
        show();
}

bool HelpWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The modal window it stands over closes: the guide stays as it is, over the modal window still
    // in use if any, else on its own (as a child it would go with that window).
    if (watched == m_owner && event->type() == QEvent::Hide && !m_owner->isVisible()) {
        QWidget* next = QApplication::activeModalWidget();
        moveOver(next == m_owner ? nullptr : next);
    }
    return QDialog::eventFilter(watched, event);
}

void SetHelpFolder(const QString& folder)
{
    if (folder.isEmpty())
        FolderForRun.reset();
    else
        FolderForRun = folder;
}

QStringList HelpFolderPlaces()
{
    if (FolderForRun)
        return {*FolderForRun};
    return ManualFolderPlaces(QCoreApplication::applicationDirPath());
}

QString HelpFolder()
{
    for (const QString& place : HelpFolderPlaces())
        if (QFileInfo(QDir(place).filePath(QLatin1String(GuideIndexPage))).isFile())
            return QDir::cleanPath(place);
    return {};
}

HelpWindow* ShowHelp(const QString& pageAndAnchor)
{
    const QString folder = HelpFolder();
    if (folder.isEmpty()) {
        QStringList places;
        for (const QString& place : HelpFolderPlaces())
            places << QDir::toNativeSeparators(QDir::cleanPath(place));
        ShowWarning(QStringLiteral("没有找到使用说明。程序在这些目录中找过：\n") +
                    places.join(QLatin1Char('\n')) + QStringLiteral("\n请重新安装程序。"));
        return nullptr;
    }
    if (TheWindow && TheWindow->Folder() != folder)
        CloseHelp();
    if (!TheWindow)
        TheWindow = new HelpWindow(folder);
    TheWindow->ShowOver(QApplication::activeModalWidget());
    TheWindow->ShowPage(pageAndAnchor);
    return TheWindow;
}

HelpWindow* CurrentHelpWindow()
{
    return TheWindow;
}

void CloseHelp()
{
    delete TheWindow.data();
}

void InstallHelpKey()
{
    if (!TheHelpKey) {
        TheHelpKey = new HelpKey(qApp);
        qApp->installEventFilter(TheHelpKey);
    }
}

void RemoveHelpKey()
{
    delete TheHelpKey.data();
}
