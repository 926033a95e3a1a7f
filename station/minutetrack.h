// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/direction.h"

#include <QDateTime>

#include <functional>
#include <optional>
#include <vector>

// The target's path from a minute back to a quarter of an hour on, at
// one-minute points taken on whole minutes: the sky is costly to compute and
// its curve smooth, so each minute computes one new point and the rest is
// interpolated.
class MinuteTrack
{
public:
    using Ahead = std::function<std::optional<Direction>(double seconds)>;
    // Brought to now; emptied where the source cannot look ahead.
    void refresh(const QDateTime &now, const Ahead &ahead);
    void clear() { m_points.clear(); }
    // The target (azimuth unwrapped) this many seconds after now.
    std::optional<Direction> at(const QDateTime &now, double seconds) const;

private:
    std::vector<Direction> m_points;
    QDateTime m_from;  // the time of the second point
};
