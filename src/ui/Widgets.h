#pragma once

#include <QLabel>
#include <QMargins>
#include <QPushButton>
#include <QString>

// Small helpers that keep every window accessible and every window's keys alike: inputs carry
// their caption label as buddy, buttons keep their caption as accessible name and answer Enter
// while they have the focus, and value labels tell screen readers both their caption and value.

// A label that shows a value (a count, a result, a code, a version) after its caption label.
// Screen readers get the caption (its accessible name, set by CaptionFor) as the name, the text it
// shows as the value, and as the description its tool tip or, without one, the text again, so they
// read out both.
class ValueLabel : public QLabel {
    Q_OBJECT
public:
    explicit ValueLabel(const QString& text, QWidget* parent = nullptr);
};

// A caption label whose buddy is input; screen readers announce the input by this text.
QLabel* CaptionFor(QWidget* input, const QString& caption, QWidget* parent = nullptr);
// A push button with the caption as its accessible name (without the '&' of a shortcut), pressed
// by Enter while it has the focus (ClickOnEnter).
QPushButton* MakeButton(const QString& caption, QWidget* parent = nullptr);
// Enter (Return or the keypad's Enter) clicks the button while it has the focus. The button never
// becomes a dialog's default button, so Enter in a text box presses no button at all.
void ClickOnEnter(QPushButton* button);
// A read-only value shown as plain text.
ValueLabel* MakeValueLabel(const QString& text, QWidget* parent = nullptr);
// A read-only value panel, sunken like a status panel.
ValueLabel* MakePanel(const QString& text, QWidget* parent = nullptr);
// Shows a card serial text as stored in a value label, with its unsigned form (the number the card
// issuer and the card show) as the label's tool tip, which screen readers read as its description.
// A text that is no card serial (empty, "...") gets no tool tip.
void ShowCardSerial(QLabel* label, const QString& stored);
// The margins inside a group box of the owner card windows: below the title, less room than the
// style's own, so that a screen 768 pixels high keeps more rows of the terminal grid.
inline const QMargins CompactGroupMargins(9, 4, 9, 6);
// A heading line of a window.
QLabel* MakeHeading(const QString& text, QWidget* parent = nullptr);
// Gives a top-level window its opening size and place, on the screen of the window it opens from
// (its parent's window; for a window without parent the active window, else the main window): the
// given size (its size hint when empty) as far as the screen has room for the window's inside, yet
// never below what its layout needs, and its frame in the middle of the screen's free area (kept
// inside that area, title bar first, should it not fit). The room is the free area (the available
// geometry) less a frame as Windows draws one (borders of 8 pixels, a title bar of 31) and, where
// the desktop reports no taskbar or panel, 40 pixels more for one: 1350x689 on a 1366x768 screen.
void PlaceOnScreen(QWidget* window, QSize size = {});
// Puts a top-level window into area, the frame its window manager gives it included (the frame is
// known once the window has been shown and framed; before that it counts as none).
void PlaceFrameIn(QWidget* window, const QRect& area);
