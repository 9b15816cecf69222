#pragma once

#include <QString>
#include <span>

class QWidget;

// Which page of the operator's guide F1 opens: one table from the windows (and the pieces of a
// window that have a page of their own) to a page, "page.md" or "page.md#anchor", and the list of
// windows that knowingly have no line of their own and open the page of the window they were
// opened from. A new window goes into one of the two (the guide's test fails otherwise). Main
// thread.

struct HelpTopic {
    const char* widget; // its class (as QMetaObject names it)
    // nullptr for any; else the window shows this: the tab shown (a window with tabs) or its title.
    const char* shown;
    const char* page;
};

// The table, in the order it is searched: the first line of a class whose shown text applies wins.
std::span<const HelpTopic> HelpTopics();

// Windows without a line: they open the page of the window that opened them (the message boxes,
// the bases of the windows).
std::span<const char* const> HelpFromOpener();

// The page of the table for a class showing shown (the tab or title); empty when none applies.
QString HelpPageOf(const QString& widgetClass, const QString& shown);

// What a window shows for the table: the shown tab of its tab pages (the first set of tabs in it),
// else its title. Empty for a widget that is no window.
QString HelpShownIn(const QWidget* widget);

// The page for F1 pressed in a widget: the first line that applies to the widget or, going up, to
// the widgets and windows it lies in (a window opened from another window lies in it); index.md
// when none does.
QString HelpPageFor(const QWidget* widget);
