// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QRandomGenerator>
#include <QString>

#include <deque>

// The station's last few hundred messages, each with its time and its number
// in this run, so that a view connecting late (the web page, an attached
// window) starts with what was said before it came.
class LogHistory
{
public:
    struct Entry {
        quint64 number = 0;  // from 1, rising through the run
        QDateTime time;
        QString text;
    };
    static constexpr std::size_t defaultLines = 200;

    explicit LogHistory(std::size_t lines = defaultLines)
        : m_lines(lines)
    {
    }
    const Entry &append(const QString &text, const QDateTime &time = QDateTime::currentDateTimeUtc())
    {
        m_entries.push_back({++m_number, time, text});
        if (m_entries.size() > m_lines)
            m_entries.pop_front();
        return m_entries.back();
    }
    const std::deque<Entry> &entries() const { return m_entries; }
    // Tells this run's numbers from another's: a view that reconnects to a
    // restarted station starts its count again.
    quint64 run() const { return m_run; }

private:
    std::size_t m_lines;
    quint64 m_run = QRandomGenerator::global()->generate64();
    quint64 m_number = 0;
    std::deque<Entry> m_entries;
};
