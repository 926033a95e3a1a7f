// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ephemeris/locator.h"
#include "ephemeris/passes.h"
#include "startup/commandline.h"

#include <QDateTime>
#include <QString>

#include <optional>

// The clock the demo runs on, chosen so that it shows the Moon up: while the
// Moon is up at the station it is the real time; while it is down, a
// simulated clock that starts once the Moon has risen and runs fast enough
// for the Moon, the antenna and the Doppler to move visibly.
struct DemoClock {
    static constexpr double defaultRate = startup::defaultDemoRate;
    // Where "risen" starts: clear of the horizon on the sky plot, and within
    // the rotator's elevation travel.
    static constexpr double risenElevation = 2.0;
    // The Sun for a calibration: high enough that a cut five beamwidths
    // below it stays over the horizon, low enough for a winter's noon at
    // 50 degrees north (16.6 degrees).
    static constexpr double sunRisenElevation = 10.0;

    QDateTime startUtc;  // invalid: the real time
    double rate = 1.0;

    bool isSimulated() const { return startUtc.isValid(); }

    // rate: how fast a simulated clock runs (defaultRate when not given); a
    // rate given other than 1 also runs the Moon that is up faster, from now.
    // On the Sun the clock runs at the real speed unless a rate is given: a
    // calibration's levels are heard over minutes, and a faster Sun would
    // move under the beam while they are.
    static DemoClock choose(const GeoPosition &home, const QDateTime &nowUtc, std::optional<double> rate,
                            passes::Body body = passes::Body::Moon);

    // "simulated time, 10×, 2026-12-07 22:14 UTC" for the clock reading utc.
    static QString describe(double rate, const QDateTime &utc);
};
