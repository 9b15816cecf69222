#pragma once

#include <QRect>

// One screen for the program and the simulated card issuer's window, side by side, so that an office
// training with the simulator sees both and neither hides the other: the simulator keeps to a strip
// at the right edge of the screen's available area, the program's main window takes the rest (and
// is then not maximised). Plain geometry, any thread.

// The width of the simulator's strip: enough for its card list and switches, and on a screen
// 1366 wide it leaves the main window room for everything it shows.
inline constexpr int SimulatorStripWidth = 440;

inline QRect SimulatorStrip(const QRect& available)
{
    return QRect(available.right() - SimulatorStripWidth + 1, available.top(), SimulatorStripWidth,
                 available.height());
}

// The area left to the program's main window.
inline QRect BesideSimulatorStrip(const QRect& available)
{
    QRect rest = available;
    rest.setRight(SimulatorStrip(available).left() - 1);
    return rest;
}
