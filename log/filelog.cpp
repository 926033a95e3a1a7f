// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/filelog.h"

#include <QFileInfo>

FileLog::FileLog(const QString &path, qint64 maxFileBytes, int files)
    : m_path(QFileInfo(path).absoluteFilePath())
    , m_maxFileBytes(maxFileBytes)
    , m_files(qMax(1, files))
{
}

FileLog::~FileLog() = default;

QByteArray FileLog::line(const QString &message, const QDateTime &when)
{
    QString text = message;
    text.replace(u'\r', QLatin1String("\\r"));
    text.replace(u'\n', QLatin1String("\\n"));
    return when.toUTC().toString(Qt::ISODateWithMs).toLatin1() + ' ' + text.toUtf8() + '\n';
}

bool FileLog::write(const QString &message, const QDateTime &when)
{
    if (m_unwritten > 0) {
        const QString lost = QStringLiteral("(%1 messages could not be written to this file)").arg(m_unwritten);
        if (!writeLine(line(lost, when))) {
            ++m_unwritten;
            return false;
        }
        m_unwritten = 0;
    }
    if (writeLine(line(message, when)))
        return true;
    ++m_unwritten;
    return false;
}

bool FileLog::ensureOpen()
{
    if (m_file.isOpen())
        return true;
    m_file.setFileName(m_path);
    // Appended to: the record of earlier runs stays, within the same bound.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    m_size = m_file.size();
    return true;
}

bool FileLog::writeLine(const QByteArray &bytes)
{
    if (!ensureOpen())
        return false;
    if (m_size > 0 && m_size + bytes.size() > m_maxFileBytes) {
        rotate();
        if (!ensureOpen())
            return false;
        if (m_size > 0 && !m_file.resize(0)) {
            // Not renamed away (a folder that takes no new names): the bound
            // on disk comes first.
            m_error = m_file.errorString();
            m_file.close();
            return false;
        }
        m_size = 0;
    }
    const qint64 written = m_file.write(bytes);
    if (written != bytes.size()) {
        m_error = m_file.errorString();
        // Reopened for the next message: the file may have been moved or the disk freed.
        m_file.close();
        return false;
    }
    m_size += written;
    return true;
}

void FileLog::rotate()
{
    m_file.close();
    const auto numbered = [this](int n) { return QStringLiteral("%1.%2").arg(m_path).arg(n); };
    if (m_files == 1) {
        QFile::remove(m_path);
        return;
    }
    QFile::remove(numbered(m_files - 1));
    for (int n = m_files - 2; n >= 1; --n)
        QFile::rename(numbered(n), numbered(n + 1));
    QFile::rename(m_path, numbered(1));
}
