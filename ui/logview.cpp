// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logview.h"

#include <QDateTime>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

// The strip beside the text that the times are painted on.
class LogView::Margin : public QWidget
{
public:
    explicit Margin(LogView *view)
        : QWidget(view)
        , m_view(view)
    {
    }

protected:
    void paintEvent(QPaintEvent *event) override { m_view->paintMargin(event); }

private:
    LogView *m_view;
};

// Qt's plain-text layout shapes each paragraph as it comes, to repaint just
// that one, and with it the scroll range: a flood of a thousand messages a
// second then costs most of a core and keeps every paragraph's glyphs, though
// nobody sees them (the window is mostly hidden, and shows a few dozen lines).
// Here a change only marks its paragraphs unlaid and tells the view, which
// catches up on what is in view when it next shows it.
class LogView::Layout : public QPlainTextDocumentLayout
{
public:
    Layout(QTextDocument *text, LogView *view)
        : QPlainTextDocumentLayout(text)
        , m_view(view)
    {
    }

    // The scroll range and a repaint of what is in view, for the changes so far.
    void catchUp()
    {
        emit documentSizeChanged(documentSize());
        emit update();
    }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override
    {
        {
            const QSignalBlocker quiet(this);
            QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        }
        m_view->textChanged();
    }

private:
    LogView *m_view;
};

namespace {

constexpr int secondsPerDay = 24 * 60 * 60;
constexpr int gap = 6;  // between a time and its message

} // namespace

LogView::LogView(QWidget *parent)
    : QPlainTextEdit(parent)
    , m_margin(new Margin(this))
    , m_catchUp(new QTimer(this))
{
    auto *text = new QTextDocument(this);
    m_layout = new Layout(text, this);
    text->setDocumentLayout(m_layout);
    setDocument(text);
    // A view shown to a person: a tenth of a second behind is soon enough,
    // and in a flood each catch-up lays out all that is in view anew.
    m_catchUp->setSingleShot(true);
    m_catchUp->setInterval(100);
    connect(m_catchUp, &QTimer::timeout, this, &LogView::catchUp);
    // The view follows new messages unless the reader has scrolled up from them.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { m_following = value == verticalScrollBar()->maximum(); });
    m_margin->hide();
    // The strip is narrow: repainting what is in view of it, coalesced by
    // the event loop, costs less than keeping it scrolled in step.
    connect(this, &QPlainTextEdit::updateRequest, this, [this] {
        if (m_timesShown)
            m_margin->update();
    });
}

int LogView::stampOf(const QDateTime &utc)
{
    const qint64 seconds = utc.toMSecsSinceEpoch() / 1000;
    return int(((seconds % secondsPerDay) + secondsPerDay) % secondsPerDay);
}

QString LogView::stampText(int stamp)
{
    if (stamp < 0 || stamp >= secondsPerDay)
        return {};
    return QTime::fromMSecsSinceStartOfDay(stamp * 1000).toString(QStringLiteral("hh:mm:ss"));
}

QString LogView::timeShownAt(int paragraph) const
{
    return stampText(document()->findBlockByNumber(paragraph).userState());
}

void LogView::setTimesShown(bool shown)
{
    if (shown == m_timesShown)
        return;
    m_timesShown = shown;
    setViewportMargins(shown ? marginWidth() : 0, 0, 0, 0);
    placeMargin();
    m_margin->setVisible(shown);
}

int LogView::marginWidth() const
{
    return fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) + 2 * gap;
}

void LogView::placeMargin()
{
    const QRect inside = contentsRect();
    m_margin->setGeometry(inside.left(), inside.top(), marginWidth(), inside.height());
}

void LogView::textChanged()
{
    m_behind = true;
    if (isVisible() && !m_catchUp->isActive())
        m_catchUp->start();
}

void LogView::catchUp()
{
    if (m_behind) {
        m_behind = false;
        m_layout->catchUp();
    }
    if (m_following)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::showEvent(QShowEvent *event)
{
    QPlainTextEdit::showEvent(event);
    catchUp();
}

void LogView::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    placeMargin();
    if (m_following)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::paintMargin(QPaintEvent *event)
{
    QPainter painter(m_margin);
    painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    // Only the paragraphs in view: the log may hold a hundred thousand.
    const int lineHeight = fontMetrics().height();
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF box = blockBoundingGeometry(block).translated(contentOffset());
        if (box.top() > event->rect().bottom())
            break;
        const QString time = stampText(block.userState());
        if (!time.isEmpty() && box.bottom() >= event->rect().top())
            painter.drawText(QRectF(0, box.top(), m_margin->width() - gap, lineHeight), Qt::AlignRight, time);
    }
}
