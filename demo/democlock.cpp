// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/democlock.h"

DemoClock DemoClock::choose(const GeoPosition &home, const QDateTime &nowUtc, std::optional<double> rate,
                            passes::Body body)
{
    const double risen = body == passes::Body::Sun ? sunRisenElevation : risenElevation;
    DemoClock clock;
    const QDateTime now = nowUtc.toUTC();
    // Whole seconds: the tracking file and the simulator show them.
    const QDateTime second = now.addMSecs(-now.time().msec());
    const bool up = passes::elevation(body, home, second) > risen;
    const std::optional<QDateTime> rises = up ? std::nullopt : passes::nextCrossing(body, home, second, true, 48, risen);
    if (rises) {
        clock.startUtc = *rises;
        clock.rate = rate.value_or(body == passes::Body::Sun ? 1.0 : defaultRate);
    } else if (rate && *rate != 1.0) {
        // Up already, or not up within two days (near a pole): the present, faster.
        clock.startUtc = second;
        clock.rate = *rate;
    }
    return clock;
}

QString DemoClock::describe(double rate, const QDateTime &utc)
{
    return QStringLiteral("simulated time, %1×, %2 UTC")
        .arg(QString::number(rate, 'g', 4), utc.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm")));
}
