// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/minutetrack.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

constexpr double stepSeconds = 60;
constexpr int points = 17;  // a minute back, a quarter of an hour on

} // namespace

void MinuteTrack::refresh(const QDateTime &now, const Ahead &ahead)
{
    if (!ahead || !now.isValid()) {
        m_points.clear();
        return;
    }
    // On whole minutes, so that the points still ahead are kept and one new one is computed.
    const qint64 step = qint64(stepSeconds * 1000);
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const qint64 from = nowMs - ((nowMs % step) + step) % step;
    const qint64 kept = m_points.empty() || !m_from.isValid() ? 0 : m_from.toMSecsSinceEpoch();
    if (!m_points.empty() && kept == from)
        return;
    if (kept && kept < from && (from - kept) / step < qint64(m_points.size()))
        m_points.erase(m_points.begin(), m_points.begin() + (from - kept) / step);
    else
        m_points.clear();
    m_from = QDateTime::fromMSecsSinceEpoch(from, QTimeZone::utc());
    while (m_points.size() < size_t(points)) {
        const qint64 at = from + (qint64(m_points.size()) - 1) * step;
        const auto d = ahead((at - nowMs) / 1000.0);
        if (!d) {
            m_points.clear();
            return;
        }
        Direction point = *d;
        if (!m_points.empty())
            point.azimuth = m_points.back().azimuth + wrap180(d->azimuth - m_points.back().azimuth);
        m_points.push_back(point);
    }
}

std::optional<Direction> MinuteTrack::at(const QDateTime &now, double seconds) const
{
    if (m_points.size() < 4)
        return std::nullopt;
    const double x = (m_from.msecsTo(now) / 1000.0 + seconds) / stepSeconds + 1;
    const int i = std::clamp(int(std::floor(x)), 1, int(m_points.size()) - 3);
    const double t = x - i;
    const auto spline = [&](double Direction::*axis) {
        const double p0 = m_points[size_t(i - 1)].*axis, p1 = m_points[size_t(i)].*axis;
        const double p2 = m_points[size_t(i + 1)].*axis, p3 = m_points[size_t(i + 2)].*axis;
        return 0.5 * (2 * p1 + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t
                      + (-p0 + 3 * p1 - 3 * p2 + p3) * t * t * t);
    };
    return Direction {spline(&Direction::azimuth), spline(&Direction::elevation)};
}
