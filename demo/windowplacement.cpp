// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/windowplacement.h"

#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
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

// Places the two windows again once the window system has framed both, so
// that the frames, title bars included, end up within the screen's area.
class PlaceWhenFramed : public QObject
{
public:
    PlaceWhenFramed(QWidget &first, QWidget &second)
        : QObject(&first)
        , m_first(first)
        , m_second(&second)
    {
        first.installEventFilter(this);
        second.installEventFilter(this);
        QTimer::singleShot(5000, this, &QObject::deleteLater);  // a window system that never frames them
    }
    ~PlaceWhenFramed() override
    {
        if (m_second)
            m_second->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show) && !m_placing && m_second
            && !frameMargins(m_first).isNull() && !frameMargins(*m_second).isNull()) {
            m_placing = true;
            // Queued: the window system finishes its own move first.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_second)
                        SideBySide::place(m_first, *m_second);
                    deleteLater();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget &m_first;  // the parent: outlives this
    QPointer<QWidget> m_second;
    bool m_placing = false;
};

} // namespace

QMargins SideBySide::plannedFrame(const QMargins &known, int fontHeight)
{
    // Title bars run from about one and a half to two and a half lines of text.
    return known.isNull() ? QMargins(4, 2 * fontHeight + 12, 4, 4) : known;
}

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
    const QMargins firstKnown = frameMargins(first);
    const QMargins secondKnown = frameMargins(second);
    const QMargins firstFrame = plannedFrame(firstKnown, first.fontMetrics().height());
    const QMargins secondFrame = plannedFrame(secondKnown, second.fontMetrics().height());
    QSize secondWanted = second.size().expandedTo(second.sizeHint());
    const auto fitted = [&] {
        return fit(screen->availableGeometry(), first.size().grownBy(firstFrame), secondWanted.grownBy(secondFrame),
                   second.minimumSizeHint().grownBy(secondFrame));
    };
    SideBySide placed = fitted();
    // Narrowed, a window whose text wraps needs more height for it.
    if (second.hasHeightForWidth()) {
        const int height = second.heightForWidth(placed.second.size().shrunkBy(secondFrame).width());
        if (height > secondWanted.height()) {
            secondWanted.setHeight(height);
            placed = fitted();
        }
    }
    // move() places the frame, resize() sizes what is inside it.
    first.resize(placed.first.size().shrunkBy(firstFrame));
    first.move(placed.first.topLeft());
    second.resize(placed.second.size().shrunkBy(secondFrame));
    second.move(placed.second.topLeft());
    // Not framed yet (the window manager does it after the window is
    // shown): a window manager that takes the place for the window's inside
    // would put the title bar above it, so once framed they are placed again.
    if (firstKnown.isNull() || secondKnown.isNull())
        new PlaceWhenFramed(first, second);
}
