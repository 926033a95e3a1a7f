#include "ui/logview.h"

#include <QDateTime>
#include <QPainter>
#include <QTextBlock>

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

namespace {

constexpr int secondsPerDay = 24 * 60 * 60;
constexpr int gap = 6;  // between a time and its message

} // namespace

LogView::LogView(QWidget *parent)
    : QPlainTextEdit(parent)
    , m_margin(new Margin(this))
{
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

void LogView::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    placeMargin();
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
