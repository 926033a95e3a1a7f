// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <deque>
#include <memory>

namespace Ui {
class logDialogClass;
}

// The running record of the session: one paragraph per message, appended
// whether the window is shown or not. Only the most recent messages are
// kept, by count and by characters, so that neither a night of traffic nor a
// flood of long ones can fill the memory; once older ones have gone, the
// first paragraph says how many and where the full record is. A switch shows
// each message's UTC time beside it.
class logDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int defaultMessageLimit = 100000;
    static constexpr qsizetype defaultCharacterLimit = 4000000;

    explicit logDialog(QWidget *parent = nullptr);
    ~logDialog() override;

    // Kept with the time it comes at, which the window shows beside it on request.
    void append(const QString &text);
    void appendAt(const QString &text, const QDateTime &when);

    // Messages kept besides the note on dropped ones.
    void setMessageLimit(int limit);
    int messageLimit() const { return m_limit; }
    // Characters kept in the messages; the newest message is kept whatever its length.
    void setCharacterLimit(qsizetype limit);
    // Said after the count of dropped messages, for example where the log file is.
    void setRecordNote(const QString &note);
    qint64 droppedCount() const { return m_dropped; }

private:
    void dropOldest();
    QString droppedNote() const;

    std::unique_ptr<Ui::logDialogClass> m_ui;
    int m_limit = defaultMessageLimit;
    int m_messages = 0;
    qint64 m_dropped = 0;
    qsizetype m_characterLimit = defaultCharacterLimit;
    qsizetype m_characters = 0;
    std::deque<qsizetype> m_lengths;  // of the messages kept, oldest first
    QString m_recordNote;
};
