// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>

class QDateTime;
class QTimer;

// The log window's text, with each message's UTC time in a margin on its
// left when asked for. The times are kept beside the text, in each
// paragraph's user state (seconds into the UTC day), so the messages' own
// texts stay as they came and showing or hiding the times costs nothing.
// Only paragraphs in view are laid out, and a view that is shown catches up
// with new text a few times a second at most, following it at the bottom.
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
    void showEvent(QShowEvent *event) override;

private:
    class Layout;
    class Margin;
    void textChanged();
    void catchUp();
    void paintMargin(QPaintEvent *event);
    int marginWidth() const;
    void placeMargin();

    Layout *m_layout = nullptr;
    QWidget *m_margin;
    QTimer *m_catchUp;
    bool m_behind = false;  // changes the scroll range and the view have not caught up with
    bool m_following = true;  // the reader left the view at the newest message
    bool m_timesShown = false;
};
