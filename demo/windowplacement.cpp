// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/windowplacement.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// What the window system adds around the window: known once it is shown and
// the window manager has framed it, zero before.
QMargins frameMargins(const QWidget &window)
{
    const QRect frame = window.frameGeometry();
    const QRect inner = window.geometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
}

} // namespace

SideBySide SideBySide::fit(const QRect &available, const QSize &first, const QSize &second,
                           const QSize &secondMinimum, int gap)
{
    const QSize firstSize = first.boundedTo(available.size());
    const int room = available.width() - firstSize.width() - gap;
    const QSize least = secondMinimum.boundedTo(available.size());
    const QSize secondSize(std::clamp(second.width(), least.width(), std::max(least.width(), room)),
                           std::clamp(second.height(), least.height(), available.height()));

    const int top = available.top() + (available.height() - std::max(firstSize.height(), secondSize.height())) / 2;
    const int width = firstSize.width() + gap + secondSize.width();
    SideBySide placed;
    if (width <= available.width()) {
        const int left = available.left() + (available.width() - width) / 2;
        placed.first = QRect(QPoint(left, top), firstSize);
        placed.second = QRect(QPoint(placed.first.right() + 1 + gap, top), secondSize);
    } else {
        placed.first = QRect(QPoint(available.left(), top), firstSize);
        placed.second = QRect(QPoint(available.right() + 1 - secondSize.width(), top), secondSize);
    }
    return placed;
}

void SideBySide::place(QWidget &first, QWidget &second)
{
    const QScreen *screen = first.screen();
    if (!screen)
        return;
    const QMargins firstFrame = frameMargins(first);
    const QMargins secondFrame = frameMargins(second);
    const QSize secondWanted = second.size().expandedTo(second.sizeHint());
    const SideBySide placed
        = fit(screen->availableGeometry(), first.size().grownBy(firstFrame), secondWanted.grownBy(secondFrame),
              second.minimumSizeHint().grownBy(secondFrame));
    // move() places the frame, resize() sizes what is inside it.
    first.resize(placed.first.size().shrunkBy(firstFrame));
    first.move(placed.first.topLeft());
    second.resize(placed.second.size().shrunkBy(secondFrame));
    second.move(placed.second.topLeft());
}
