// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ephemeris/locator.h"

#include <QDateTime>

#include <optional>

// When a body rises and sets, and when two stations both see it: searched
// forward from a time in steps, each crossing then narrowed to a second.
namespace passes {

enum class Body { Moon, Sun };

// The body's elevation at the place and time, geometric, in degrees.
double elevation(Body body, const GeoPosition &place, const QDateTime &utc);

struct Window {
    QDateTime start;  // invalid when it is already under way at the search's start
    QDateTime end;    // invalid when it has not ended within the search
};

// The next time from 'from' on (within 'hours') that the elevation crosses
// the horizon (or the given elevation above it) upward (rising) or downward.
std::optional<QDateTime> nextCrossing(Body body, const GeoPosition &place, const QDateTime &from, bool rising,
                                      int hours = 48, double elevationDeg = 0.0);

// The current or next period when the body is above the horizon at both
// places; nothing when there is none within 'hours'.
std::optional<Window> nextCommonWindow(Body body, const GeoPosition &home, const GeoPosition &dx,
                                       const QDateTime &from, int hours = 48);

} // namespace passes
