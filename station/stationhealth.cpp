// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/stationhealth.h"

namespace {

QString endText(Alarm alarm)
{
    switch (alarm) {
    case Alarm::RotatorSilent:
        return QStringLiteral("rotator answering again");
    case Alarm::RotatorRefused:
        return QStringLiteral("rotator accepting positions again");
    case Alarm::RadioSilent:
        return QStringLiteral("radio answering again");
    case Alarm::DataStale:
        return QStringLiteral("tracking data up to date again");
    case Alarm::BelowHorizon:
        return QStringLiteral("target above the horizon");
    case Alarm::RotatorUnreachable:
        return QStringLiteral("rotator reached again");
    case Alarm::RadioUnreachable:
        return QStringLiteral("radio reached again");
    case Alarm::RadioNotFollowing:
        return QStringLiteral("radio following again");
    case Alarm::BandMismatch:
        return QStringLiteral("tracking data and radio on the same band again");
    case Alarm::SkedOutOfRange:
        return QStringLiteral("sked frequency within the radio's range again");
    case Alarm::RotatorLimitsUnknown:
        return QStringLiteral("rotator's limits known");
    case Alarm::WsjtxSilent:
        return QStringLiteral("WSJT-X heard again");
    case Alarm::KeyReleased:
        return QStringLiteral("radio keyed again");
    case Alarm::RadioRangesUnknown:
        return QStringLiteral("radio's ranges known");
    }
    return {};
}

} // namespace

bool StationHealth::raise(Alarm alarm, const QString &why)
{
    const int index = int(alarm);
    if (m_active[index])
        return false;
    m_active[index] = true;
    m_why[index] = why;
    m_log(why);
    return true;
}

bool StationHealth::clear(Alarm alarm, bool say)
{
    const int index = int(alarm);
    if (!m_active[index])
        return false;
    m_active[index] = false;
    m_why[index].clear();
    if (say)
        m_log(endText(alarm));
    return true;
}

void StationHealth::clearAll()
{
    m_active.fill(false);
    for (QString &why : m_why)
        why.clear();
}

void StationHealth::error(Source source, const QString &text)
{
    Streak &streak = m_streaks[int(source)];
    for (auto &[said, count] : streak) {
        if (said == text) {
            ++count;
            return;
        }
    }
    if (streak.size() < 32)  // bounded: a flood of different texts is simply said
        streak.append({text, 1});
    m_log(text);
}

void StationHealth::success(Source source)
{
    endStreak(m_streaks[int(source)]);
}

void StationHealth::endStreak(Streak &streak)
{
    for (const auto &[text, count] : std::as_const(streak))
        if (count > 1)
            m_log(QStringLiteral("%1 (repeated %2 times)").arg(text).arg(count));
    streak.clear();
}
