#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class logDialogClass;
}

// The running record of the session: one paragraph per message, appended
// whether the window is shown or not. Only the most recent messages are
// kept, so that a night of traffic cannot fill the memory; once older ones
// have gone, the first paragraph says how many and where the full record is.
// A switch shows each message's UTC time beside it.
class logDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int defaultMessageLimit = 100000;

    explicit logDialog(QWidget *parent = nullptr);
    ~logDialog() override;

    // Kept with the time it comes at, which the window shows beside it on request.
    void append(const QString &text);
    void append(const QString &text, const QDateTime &when);

    // Messages kept besides the note on dropped ones.
    void setMessageLimit(int limit);
    int messageLimit() const { return m_limit; }
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
    QString m_recordNote;
};
