// SPDX-License-Identifier: GPL-3.0-or-later
#include "ephemeris/passes.h"

#include "ephemeris/ephemeris.h"

#include <functional>

namespace passes {

namespace {

constexpr qint64 stepSeconds = 600;  // the Moon moves about 2.5 degrees in elevation at most

// Narrows a change of 'above' between a and b to a second.
QDateTime narrow(const std::function<bool(const QDateTime &)> &above, QDateTime a, QDateTime b)
{
    const bool startAbove = above(a);
    while (a.secsTo(b) > 1) {
        const QDateTime middle = a.addSecs(a.secsTo(b) / 2);
        (above(middle) == startAbove ? a : b) = middle;
    }
    return b;
}

// The first change of 'above' to 'wanted' after from, within hours.
std::optional<QDateTime> nextChange(const std::function<bool(const QDateTime &)> &above, const QDateTime &from,
                                    bool wanted, int hours)
{
    QDateTime previous = from;
    bool previousAbove = above(from);
    for (qint64 t = stepSeconds; t <= qint64(hours) * 3600; t += stepSeconds) {
        const QDateTime next = from.addSecs(t);
        const bool nextAbove = above(next);
        if (nextAbove == wanted && previousAbove != wanted)
            return narrow(above, previous, next);
        previous = next;
        previousAbove = nextAbove;
    }
    return std::nullopt;
}

} // namespace

double elevation(Body body, const GeoPosition &place, const QDateTime &utc)
{
    const SkySnapshot sky = computeSky(place, place, 0.0, utc);
    return body == Body::Moon ? sky.moonElevation : sky.sunElevation;
}

std::optional<QDateTime> nextCrossing(Body body, const GeoPosition &place, const QDateTime &from, bool rising,
                                      int hours, double elevationDeg)
{
    const auto above = [&](const QDateTime &t) { return elevation(body, place, t) > elevationDeg; };
    return nextChange(above, from, rising, hours);
}

std::optional<Window> nextCommonWindow(Body body, const GeoPosition &home, const GeoPosition &dx, const QDateTime &from,
                                       int hours)
{
    const auto both = [&](const QDateTime &t) {
        return elevation(body, home, t) > 0.0 && elevation(body, dx, t) > 0.0;
    };
    Window window;
    if (!both(from)) {
        const auto start = nextChange(both, from, true, hours);
        if (!start)
            return std::nullopt;
        window.start = *start;
    }
    const QDateTime searchFrom = window.start.isValid() ? window.start : from;
    if (const auto end = nextChange(both, searchFrom, false, hours))
        window.end = *end;
    return window;
}

} // namespace passes
