// SPDX-License-Identifier: GPL-3.0-or-later
// A year of Moon passes through the rotator planner: at four latitudes, on
// a 0..450 degree az/el rotator and on a 0..360 one that goes over the top,
// both with a horizon mask and the lead on. The planner, the tracking
// cycle's dead band and one-axis-per-repetition rule (RotatorSteering) and a
// rotator that slews at its axis speeds run at the default repetition (2 s);
// the sky is computed every 10 minutes and interpolated between. Prints:
//   - unwinds in the middle of a pass that one wrap chosen at the rise would
//     have avoided (and those no choice avoids, beside them);
//   - commands beyond the stops or below the mask;
//   - the pointing error over whole passes, worst and RMS, against today's
//     commands (the target as it is, no lead) on the same rotator model;
//   - the longest plan() around a rise with the Moon computed for the pass
//     ahead, as the tracking cycle does it: the event loop is held that long.
//
//   bench_pointing [--quick]     all latitudes, two at a time
//   bench_pointing --latitude L [--days D] [--quick]
//
// --quick: 20 days at 52 degrees only, to see that it runs.
// BENCH_DEBUG=1 says, on stderr, the avoidable unwinds and where and when the
// worst pointing error of each rotator was: the target, its rates, the
// antenna, the rotator model's axes and what was sent.

#include "benchreport.h"

#include "ephemeris/ephemeris.h"
#include "station/pointingplanner.h"
#include "station/rotatorsteering.h"

#include <QCoreApplication>
#include <QProcess>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace bench;

namespace {

constexpr int gridSeconds = 600;
constexpr int repetition = 2;
constexpr double band = 0.1;  // the store's default dead band, both axes
constexpr double acquisitionSeconds = 300;  // after each rise: the antenna swings in, not tracking yet
const QDateTime yearStart(QDate(2027, 1, 1), QTime(0, 0), Qt::UTC);

double radians(double degrees)
{
    return degrees * M_PI / 180.0;
}

double wrap360(double degrees)
{
    const double a = std::fmod(degrees, 360.0);
    return a < 0 ? a + 360.0 : a;
}

// Great-circle angle between two directions, degrees.
double separation(double az1, double el1, double az2, double el2)
{
    const double a = std::sin(radians(el2 - el1) / 2);
    const double b = std::sin(radians(az2 - az1) / 2);
    const double h = a * a + std::cos(radians(el1)) * std::cos(radians(el2)) * b * b;
    return 2.0 * std::asin(std::min(1.0, std::sqrt(h))) * 180.0 / M_PI;
}

// The Moon every 10 minutes, its azimuth unwrapped; Catmull-Rom between.
class Sky
{
public:
    void compute(double latitude, int days)
    {
        const GeoPosition home {latitude, 0.0};
        const int count = days * 86400 / gridSeconds + 4;
        m_az.reserve(size_t(count));
        m_el.reserve(size_t(count));
        double previous = 0;
        for (int i = 0; i < count; ++i) {
            const SkySnapshot s = computeSky(home, home, 432.065, yearStart.addSecs(qint64(i - 1) * gridSeconds));
            const double az = i == 0 ? s.moonAzimuth : previous + std::remainder(s.moonAzimuth - previous, 360.0);
            m_az.push_back(az);
            m_el.push_back(s.moonElevation);
            previous = az;
        }
    }
    // Seconds from the year's start; the azimuth unwrapped.
    Direction at(double seconds) const
    {
        const double x = seconds / gridSeconds + 1;
        const int i = std::clamp(int(x), 1, int(m_az.size()) - 3);
        const double t = x - i;
        const auto spline = [i, t](const std::vector<double> &v) {
            const double p0 = v[size_t(i - 1)], p1 = v[size_t(i)], p2 = v[size_t(i + 1)], p3 = v[size_t(i + 2)];
            return 0.5 * (2 * p1 + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t
                          + (-p0 + 3 * p1 - 3 * p2 + p3) * t * t * t);
        };
        return {spline(m_az), spline(m_el)};
    }

private:
    std::vector<double> m_az, m_el;
};

// One axis of the rotator: a straight run at its speed toward the last command.
struct Axis {
    double from = 0, target = 0, start = 0, speed = 1;
    double at(double t) const
    {
        const double travelled = speed * (t - start);
        const double distance = target - from;
        return std::fabs(distance) <= travelled ? target : from + std::copysign(travelled, distance);
    }
    void command(double position, double t)
    {
        from = at(t);
        target = position;
        start = t;
    }
};

struct Figures {
    int passes = 0;
    int avoidable = 0;    // unwinds one choice at the rise would have avoided
    int unavoidable = 0;
    int unholdable = 0;   // passes no one wrap holds: their errors are left out
    long commands = 0;
    long outside = 0;     // beyond the stops or below the mask
    double sumSquares = 0;
    long samples = 0;
    double worst = 0;
    double worstElevation = 0;  // where the worst was
    double worstBelow80 = 0;    // the worst with the target below 80 degrees
    QString worstWhere;         // the worst's circumstances, for BENCH_DEBUG
    void add(double error, double elevation, const std::function<QString()> &where = {})
    {
        sumSquares += error * error;
        ++samples;
        if (error > worst) {
            worst = error;
            worstElevation = elevation;
            if (where)
                worstWhere = where();
        }
        if (elevation < 80)
            worstBelow80 = std::max(worstBelow80, error);
    }
    double rms() const { return samples ? std::sqrt(sumSquares / double(samples)) : 0.0; }
    void merge(const Figures &o)
    {
        passes += o.passes;
        avoidable += o.avoidable;
        unavoidable += o.unavoidable;
        unholdable += o.unholdable;
        commands += o.commands;
        outside += o.outside;
        sumSquares += o.sumSquares;
        samples += o.samples;
        if (o.worst > worst) {
            worst = o.worst;
            worstElevation = o.worstElevation;
        }
        worstBelow80 = std::max(worstBelow80, o.worstBelow80);
    }
};

RotatorGeometry geometryFor(bool overTheTop, bool planned)
{
    RotatorGeometry g;
    g.azimuthRange = overTheTop ? RotatorGeometry::AzimuthRange::From0To360 : RotatorGeometry::AzimuthRange::From0To450;
    g.elevationRange = overTheTop ? RotatorGeometry::ElevationRange::From0To180
                                  : RotatorGeometry::ElevationRange::From0To90;
    g.horizonMask = *RotatorGeometry::parseMask(QStringLiteral("0:3 90:6 180:2 270:8"));
    g.lead = planned;
    return g;
}

// Does one turn (and side) hold the whole pass? Then an unwind was avoidable.
bool oneWrapHolds(const std::vector<Direction> &track, const RotatorGeometry &g)
{
    const bool overTheTop = g.elevationRange == RotatorGeometry::ElevationRange::From0To180;
    for (bool flipped : {false, true}) {
        if (flipped && !overTheTop)
            continue;
        const double base = wrap360(track.front().azimuth + (flipped ? 180 : 0));
        for (int k = -2; k <= 2; ++k) {
            bool holds = true;
            for (const Direction &d : track) {
                const double az = base + 360.0 * k + (d.azimuth - track.front().azimuth);
                const double el = flipped ? 180 - d.elevation : d.elevation;
                if (az < g.minAzimuth() || az > g.maxAzimuth() || el < 0 || el > g.maxElevation()) {
                    holds = false;
                    break;
                }
            }
            if (holds)
                return true;
        }
    }
    return false;
}

// The year on one rotator. planned: today's target as it is (false) or the planner's lead.
Figures runYear(const Sky &sky, int days, bool overTheTop, bool planned)
{
    Figures f;
    const RotatorGeometry g = geometryFor(overTheTop, planned);
    PointingPlanner planner;
    planner.setGeometry(g);
    RotatorSteering steering;
    Axis az {0, 0, 0, g.azimuthSpeed};
    Axis el {0, 0, 0, g.elevationSpeed};
    const Direction first = sky.at(0);
    az.from = az.target = wrap360(first.azimuth);
    el.from = el.target = std::max(0.0, first.elevation);
    const auto reachable = [&g](const Direction &d) { return d.elevation >= g.maskElevation(wrap360(d.azimuth)); };

    std::optional<double> sentAz, sentEl;
    bool up = false;
    double rose = 0;
    int unwindsAtRise = 0;
    std::vector<Direction> track;
    // A pass's errors count where one wrap holds it: a pass that turns
    // further than the stops (round the pole, at 70 degrees) has an unwind
    // whatever the planner does, and the antenna is minutes off while it runs.
    Figures pass;
    const auto passEnded = [&] {
        const int unwinds = planner.unwinds() - unwindsAtRise;
        if (track.size() > 10) {
            ++f.passes;
            const bool holds = oneWrapHolds(track, g);
            (holds ? f.avoidable : f.unavoidable) += unwinds;
            if (holds) {
                f.sumSquares += pass.sumSquares;
                f.samples += pass.samples;
                if (pass.worst > f.worst) {
                    f.worst = pass.worst;
                    f.worstElevation = pass.worstElevation;
                    f.worstWhere = pass.worstWhere;
                }
                f.worstBelow80 = std::max(f.worstBelow80, pass.worstBelow80);
            } else {
                ++f.unholdable;
            }
            if (holds && unwinds > 0 && qEnvironmentVariableIsSet("BENCH_DEBUG"))
                std::fprintf(stderr, "avoidable unwind: pass from %s, %.1f h, %d unwinds\n",
                             qPrintable(yearStart.addSecs(qint64(rose)).toString(Qt::ISODate)),
                             double(track.size()) * repetition / 3600, unwinds);
        }
        pass = Figures();
        track.clear();
    };
    const double end = double(days) * 86400;
    for (double t = 0; t < end; t += repetition) {
        const Direction target = sky.at(t);
        const Direction trueTarget {wrap360(target.azimuth), target.elevation};
        const bool nowUp = reachable(trueTarget);
        if (nowUp && !up) {
            rose = t;
            unwindsAtRise = planner.unwinds();
        } else if (!nowUp && up) {
            passEnded();
        }
        up = nowUp;
        if (up)
            track.push_back(target);
        // Just before the command: the largest error of the cycle.
        const auto sample = [&](double at, const Direction &d) {
            double a = az.at(at), e = el.at(at);
            if (e > 90) {
                a += 180;
                e = 180 - e;
            }
            const double error = separation(a, e, wrap360(d.azimuth), d.elevation);
            pass.add(error, d.elevation, [&] {
                const Direction here = sky.at(at), later = sky.at(at + 10);
                return QStringLiteral("%1 target az %2 el %3 (rates %4 %5 deg/min); antenna az %6 el %7 "
                                      "(error az %8 el %9); axes az %10->%11 from %12 s, el %13->%14 from %15 s; "
                                      "sent az %16 el %17; %18 s after the rise")
                    .arg(yearStart.addMSecs(qint64(at * 1000)).toString(Qt::ISODateWithMs))
                    .arg(wrap360(d.azimuth), 0, 'f', 3)
                    .arg(d.elevation, 0, 'f', 3)
                    .arg((later.azimuth - here.azimuth) * 6, 0, 'f', 3)
                    .arg((later.elevation - here.elevation) * 6, 0, 'f', 3)
                    .arg(a, 0, 'f', 3)
                    .arg(e, 0, 'f', 3)
                    .arg(std::remainder(a - d.azimuth, 360.0), 0, 'f', 3)
                    .arg(e - d.elevation, 0, 'f', 3)
                    .arg(az.from, 0, 'f', 3)
                    .arg(az.target, 0, 'f', 3)
                    .arg(at - az.start, 0, 'f', 0)
                    .arg(el.from, 0, 'f', 3)
                    .arg(el.target, 0, 'f', 3)
                    .arg(at - el.start, 0, 'f', 0)
                    .arg(sentAz.value_or(-1), 0, 'f', 3)
                    .arg(sentEl.value_or(-1), 0, 'f', 3)
                    .arg(at - rose, 0, 'f', 0);
            });
        };
        if (up && t - rose >= acquisitionSeconds) {
            sample(t, trueTarget);
            const Direction half = sky.at(t + repetition / 2.0);
            if (reachable(half))
                sample(t + repetition / 2.0, half);
        }

        steering.repetition(repetition);
        PointingPlanner::Command c;
        if (planned) {
            PointingPlanner::Situation s;
            s.target = trueTarget;
            s.now = yearStart.addSecs(qint64(t));
            s.repetitionSeconds = repetition;
            s.sentAzimuth = sentAz;
            s.sentElevation = sentEl;
            s.ahead = [&sky, t](double seconds) {
                const Direction d = sky.at(t + seconds);
                return std::optional<Direction>(Direction {wrap360(d.azimuth), d.elevation});
            };
            const int before = planner.unwinds();
            c = planner.plan(s);
            if (planner.unwinds() != before && qEnvironmentVariableIsSet("BENCH_DEBUG"))
                std::fprintf(stderr, "unwind at %s: target %.2f %.2f -> %.2f %.2f, since rise %.0f s, sent %.2f\n",
                             qPrintable(s.now.toString(Qt::ISODate)), trueTarget.azimuth, trueTarget.elevation,
                             c.position.azimuth, c.position.elevation, t - rose, sentAz.value_or(-1));
        } else {
            // Today: the record as it is, on this rotator as far as it goes.
            c.move = true;
            c.position = {trueTarget.azimuth, std::clamp(trueTarget.elevation, 0.0, 90.0)};
        }
        if (!c.move)
            continue;
        const auto axis = steering.plan(c.position.azimuth, c.position.elevation, c.azimuthBand.value_or(band),
                                        c.elevationBand.value_or(band));
        if (!axis)
            continue;
        ++f.commands;
        const double caz = c.position.azimuth, cel = c.position.elevation;
        const double lookAz = cel > 90 ? caz + 180 : caz;
        const double lookEl = cel > 90 ? 180 - cel : cel;
        if (caz < g.minAzimuth() - 1e-9 || caz > g.maxAzimuth() + 1e-9 || cel < -1e-9
            || cel > g.maxElevation() + 1e-9 || lookEl < g.maskElevation(wrap360(lookAz)) - 1e-9)
            ++f.outside;
        if (*axis == RotatorAxis::Azimuth) {
            az.command(caz, t);
            sentAz = caz;
        } else {
            el.command(cel, t);
            sentEl = cel;
        }
        steering.accepted();  // the controller answers at once
    }
    if (up)
        passEnded();
    if (qEnvironmentVariableIsSet("BENCH_DEBUG") && !f.worstWhere.isEmpty())
        std::fprintf(stderr, "worst %.3f deg, %s, %s: %s\n", f.worst, overTheTop ? "0..360 over the top" : "0..450",
                     planned ? "planned" : "today", qPrintable(f.worstWhere));
    return f;
}

void report(const QString &where, bool overTheTop, const Figures &planned, const Figures &today)
{
    const QString rotator = overTheTop ? QStringLiteral("0..360 over the top") : QStringLiteral("0..450");
    row(QStringLiteral("6 avoidable unwinds mid-pass, %1, %2").arg(rotator, where),
        QStringLiteral("%1 in %2 passes").arg(planned.avoidable).arg(planned.passes),
        QStringLiteral("goal 0; %1 no wrap avoids").arg(planned.unavoidable));
    row(QStringLiteral("6 commands beyond the stops or below the mask, %1, %2").arg(rotator, where),
        QStringLiteral("%1 of %2").arg(planned.outside).arg(planned.commands),
        QStringLiteral("goal 0; today's commands: %1 of %2").arg(today.outside).arg(today.commands));
    row(QStringLiteral("6 pointing over whole passes one wrap holds (%1 of %2; from 5 min after the rise), %3, %4, "
                       "2 s / 0.1 deg, lead")
            .arg(planned.passes - planned.unholdable)
            .arg(planned.passes)
            .arg(rotator, where),
        QStringLiteral("RMS %1 deg, worst %2 deg (at el %3), worst below el 80: %4 deg")
            .arg(planned.rms(), 0, 'f', 3)
            .arg(planned.worst, 0, 'f', 3)
            .arg(planned.worstElevation, 0, 'f', 0)
            .arg(planned.worstBelow80, 0, 'f', 3),
        QStringLiteral("goal worst 0.10 deg; today RMS %1, worst %2 (below el 80: %3) deg")
            .arg(today.rms(), 0, 'f', 3)
            .arg(today.worst, 0, 'f', 3)
            .arg(today.worstBelow80, 0, 'f', 3));
}

// The longest plan() of a few hours around a rise, with the pass ahead from
// the ephemeris itself as the tracking cycle has it: what the event loop is held.
double longestHold(RotatorGeometry::OutOfReach outOfReach)
{
    const GeoPosition home {52.0, 0.0};
    const auto moon = [&home](const QDateTime &at) {
        const SkySnapshot s = computeSky(home, home, 432.065, at);
        return Direction {s.moonAzimuth, s.moonElevation};
    };
    QDateTime start = yearStart;
    while (moon(start).elevation > 0 || moon(start.addSecs(1800)).elevation <= 0)
        start = start.addSecs(gridSeconds);
    RotatorGeometry g = geometryFor(false, true);
    g.outOfReach = outOfReach;
    PointingPlanner planner;
    planner.setGeometry(g);
    qint64 longest = 0;
    for (int t = 0; t < 3600; t += repetition) {
        PointingPlanner::Situation s;
        s.now = start.addSecs(t);
        s.target = moon(s.now);
        s.repetitionSeconds = repetition;
        s.ahead = [&moon, now = s.now](double seconds) {
            return std::optional<Direction>(moon(now.addMSecs(qint64(seconds * 1000))));
        };
        QElapsedTimer timer;
        timer.start();
        planner.plan(s);
        longest = std::max(longest, timer.nsecsElapsed());
    }
    return double(longest) / 1e6;
}

// One latitude: both rotators, planned and today's, figures as tab-separated numbers.
int runLatitude(double latitude, int days)
{
    Sky sky;
    sky.compute(latitude, days);
    for (bool overTheTop : {false, true}) {
        const Figures planned = runYear(sky, days, overTheTop, true);
        const Figures today = runYear(sky, days, overTheTop, false);
        for (const Figures *f : {&planned, &today})
            std::printf("fig\t%d\t%d\t%d\t%d\t%d\t%ld\t%ld\t%.17g\t%ld\t%.17g\t%.17g\t%.17g\n", int(overTheTop),
                        f->passes, f->avoidable, f->unavoidable, f->unholdable, f->commands, f->outside, f->sumSquares,
                        f->samples, f->worst, f->worstElevation, f->worstBelow80);
    }
    return 0;
}

Figures parse(const QStringList &v)
{
    Figures f;
    f.passes = v[2].toInt();
    f.avoidable = v[3].toInt();
    f.unavoidable = v[4].toInt();
    f.unholdable = v[5].toInt();
    f.commands = v[6].toLong();
    f.outside = v[7].toLong();
    f.sumSquares = v[8].toDouble();
    f.samples = v[9].toLong();
    f.worst = v[10].toDouble();
    f.worstElevation = v[11].toDouble();
    f.worstBelow80 = v[12].toDouble();
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const int days = intOption(args, QStringLiteral("--days"), quick ? 20 : 365);
    const int at = int(args.indexOf(QStringLiteral("--latitude")));
    if (at >= 0 && at + 1 < args.size())
        return runLatitude(args.at(at + 1).toDouble(), days);

    const QList<int> latitudes = quick ? QList<int> {52} : QList<int> {0, 52, 70, -35};
    // Two at a time: the machine has two cores.
    Figures planned[2], today[2];
    std::vector<std::pair<int, std::unique_ptr<QProcess>>> runs;
    int status = 0;
    const auto collect = [&](QProcess &process) {
        if (!process.waitForFinished(900000) || process.exitCode() != 0)
            status = 1;
        int index = 0;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            const QStringList v = QString::fromLatin1(line).split(QLatin1Char('\t'));
            if (v.size() != 13 || v[0] != QLatin1String("fig"))
                continue;
            const int rotator = v[1].toInt();
            (index++ % 2 == 0 ? planned : today)[rotator].merge(parse(v));
        }
    };
    for (int latitude : latitudes) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(app.applicationFilePath(), {QStringLiteral("--latitude"), QString::number(latitude),
                                                   QStringLiteral("--days"), QString::number(days)});
        runs.emplace_back(latitude, std::move(process));
        if (runs.size() % 2 == 0)
            for (size_t i = runs.size() - 2; i < runs.size(); ++i)
                collect(*runs[i].second);
    }
    if (runs.size() % 2 == 1)
        collect(*runs.back().second);
    QStringList where;
    for (int latitude : latitudes)
        where << QString::number(latitude);
    const QString place = QStringLiteral("%1 days at latitudes %2").arg(days).arg(where.join(QStringLiteral(", ")));
    for (int rotator : {0, 1})
        report(place, rotator == 1, planned[rotator], today[rotator]);
    const double nearest = longestHold(RotatorGeometry::OutOfReach::Nearest);
    const double hold = longestHold(RotatorGeometry::OutOfReach::Hold);
    row(QStringLiteral("6 pass-ahead planning, longest hold of the event loop (an hour from before a rise, the Moon "
                       "from the ephemeris, 0..450)"),
        QStringLiteral("%1 waiting at the mask, %2 held below it").arg(ms(nearest), ms(hold)),
        QStringLiteral("bound 20 ms"));
    return status;
}
