#pragma once

#include <QPlainTextEdit>

class QDateTime;

// The log window's text, with each message's UTC time in a margin on its
// left when asked for. The times are kept beside the text, in each
// paragraph's user state (seconds into the UTC day), so the messages' own
// texts stay as they came and showing or hiding the times costs nothing.
class LogView : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit LogView(QWidget *parent = nullptr);

    void setTimesShown(bool shown);
    bool timesShown() const { return m_timesShown; }

    // What a paragraph's user state keeps for a message at that time, and
    // how the margin shows it: "hh:mm:ss", or nothing for a paragraph that
    // is not a message (-1, such as the note on dropped messages).
    static int stampOf(const QDateTime &utc);
    static QString stampText(int stamp);
    // The time shown beside paragraph n, empty for none.
    QString timeShownAt(int paragraph) const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    class Margin;
    void paintMargin(QPaintEvent *event);
    int marginWidth() const;
    void placeMargin();

    QWidget *m_margin;
    bool m_timesShown = false;
};
