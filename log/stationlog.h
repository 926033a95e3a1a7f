// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "log/filelog.h"
#include "log/loghistory.h"

#include <QObject>

// Where every message of the station goes: to the views (by signal), to the
// last few hundred kept for a view that connects late, and to vestrel.log.
class StationLog : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    void say(const QString &text)
    {
        const LogHistory::Entry &said = m_recent.append(text);
        emit message(text);
        if (m_file.write(text, said.time) || m_fileFailed)
            return;
        // Said once; the views go on, and the file is tried again with each message.
        m_fileFailed = true;
        const QString failed = QStringLiteral("log file %1 cannot be written: %2").arg(m_file.path(), m_file.errorString());
        m_recent.append(failed);
        emit message(failed);
        emit fileFailed();
    }
    QString path() const { return m_file.path(); }
    // The newest is the one message() reports as it is emitted.
    const LogHistory &recent() const { return m_recent; }

signals:
    void message(const QString &text);
    void fileFailed();

private:
    FileLog m_file;
    bool m_fileFailed = false;
    LogHistory m_recent;
};
