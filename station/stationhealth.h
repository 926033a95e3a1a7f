// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <array>
#include <functional>

// What can go wrong at the station while it runs unattended. Each alarm is
// said once when it begins and once when it ends, never once per cycle.
enum class Alarm {
    RotatorSilent,
    RotatorRefused,
    RadioSilent,
    DataStale,
    BelowHorizon,
    RotatorUnreachable,  // a daemon that cannot be reached, or not kept
    RadioUnreachable,
    RadioNotFollowing,   // answers, but its frequency stays where it was
    BandMismatch,        // the shifts are for another band than the radio's
    SkedOutOfRange,      // the method's frequency is one the radio cannot take
    RotatorLimitsUnknown, // positions held back until the rotator's range is known
    WsjtxSilent,          // followed, and nothing heard from WSJT-X for a while
    KeyReleased,          // the station unkeyed the radio itself: its keyer gone, or keyed too long
    RadioRangesUnknown    // no frequency sent: the radio's daemon never said where it tunes
};
inline constexpr int alarmCount = 14;

class StationHealth
{
public:
    using Log = std::function<void(const QString &)>;
    explicit StationHealth(Log log) : m_log(std::move(log)) {}

    // Raises the alarm with the text that says why; the text is logged only
    // when the alarm begins. Returns true when that changed anything shown.
    bool raise(Alarm alarm, const QString &why);
    // Ends the alarm; said unless the device went away (its loss is said instead).
    bool clear(Alarm alarm, bool say = true);
    void clearAll();
    bool active(Alarm alarm) const { return m_active[int(alarm)]; }
    QString why(Alarm alarm) const { return m_why[int(alarm)]; }

    // One error that may come every cycle (a refusal, a bad file): said the
    // first time; repeats are counted and summed up when the streak ends.
    enum class Source { Rotator, Radio, Tuning, Data };
    void error(Source source, const QString &text);
    void success(Source source);

private:
    // The errors said since the source last worked, with how often each came.
    using Streak = QList<QPair<QString, int>>;
    void endStreak(Streak &streak);

    Log m_log;
    std::array<bool, alarmCount> m_active {};
    std::array<QString, alarmCount> m_why;
    std::array<Streak, 4> m_streaks;
};
