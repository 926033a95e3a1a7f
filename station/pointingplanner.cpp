// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/pointingplanner.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double unbounded = std::numeric_limits<double>::infinity();
constexpr double historySeconds = 60;   // the target's motion is taken over this much of its track
constexpr double rateSeconds = 30;      // and over this much of the pass ahead
constexpr double partRateSeconds = 1800;  // a pass known in part goes on at its rate over its last half hour
constexpr double aheadStepSeconds = 180;
constexpr double windowSeconds = 600;     // the lead looks this far at most
constexpr double windowStepSeconds = 5;
constexpr double aheadSpanSeconds = 14 * 3600;  // longer than any pass of the Moon
constexpr double fileHorizonSeconds = 6 * 3600; // what the record's motion is trusted for
constexpr double rechooseBelowSeconds = 600;    // the coming pass, looked at again while waiting for it
constexpr double stopWarningSeconds = 1800;     // a stop this near in the target's motion is said
constexpr qint64 passBudgetMs = 8;              // of each repetition, for the pass ahead
// A target this many seconds from moving half a dead band gets the full half band of lead.
constexpr double leadSmoothingSeconds = 60;

double wrap360(double degrees)
{
    const double a = std::fmod(degrees, 360.0);
    return a < 0 ? a + 360.0 : a;
}

// slack: how far past a stop still counts; the command is then held at the stop.
bool within(double value, const std::optional<std::pair<double, double>> &stops, double slack = 1e-9)
{
    return !stops || (value >= stops->first - slack && value <= stops->second + slack);
}

// A pass that reaches a degree past a stop (at its rise or set, or with the
// lead) is still held on one turn, the antenna at the stop for those minutes:
// better than a whole turn back in the middle of the pass.
constexpr double stopGrace = 1.0;

std::optional<std::pair<double, double>> narrowed(const std::optional<std::pair<double, double>> &own, double low,
                                                  double high)
{
    if (!own)
        return std::pair {low, high};
    const std::pair<double, double> both {std::max(own->first, low), std::min(own->second, high)};
    // Stops that leave nothing between them: the rotator's own travel is what it can do.
    return both.first <= both.second ? both : std::pair {low, high};
}

} // namespace

void PointingPlanner::setGeometry(const RotatorGeometry &geometry)
{
    if (geometry == m_geometry)
        return;
    m_geometry = geometry;
    restart();
}

void PointingPlanner::restart()
{
    m_ahead.clear();
    m_pass.clear();
    m_chosen = false;
    m_history.clear();
    m_passNote.clear();
}

std::optional<std::pair<double, double>> PointingPlanner::azimuthStops() const
{
    std::optional<std::pair<double, double>> stops;
    if (m_geometry.limitsAzimuth())
        stops = std::pair {m_geometry.minAzimuth(), m_geometry.maxAzimuth()};
    if (m_travel)
        stops = narrowed(stops, m_travel->minAzimuth, m_travel->maxAzimuth);
    return stops;
}

std::optional<std::pair<double, double>> PointingPlanner::elevationStops() const
{
    std::optional<std::pair<double, double>> stops;
    if (m_geometry.limitsElevation())
        stops = std::pair {m_geometry.minElevation(), m_geometry.maxElevation()};
    if (m_travel)
        stops = narrowed(stops, m_travel->minElevation, m_travel->maxElevation);
    return stops;
}

double PointingPlanner::lowestElevation(double azimuth) const
{
    double lowest = -unbounded;
    if (const auto stops = elevationStops())
        lowest = stops->first;
    if (!m_geometry.horizonMask.isEmpty())
        lowest = std::max(lowest, m_geometry.maskElevation(azimuth));
    return lowest;
}

void PointingPlanner::placed(const Direction &position)
{
    m_last = position;
}

void PointingPlanner::answered(double seconds)
{
    m_lagSeconds = 0.7 * m_lagSeconds + 0.3 * std::clamp(seconds, 0.0, 10.0);
}

void PointingPlanner::extendPassAhead(const Situation &situation, const QElapsedTimer &planning)
{
    if (!situation.ahead || !situation.now.isValid()) {
        m_pass.clear();
        return;
    }
    const qint64 step = qint64(aheadStepSeconds * 1000);
    const qint64 now = situation.now.toMSecsSinceEpoch();
    qint64 from = m_passFrom.isValid() ? m_passFrom.toMSecsSinceEpoch() : 0;
    if (!m_pass.empty() && from > now + step)
        m_pass.clear();  // the clock went back (a demo restarted)
    while (!m_pass.empty() && from <= now) {
        m_pass.pop_front();
        from += step;
    }
    if (m_pass.empty()) {
        from = now - ((now % step) + step) % step + step;
        m_passEnds = false;
    }
    m_passFrom = QDateTime::fromMSecsSinceEpoch(from, QTimeZone::utc());
    while (!m_passEnds && planning.elapsed() < passBudgetMs) {
        const qint64 at = from + qint64(m_pass.size()) * step;
        if (at - now > qint64(aheadSpanSeconds * 1000))
            break;
        const auto d = situation.ahead((at - now) / 1000.0);
        if (d)
            m_pass.push_back(*d);
        else
            m_passEnds = true;
    }
}

void PointingPlanner::noteMotion(const Situation &situation)
{
    if (!situation.now.isValid())
        return;
    if (!m_history.empty() && m_history.back().time > situation.now)
        m_history.clear();  // the clock went back (a demo restarted)
    m_history.push_back({situation.now, situation.target});
    while (m_history.size() > 2 && m_history.front().time.msecsTo(situation.now) > historySeconds * 1000)
        m_history.pop_front();
}

// Degrees per second of each axis: from the pass ahead where the source
// knows it, otherwise over the last minute of records (a file's 0.1 degree
// steps would make a rate from two records mostly noise).
Direction PointingPlanner::rate(const Situation &situation) const
{
    const auto a = m_ahead.at(situation.now, 0);
    const auto b = m_ahead.at(situation.now, rateSeconds);
    if (a && b)
        return {(b->azimuth - a->azimuth) / rateSeconds, (b->elevation - a->elevation) / rateSeconds};
    if (m_history.size() < 2)
        return {};
    const Sample &first = m_history.front();
    const Sample &last = m_history.back();
    const double seconds = first.time.msecsTo(last.time) / 1000.0;
    if (seconds < 5)
        return {};
    return {wrap180(last.target.azimuth - first.target.azimuth) / seconds,
            (last.target.elevation - first.target.elevation) / seconds};
}

// Ahead by half the time between commands and the rotator's lag, so the
// antenna is as far ahead after a command as it falls behind before the next;
// and by half the dead band, which a command otherwise always trails by.
Direction PointingPlanner::led(const Situation &situation, const Direction &target) const
{
    if (const auto from = m_ahead.at(situation.now, 0)) {
        // With the pass ahead: the middle of what the target covers, from when
        // the antenna gets there, until it has moved by the dead band. Then
        // the antenna is never more than half the band off, also where the
        // target turns (the elevation at the meridian) and the rate says nothing.
        const auto aim = [&](double Direction::*axis, double now, double band, double speed) {
            const double start = m_lagSeconds + band / std::max(0.01, speed);
            double low = unbounded, high = -unbounded;
            // Moving once a minute, the antenna waits a minute for the next move.
            const double window = m_geometry.quietSeconds ? 60.0 : windowSeconds;
            for (double s = start; s <= start + window; s += windowStepSeconds) {
                const auto d = m_ahead.at(situation.now, s);
                if (!d)
                    break;
                const double v = now + (*d.*axis - *from.*axis);
                if (!m_geometry.quietSeconds && std::max(high, v) - std::min(low, v) > band && high >= low)
                    break;
                low = std::min(low, v);
                high = std::max(high, v);
            }
            return high >= low ? (low + high) / 2 : now;
        };
        Direction aimed {aim(&Direction::azimuth, target.azimuth, situation.azimuthBand, m_geometry.azimuthSpeed),
                         aim(&Direction::elevation, target.elevation, situation.elevationBand,
                             m_geometry.elevationSpeed)};
        // Where the target turns (the elevation at the meridian) the middle
        // moves less than the dead band and would never be sent, leaving the
        // antenna up to a whole band off: once the target will be more than
        // half a band from what was sent by the next repetition, the aim
        // steps just past the band, so that it goes.
        const auto next = m_ahead.at(situation.now, std::max(1.0, situation.repetitionSeconds) + m_lagSeconds);
        const auto step = [&](double &aimed, double now, double from, double ahead, std::optional<double> sent,
                              double band) {
            if (!sent || !next)
                return;
            const double drift = now + (ahead - from) - *sent;
            if (std::fabs(drift) > band / 2 && std::fabs(aimed - *sent) <= band)
                aimed = *sent + std::copysign(band + 0.01, drift);
        };
        // The sent positions in the target's terms: over the top they look the other way.
        std::optional<double> sentAz = situation.sentAzimuth;
        std::optional<double> sentEl = situation.sentElevation;
        if (m_flipped && sentAz && sentEl) {
            *sentAz -= 180.0;
            *sentEl = 180.0 - *sentEl;
        }
        if (sentAz)
            *sentAz = target.azimuth + wrap180(*sentAz - target.azimuth);
        if (next && !m_geometry.quietSeconds) {
            step(aimed.azimuth, target.azimuth, from->azimuth, next->azimuth, sentAz, situation.azimuthBand);
            step(aimed.elevation, target.elevation, from->elevation, next->elevation, sentEl, situation.elevationBand);
        }
        return aimed;
    }
    const Direction r = rate(situation);
    const double period = m_geometry.quietSeconds ? 60.0 : std::max(1.0, situation.repetitionSeconds);
    const auto ahead = [&](double perSecond, double band, double speed) {
        const double seconds = period / 2 + m_lagSeconds + band / std::max(0.01, speed);
        const double half = band / 2;
        const double centre = half > 0 ? half * std::clamp(perSecond * leadSmoothingSeconds / half, -1.0, 1.0) : 0.0;
        return perSecond * seconds + centre;
    };
    return {target.azimuth + ahead(r.azimuth, situation.azimuthBand, m_geometry.azimuthSpeed),
            target.elevation + ahead(r.elevation, situation.elevationBand, m_geometry.elevationSpeed)};
}

// The azimuth that points at the target on one side of the zenith: over the
// top the antenna looks the other way.
double PointingPlanner::place(const Direction &target, bool flipped) const
{
    return wrap360(target.azimuth + (flipped ? 180.0 : 0.0));
}

QList<PointingPlanner::Candidate> PointingPlanner::candidates(const Direction &target) const
{
    QList<Candidate> found;
    const auto az = azimuthStops();
    const auto el = elevationStops();
    const bool overTheTop = m_geometry.elevationRange == RotatorGeometry::ElevationRange::From0To180;
    for (bool flipped : {false, true}) {
        if (flipped && !overTheTop)
            break;
        if (!within(flipped ? 180.0 - target.elevation : target.elevation, el))
            continue;
        const double base = place(target, flipped);
        for (int turn = -2; turn <= 2; ++turn)
            if (within(base + 360.0 * turn, az, stopGrace))
                found.append({base + 360.0 * turn, flipped});
    }
    return found;
}

// The turn (and side) that keeps the target longest without an unwind: over
// the pass ahead where the source knows it (while it is still being
// computed, the part known and its rate), else as far as the target's
// present motion carries it. Among equals, the one nearest the antenna.
std::optional<PointingPlanner::Candidate> PointingPlanner::chooseWrap(const Situation &situation,
                                                                      const Direction &target, QString &note,
                                                                      bool &settled) const
{
    settled = false;
    const QList<Candidate> options = candidates(target);
    note.clear();
    if (options.isEmpty())
        return std::nullopt;
    const auto azStops = azimuthStops();
    const auto elStops = elevationStops();
    QList<double> keeps(options.size(), unbounded);
    double needed = fileHorizonSeconds;
    bool known = false;
    bool pending = false;  // the pass ahead is still being computed

    // The pass from now (or from its rise) to its set, in azimuth turned from now.
    struct Point {
        double seconds, turned, elevation;
    };
    std::vector<Point> track;
    const std::optional<Direction> present = situation.ahead ? situation.ahead(0) : std::nullopt;
    if (present) {
        const double azOffset = wrap180(situation.target.azimuth - present->azimuth);
        const double elOffset = situation.target.elevation - present->elevation;
        double turned = 0;
        double previous = present->azimuth;
        bool up = false;
        bool set = false;
        Point before {0, 0, 0};
        double clearance = 0;  // above the lowest elevation, at the sample before
        const double first = situation.now.msecsTo(m_passFrom) / 1000.0;
        for (size_t i = 0; i <= m_pass.size(); ++i) {
            const double t = i == 0 ? 0.0 : first + double(i - 1) * aheadStepSeconds;
            const auto d = i == 0 ? present : std::optional<Direction>(m_pass[i - 1]);
            turned += wrap180(d->azimuth - previous);
            previous = d->azimuth;
            const Direction p {d->azimuth + azOffset, d->elevation + elOffset};
            const Point point {t, turned, p.elevation};
            const double above = p.elevation - lowestElevation(p.azimuth);
            // The rise and the set between two samples, where the pass's
            // ends turn furthest: straight lines between the samples.
            const auto crossing = [&] {
                const double f = clearance / (clearance - above);
                return Point {before.seconds + f * (t - before.seconds), before.turned + f * (turned - before.turned),
                              before.elevation + f * (p.elevation - before.elevation)};
            };
            if (above >= 0) {
                if (!up && t > 0)
                    track.push_back(crossing());
                up = true;
                track.push_back(point);
            } else if (up) {
                track.push_back(crossing());
                set = true;
                break;
            }
            before = point;
            clearance = above;
        }
        // Until the samples reach the set (or as far as the source or the span goes) the choice is a first guess.
        const bool whole = set || m_passEnds || first + double(m_pass.size()) * aheadStepSeconds > aheadSpanSeconds;
        pending = !whole;
        known = whole && !track.empty();
        settled = known;
    }
    const QDateTime start = situation.now;
    // Where each turn meets a stop along the pass known so far.
    const auto follow = [&] {
        for (qsizetype i = 0; i < options.size(); ++i) {
            const Candidate &c = options.at(i);
            for (const Point &p : track) {
                const double az = c.azimuth + p.turned;
                const double el = c.flipped ? 180.0 - p.elevation : p.elevation;
                if (!within(az, azStops, stopGrace) || !within(el, elStops, stopGrace)) {
                    keeps[i] = p.seconds;
                    break;
                }
            }
        }
    };
    if (known) {
        needed = track.back().seconds;
        follow();
    } else if (pending && track.size() > 1) {
        // Part of the pass computed: the antenna is aimed now rather than
        // after the rest. A turn that keeps the target through that part is
        // carried on at the target's rate at its end; the choice is made
        // again once the pass is whole.
        follow();
        const Point &end = track.back();
        const Point *from = &track.front();
        for (const Point &p : track)
            if (end.seconds - p.seconds >= partRateSeconds)
                from = &p;
        const double r = (end.turned - from->turned) / std::max(1.0, end.seconds - from->seconds);
        needed = std::max(needed, end.seconds);
        for (qsizetype i = 0; i < options.size(); ++i) {
            if (keeps.at(i) < unbounded || std::fabs(r) <= 1e-6)
                continue;
            const double az = options.at(i).azimuth + end.turned;
            keeps[i] = end.seconds + std::max(0.0, (r > 0 ? azStops->second - az : azStops->first - az) / r);
        }
    } else {
        const Direction r = rate(situation);
        settled = !pending && std::fabs(r.azimuth) > 1e-6;
        for (qsizetype i = 0; i < options.size(); ++i) {
            const double az = options.at(i).azimuth;
            const double room = r.azimuth > 0 ? azStops->second - az : azStops->first - az;
            if (std::fabs(r.azimuth) > 1e-6)
                keeps[i] = std::max(0.0, room / r.azimuth);
        }
    }
    qsizetype best = 0;
    const auto travel = [&](const Candidate &c) {
        if (!m_last)
            return std::fabs(c.azimuth - (azStops->first + azStops->second) / 2);
        const double el = c.flipped ? 180.0 - target.elevation : target.elevation;
        return std::fabs(c.azimuth - m_last->azimuth) + std::fabs(el - m_last->elevation);
    };
    for (qsizetype i = 1; i < options.size(); ++i) {
        const double a = std::min(keeps.at(i), needed);
        const double b = std::min(keeps.at(best), needed);
        if (a > b + 1 || (std::fabs(a - b) <= 1 && travel(options.at(i)) < travel(options.at(best)) - 1e-6))
            best = i;
    }
    const double keep = keeps.at(best);
    if (known && keep < needed)
        note = QStringLiteral("the pass needs an unwind at %1 UTC")
                   .arg(start.addSecs(qint64(keep)).toUTC().toString(QStringLiteral("hh:mm")));
    return options.at(best);
}

PointingPlanner::Command PointingPlanner::plan(const Situation &situation)
{
    Command command;
    if (passesThrough()) {
        command.move = true;
        command.position = situation.target;
        return command;
    }
    QElapsedTimer planning;
    planning.start();
    noteMotion(situation);
    if (m_geometry.lead)
        m_ahead.refresh(situation.now, situation.ahead);
    if (azimuthStops() && m_geometry.azimuthRange != RotatorGeometry::AzimuthRange::AsGiven)
        extendPassAhead(situation, planning);
    if (m_geometry.stillWhileTransmitting && situation.transmitting) {
        command.note = QStringLiteral("held while transmitting");
        return command;
    }
    if (m_geometry.quietSeconds && situation.now.isValid()) {
        const int second = situation.now.toUTC().time().second();
        const int from = m_geometry.quietFrom;
        const int to = m_geometry.quietTo;
        if (from <= to ? (second < from || second > to) : (second < from && second > to)) {
            command.note = QStringLiteral("waiting for seconds %1-%2").arg(from).arg(to);
            return command;
        }
    }

    const Direction aim = m_geometry.lead ? led(situation, situation.target) : situation.target;
    const bool hold = m_geometry.outOfReach == RotatorGeometry::OutOfReach::Hold;
    QString reach;
    Direction want = aim;
    const double lowest = lowestElevation(aim.azimuth);
    const bool below = aim.elevation < lowest;
    bool heldAz = false, heldEl = below;  // an axis at a stop or the mask
    if (below) {
        const bool masked = !m_geometry.horizonMask.isEmpty() && m_geometry.maskElevation(aim.azimuth) >= lowest;
        reach = masked ? QStringLiteral("target below the horizon mask") : QStringLiteral("target below the elevation stop");
        want.elevation = lowest;
    }
    const auto elStops = elevationStops();
    const bool overTheTop = m_geometry.elevationRange == RotatorGeometry::ElevationRange::From0To180;
    if (elStops && !overTheTop && want.elevation > elStops->second) {
        reach = QStringLiteral("target above the elevation stop");
        want.elevation = elStops->second;
        heldEl = true;
    }
    if (!reach.isEmpty() && hold) {
        m_chosen = false;  // the pass is chosen anew when the target is back
        command.note = reach;
        return command;
    }

    const auto azStops = azimuthStops();
    if (!azStops) {
        // No stops known: the record's azimuth as it is.
        command.position = want;
    } else if (m_geometry.azimuthRange == RotatorGeometry::AzimuthRange::AsGiven) {
        // Only the rotator's travel: the azimuth as given while it lies within.
        command.position = want;
        if (!within(want.azimuth, azStops)) {
            const double base = wrap360(want.azimuth);
            std::optional<double> turn;
            for (int k = -2; k <= 2 && !turn; ++k)
                if (within(base + 360.0 * k, azStops))
                    turn = base + 360.0 * k;
            if (!turn) {
                if (hold) {
                    command.note = QStringLiteral("target beyond the azimuth stops");
                    return command;
                }
                reach = QStringLiteral("target beyond the azimuth stops");
            }
            command.position.azimuth = turn.value_or(std::clamp(want.azimuth, azStops->first, azStops->second));
            heldAz = !turn;
        }
    } else {
        const Direction trueWant {wrap360(want.azimuth), want.elevation};
        std::optional<Candidate> pick;
        // Waiting below the horizon, the coming pass is looked at again now and then.
        const bool stale = below && m_chosenAt.isValid() && situation.now.isValid()
            && m_chosenAt.secsTo(situation.now) > rechooseBelowSeconds;
        if (m_chosen && m_settled && m_last && !stale) {
            const double base = place(trueWant, m_flipped);
            const Candidate same {base + 360.0 * std::round((m_last->azimuth - base) / 360.0), m_flipped};
            const double el = m_flipped ? 180.0 - trueWant.elevation : trueWant.elevation;
            if (within(same.azimuth, azStops, stopGrace) && within(el, elStops, stopGrace))
                pick = same;
        }
        if (!pick) {
            // A first choice made before the motion was known is no unwind when it changes.
            const bool midPass = m_chosen && m_settled && !below && !stale;
            pick = chooseWrap(situation, trueWant, m_passNote, m_settled);
            if (pick && midPass)
                ++m_unwinds;
            m_chosen = pick.has_value();
            m_chosenAt = situation.now;
            if (pick)
                m_flipped = pick->flipped;
        }
        if (pick) {
            command.position = {pick->azimuth, pick->flipped ? 180.0 - trueWant.elevation : trueWant.elevation};
            if (!within(command.position.azimuth, azStops) || !within(command.position.elevation, elStops)) {
                command.position.azimuth = std::clamp(command.position.azimuth, azStops->first, azStops->second);
                // Toward the stop's azimuth the mask may stand higher.
                const double lowestThere = lowestElevation(command.position.azimuth + (pick->flipped ? 180.0 : 0.0));
                if (pick->flipped)
                    command.position.elevation = std::min(command.position.elevation, 180.0 - lowestThere);
                else
                    command.position.elevation = std::max(command.position.elevation, lowestThere);
                if (elStops)
                    command.position.elevation
                        = std::clamp(command.position.elevation, elStops->first, elStops->second);
                reach = QStringLiteral("at the stop: target just beyond it");
                heldAz = heldEl = true;
            }
            if (!situation.ahead && reach.isEmpty()) {
                // From a file only the motion tells: said when the stop is near.
                const double r = rate(situation).azimuth;
                const double room = r > 0 ? azStops->second - pick->azimuth : azStops->first - pick->azimuth;
                const double seconds = std::fabs(r) > 1e-6 ? room / r : unbounded;
                m_passNote = seconds < stopWarningSeconds
                    ? QStringLiteral("azimuth stop in %1 min: an unwind then").arg(int(seconds / 60))
                    : QString();
            }
        } else {
            // No turn reaches it (stops with a gap between them): the nearer stop.
            if (hold) {
                command.note = QStringLiteral("target beyond the azimuth stops");
                return command;
            }
            reach = QStringLiteral("target beyond the azimuth stops");
            double best = azStops->first;
            double gap = unbounded;
            for (int k = -2; k <= 2; ++k) {
                const double a = trueWant.azimuth + 360.0 * k;
                const double c = std::clamp(a, azStops->first, azStops->second);
                if (std::fabs(c - a) < gap) {
                    gap = std::fabs(c - a);
                    best = c;
                }
            }
            command.position = {best, std::clamp(trueWant.elevation, elStops ? elStops->first : -90.0,
                                                 elStops ? std::min(90.0, elStops->second) : 90.0)};
            m_flipped = false;
            heldAz = heldEl = true;
        }
    }
    // The target sinking into the mask: the last step there is mostly less
    // than the band, so it goes with half of it.
    const auto narrow = [](bool held, std::optional<double> sent, double position, double band) {
        return held && sent && std::fabs(position - *sent) > band / 2 ? std::optional<double>(band / 2)
                                                                         : std::nullopt;
    };
    command.azimuthBand = narrow(heldAz, situation.sentAzimuth, command.position.azimuth, situation.azimuthBand);
    command.elevationBand
        = narrow(heldEl, situation.sentElevation, command.position.elevation, situation.elevationBand);
    command.move = true;
    command.note = !reach.isEmpty() ? reach : m_passNote;
    m_last = command.position;
    return command;
}
