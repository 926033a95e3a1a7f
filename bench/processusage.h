// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What another process costs, read from outside through /proc: CPU time and
// wake-ups per thread, and resident memory.

#include <QDir>
#include <QFile>
#include <QString>

#include <map>

namespace bench {

// CPU time and context switches of one thread (or, for the process, of all).
// A voluntary switch is the thread going to sleep, so each one is followed by
// a wake-up; the others are preemptions by a loaded machine.
struct Usage {
    double cpuSeconds = 0;
    qint64 wakeups = 0;
    qint64 preemptions = 0;
};

inline Usage readTask(const QString &dir)
{
    Usage usage;
    // Time on the CPU in nanoseconds (stat's clock ticks are 10 ms coarse).
    QFile schedstat(dir + QStringLiteral("/schedstat"));
    if (schedstat.open(QIODevice::ReadOnly))
        usage.cpuSeconds = schedstat.readAll().split(' ').value(0).toDouble() / 1e9;
    QFile status(dir + QStringLiteral("/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            const qint64 count = line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
            if (line.startsWith("voluntary_ctxt_switches:"))
                usage.wakeups = count;
            else if (line.startsWith("nonvoluntary_ctxt_switches:"))
                usage.preemptions = count;
        }
    }
    return usage;
}

inline QString threadName(const QString &dir)
{
    QFile comm(dir + QStringLiteral("/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : QString();
}

// Per thread, keyed by thread id.
inline std::map<QString, Usage> readThreads(qint64 pid)
{
    std::map<QString, Usage> threads;
    const QString base = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        threads[tid] = readTask(base + QLatin1Char('/') + tid);
    return threads;
}

// The CPU seconds all of the process's threads spent between two readings.
inline double cpuSecondsBetween(const std::map<QString, Usage> &before, const std::map<QString, Usage> &after)
{
    double seconds = 0;
    for (const auto &[tid, usage] : after) {
        const auto was = before.find(tid);
        seconds += usage.cpuSeconds - (was == before.end() ? 0.0 : was->second.cpuSeconds);
    }
    return seconds;
}

inline qint64 residentBytesOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

} // namespace bench
