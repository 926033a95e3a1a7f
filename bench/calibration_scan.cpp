// SPDX-License-Identifier: GPL-3.0-or-later
// Cross-scans on the simulated station. Prints:
//   - the offset a cross-scan finds against the simulated receiver's hidden
//     one, over 50 random hidden offsets (up to 1.5 degrees either way on
//     each axis, the target 10 to 70 degrees up, a 2 degree beam, 1 %
//     scatter on each level), worst and RMS of the distance between them,
//     at the operator's scan (26 points a cut, three cuts, 2 s of levels at
//     10 a second at each point), the antenna put at each point at once;
//   - how long one such cross-scan takes on the window-free station at the
//     operator's settings, the simulated controller on a pty slewing as a
//     common az/el rotator does (6 deg/s in azimuth, 2.7 in elevation), and
//     the offset it found.
//
//   bench_calibration [--quick]     --quick: 5 offsets, and a short scan on the station

#include "benchreport.h"
#include "fixedsource.h"

#include "calibration/calibrationrun.h"
#include "calibration/crossscan.h"
#include "sim/simreceiver.h"
#include "sim/simrotator.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cmath>
#include <random>

namespace {

constexpr double limitDeg = 0.05;

double scanError(std::mt19937 &random)
{
    std::uniform_real_distribution<double> offset(-1.5, 1.5), elevation(10, 70);
    const Direction hidden {offset(random), offset(random)};
    const Direction target {180, elevation(random)};
    SimReceiver receiver({}, {}, SimReceiver::Sky(), quint32(random()));
    receiver.setHiddenOffset(hidden);
    CrossScan scan(CrossScan::Settings {});
    while (!scan.finished()) {
        for (int i = 0; i < scan.points(); ++i) {
            const Direction aim = scan.aim(i, target.elevation);
            for (int level = 0; level < 20; ++level)
                scan.add(aim, target.elevation,
                         receiver.sample({target.azimuth + aim.azimuth, target.elevation + aim.elevation}, target));
        }
        if (!scan.endCut())
            return 90;  // counted as the worst there can be
    }
    return std::hypot(scan.correction().azimuth + hidden.azimuth, scan.correction().elevation + hidden.elevation);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));

    std::mt19937 random(2026);
    const int runs = quick ? 5 : 50;
    double worst = 0, squares = 0;
    for (int i = 0; i < runs; ++i) {
        const double error = scanError(random);
        worst = std::max(worst, error);
        squares += error * error;
    }
    bench::row(QStringLiteral("cross-scan offset error, %1 hidden offsets up to 1.5 deg, 2 deg beam").arg(runs),
               QStringLiteral("worst %1 deg, RMS %2 deg")
                   .arg(worst, 0, 'f', 3)
                   .arg(std::sqrt(squares / runs), 0, 'f', 3),
               QStringLiteral("bound %1 deg").arg(limitDeg));

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const Direction sun {180, 35};
    const Direction hidden {0.8, -0.5};
    TrackingRecord still;
    still.azimuth = sun.azimuth;
    still.elevation = sun.elevation;
    TrackingControl station;
    station.setTimes(2, 200);  // the store's defaults
    station.setTrackingSource(std::make_unique<FixedSource>(&still));
    station.setTarget(TrackingTarget::Sun);
    SimRotator rotator;
    rotator.setLimits();
    rotator.setPresentPosition(sun.azimuth, sun.elevation);
    rotator.setSlewRates(6, 2.7);
    SimReceiver receiver([&] { return std::optional<Direction>({rotator.presentAzimuth(), rotator.presentElevation()}); },
                         [&] { return std::optional<Direction>(sun); }, SimReceiver::Sky());
    receiver.setHiddenOffset(hidden);
    station.setAuto(StationPort::A, true);
    station.open(StationPort::A, rotator.slavePath(), {}, false);
    bench::waitUntil([&] { return station.pointing().commandedElevation.has_value(); }, 10000);

    CalibrationRun::Settings settings;
    settings.slewDegPerSecond = 2.7;  // the slower axis
    if (quick) {
        settings.scan.stepBeams = 0.625;  // 9 points, the fewest a fit takes with room
        settings.scan.cuts = 1;
        settings.dwellSeconds = 0.5;
    }
    const double pointSeconds = settings.settleSeconds + settings.dwellSeconds;
    CalibrationRun run(station, receiver, settings);
    QElapsedTimer clock;
    clock.start();
    run.start();
    bench::waitUntil([&] { return !run.isRunning(); }, 30 * 60 * 1000);
    const double seconds = clock.elapsed() / 1000.0;
    const Direction found = run.scan().correction();
    bench::row(QStringLiteral("one cross-scan on the station, rotator 6 and 2.7 deg/s"),
               run.succeeded()
                   ? QStringLiteral("%1 s, %2 points; offset found %3/%4 deg, the hidden one taken off %5/%6")
                         .arg(seconds, 0, 'f', 0)
                         .arg(settings.scan.cuts * run.scan().points())
                         .arg(found.azimuth, 0, 'f', 2)
                         .arg(found.elevation, 0, 'f', 2)
                         .arg(-hidden.azimuth, 0, 'f', 2)
                         .arg(-hidden.elevation, 0, 'f', 2)
                   : QStringLiteral("failed after %1 s: %2").arg(seconds, 0, 'f', 0).arg(run.failure()),
               QStringLiteral("%1 s of settling and levels alone")
                   .arg(settings.scan.cuts * run.scan().points() * pointSeconds, 0, 'f', 0));
    station.closeAll();
    return 0;
}
