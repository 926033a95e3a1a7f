// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/precisetimer.h"

#include <QSocketNotifier>

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

PreciseTimer::PreciseTimer(QObject *parent)
    : QObject(parent)
{
    m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PreciseTimer::expired);
}

PreciseTimer::~PreciseTimer()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void PreciseTimer::startIn(qint64 nanoseconds)
{
    if (m_fd < 0)
        return;
    // A zero it_value would disarm the timer; the smallest delay fires at once.
    const qint64 ns = qMax<qint64>(1, nanoseconds);
    itimerspec timing {};
    timing.it_value.tv_sec = time_t(ns / 1'000'000'000);
    timing.it_value.tv_nsec = long(ns % 1'000'000'000);
    ::timerfd_settime(m_fd, 0, &timing, nullptr);
}

void PreciseTimer::stop()
{
    if (m_fd < 0)
        return;
    itimerspec timing {};
    ::timerfd_settime(m_fd, 0, &timing, nullptr);
}

void PreciseTimer::expired()
{
    std::uint64_t expirations = 0;
    if (::read(m_fd, &expirations, sizeof expirations) != sizeof expirations)
        return;  // disarmed or re-armed since it became readable
    emit timeout();
}
