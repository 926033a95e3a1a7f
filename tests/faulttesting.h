// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a fault may cost the running program, measured from inside it: how
// late its event loop runs, its CPU time and its resident memory.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace faulttesting {

inline double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline qint64 residentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return qint64(resident) * sysconf(_SC_PAGESIZE);
}

// Nanoseconds this thread has spent ready to run but waiting for a core.
inline qint64 runQueueWaitNs()
{
    long long running = 0;
    long long waiting = 0;
    if (FILE *stat = std::fopen("/proc/thread-self/schedstat", "r")) {
        if (std::fscanf(stat, "%lld %lld", &running, &waiting) != 2)
            waiting = 0;
        std::fclose(stat);
    }
    return waiting;
}

// Ticks on the thread it lives in and keeps the longest delay of a tick past
// its due time: how long the event loop was kept from running. Time spent
// waiting for a core of a busy machine is not the program's doing and is
// left out; time spent working or blocked is counted.
class LagProbe : public QObject
{
public:
    static constexpr int intervalMs = 10;

    explicit LagProbe(QObject *parent = nullptr)
        : QObject(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
        m_timer.start(intervalMs);
        reset();
    }
    void reset()
    {
        m_clock.start();
        m_last = 0;
        m_lastWaitNs = runQueueWaitNs();
        m_maxLagMs = 0;
    }
    qint64 maxLagMs() const { return m_maxLagMs; }

private:
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        const qint64 waitNs = runQueueWaitNs();
        const qint64 waitedMs = (waitNs - m_lastWaitNs) / 1'000'000;
        m_maxLagMs = std::max(m_maxLagMs, now - m_last - intervalMs - waitedMs);
        m_last = now;
        m_lastWaitNs = waitNs;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastWaitNs = 0;
    qint64 m_maxLagMs = 0;
};

// CPU share (CPU seconds per wall second) and resident growth since start().
class Meter
{
public:
    Meter() { start(); }
    void start()
    {
        m_wall.start();
        m_cpu = cpuSeconds();
        m_resident = residentBytes();
    }
    double cpuShare() const
    {
        const qint64 ms = std::max<qint64>(1, m_wall.elapsed());
        return (cpuSeconds() - m_cpu) * 1000.0 / double(ms);
    }
    double growthMb() const { return double(residentBytes() - m_resident) / (1024.0 * 1024.0); }

private:
    QElapsedTimer m_wall;
    double m_cpu = 0;
    qint64 m_resident = 0;
};

// Line noise that never holds an "O", so neither "OK" nor "ERROR/LIMIT" can
// appear in it by chance.
inline QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char &c : bytes) {
        c = char(random.bounded(256));
        if (c == 'O')
            c = 'o';
    }
    return bytes;
}

// The frequency the radio must be left on: the working frequency plus the
// shift, truncated to hertz, rounded to the frame's 10 Hz.
inline quint32 dopplerRuleHz(double workingMhz, double shift)
{
    const auto hz = quint32(std::trunc(workingMhz * 1e6 + shift));
    return (hz + 5) / 10 * 10;
}

// "&* AZ=123.46" and nothing else on the rotator line.
inline bool wellFormedRotatorCommand(const QString &line)
{
    static const QRegularExpression command(QStringLiteral("^&\\* (AZ|EL)=-?[0-9]{2,}\\.[0-9]{2}$"));
    return command.match(line).hasMatch();
}

// Root passes every permission check, so a file made unreadable would still
// be read. While one of these lives, the calling thread (and the threads it
// starts) is refused what the file modes refuse, as an operator would be.
class PermissionChecks
{
public:
    PermissionChecks()
    {
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_active = syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~PermissionChecks()
    {
        if (m_active)
            syscall(SYS_capset, &m_header, m_saved);
    }
    PermissionChecks(const PermissionChecks &) = delete;
    PermissionChecks &operator=(const PermissionChecks &) = delete;

private:
    __user_cap_header_struct m_header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] {};
    bool m_active = false;
};

} // namespace faulttesting
