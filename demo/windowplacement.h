// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

// Two windows side by side within a screen's available area (the screen
// less its panels and docks), as the demo shows the main window and the
// simulator: the pair centred, the first on the left at its own size, the
// second to its right, narrowed or lowered to fit but never below its
// minimum. Where even that leaves no room beside the first (screens
// narrower than about 1100 pixels), the second lies over the first's
// right-hand part, still within the area.
struct SideBySide {
    QRect first;  // frame rectangles, title bar and borders included
    QRect second;

    static SideBySide fit(const QRect &available, const QSize &first, const QSize &second,
                          const QSize &secondMinimum, int gap = 12);

    // The frame a window is planned with: the window system's once it has
    // framed the window, a title bar and borders as desktops draw them before.
    static QMargins plannedFrame(const QMargins &known, int fontHeight);

    // Moves and sizes the two windows so, on the first one's screen; placed
    // again once the window system has framed them, if it had not yet.
    static void place(QWidget &first, QWidget &second);
};
