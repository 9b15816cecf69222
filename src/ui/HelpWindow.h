#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QListWidget;
class QPushButton;
class QTextBrowser;
class QUrl;
class QTreeWidget;
class QTreeWidgetItem;

// The operator's guide inside the program: one window for the whole run, the pages shown as the
// guide's Markdown with its pictures, the table of contents (the pages in the order of index.md,
// each with its headings), a search over the pages' words (substrings, so Chinese needs no
// spaces), back and forward, links between pages followed and links out of the guide left alone.
// It is opened by the 帮助 menu and by F1 in any window (InstallHelpKey): over the modal window in
// use, if any, so that it takes input while that window waits; it stays open when that window
// closes. Main thread.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(const QString& folder, QWidget* parent = nullptr);

    // Shows "page.md" or "page.md#anchor" of the guide; index.md for an empty or unknown page.
    void ShowPage(const QString& pageAndAnchor);
    // The page shown ("owners.md") and its anchor, if it was opened at one.
    QString CurrentPage() const;
    QString CurrentAnchor() const;
    QString Folder() const { return m_folder; }
    // Shows the window over owner (the modal window in use), or on its own without one.
    void ShowOver(QWidget* owner);

    QLineEdit* edtSearch;
    QListWidget* lstFound;
    QTreeWidget* tvContents;
    QTextBrowser* browser;
    QPushButton* btnBack;
    QPushButton* btnForward;
    QPushButton* btnContents;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void fillContents();
    void search(const QString& words);
    void followLink(const QUrl& url);
    void openItem(const QString& pageAndAnchor);
    void markCurrentPage(const QUrl& url);
    void moveOver(QWidget* owner);

    QString m_folder;
    QWidget* m_owner = nullptr;
    bool m_placed = false;
};

// Opens the guide at "page.md" or "page.md#anchor" in the program's help window, over the modal
// window in use if any. When the guide is not found the operator is told where it was looked for
// (through the dialog seam) and nullptr is returned.
HelpWindow* ShowHelp(const QString& pageAndAnchor);
// The program's help window while there is one.
HelpWindow* CurrentHelpWindow();
// Closes and destroys the help window (the end of the run, the end of a test).
void CloseHelp();

// The guide's folder for this run: the one set below, else ManualFolder of the program's own
// folder. Tests set it; an empty text restores the default.
void SetHelpFolder(const QString& folder);
// The folders looked in, in order, and the first that holds index.md (empty when none does).
QStringList HelpFolderPlaces();
QString HelpFolder();

// F1 anywhere in the program opens the page of HelpPageFor for the widget with the focus (the
// window, when none has it). Installed once on the application; removing it is for tests.
void InstallHelpKey();
void RemoveHelpKey();
