// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

// The full record of the session on disk: every message on one line behind
// its UTC time stamp, handed to the system as it is written, so that a crash
// loses nothing. The file is rotated when it reaches its size bound (the
// current file plus numbered older ones, the oldest deleted), so a night in
// debug mode cannot fill the disk.
class FileLog
{
public:
    static constexpr qint64 defaultMaxFileBytes = 50LL * 1024 * 1024;
    static constexpr int defaultFiles = 5;

    // files counts the current one and the older ones, path.1 (newest) to
    // path.<files - 1>.
    explicit FileLog(const QString &path = QStringLiteral("vestrel.log"), qint64 maxFileBytes = defaultMaxFileBytes,
                     int files = defaultFiles);
    ~FileLog();

    FileLog(const FileLog &) = delete;
    FileLog &operator=(const FileLog &) = delete;

    // False when the message could not be written; the next message tries
    // again, and once one gets through, the file says how many were lost.
    bool write(const QString &message, const QDateTime &when = QDateTime::currentDateTimeUtc());

    QString path() const { return m_path; }  // absolute
    QString errorString() const { return m_error; }

    // The line written for a message: stamp, space, text; line breaks inside
    // the text are shown as \r and \n so that a message stays one line.
    static QByteArray line(const QString &message, const QDateTime &when);

private:
    bool ensureOpen();
    bool writeLine(const QByteArray &bytes);
    void rotate();

    QString m_path;
    qint64 m_maxFileBytes;
    int m_files;
    QFile m_file;
    qint64 m_size = 0;
    qint64 m_unwritten = 0;
    QString m_error;
};
