// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/networksettings.h"
#include "station/stationhealth.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <climits>
#include <functional>
#include <optional>

enum class StationPort { A, B };

// The station's settings of store.cfg as the core uses them.
struct StationTimes {
    quint32 repetitionTime = 1;   // seconds
    quint32 messageDelay = 0;     // milliseconds
};

// Message delay (readout interval) in milliseconds as the timers use it.
inline int messageDelayMs(quint32 ms)
{
    return int(qMin<quint32>(ms, quint32(INT_MAX)));
}

// Repetition time in seconds as the timers use it: 0 counts as 1 s.
inline int repetitionMs(quint32 seconds)
{
    const quint32 s = qBound<quint32>(1u, seconds, quint32(INT_MAX / 1000));
    return int(s * 1000u);
}

// How far the clock is past a file's time of day, in milliseconds: a file
// written before midnight and read after it is behind, not ahead.
inline qint64 msBehind(const QTime &fileTime, const QTime &clock)
{
    qint64 behind = fileTime.msecsTo(clock);
    if (behind < -12 * 3600 * 1000LL)
        behind += 24 * 3600 * 1000LL;
    return behind;
}

// What the station's parts share, kept once: the log, the alarms, the times,
// the daemon settings, debug mode and the clock of the sky.
class StationContext
{
public:
    using Log = std::function<void(const QString &)>;
    explicit StationContext(Log log)
        : health(log)
        , m_log(std::move(log))
    {
    }
    void log(const QString &text) const { m_log(text); }
    // Said only in debug mode.
    void debug(const QString &text) const
    {
        if (debugMode)
            m_log(text);
    }
    // Kept in network.cfg when it changed.
    void setNetwork(const NetworkSettings &settings)
    {
        if (settings == network)
            return;
        network = settings;
        network.write();
    }
    QDateTime now() const { return clock ? clock() : QDateTime::currentDateTimeUtc(); }

    StationHealth health;
    StationTimes times;
    NetworkSettings network;
    bool debugMode = false;
    std::function<QDateTime()> clock;

private:
    Log m_log;
};
