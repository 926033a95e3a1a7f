// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/calibrationrun.h"

#include "calibration/levelsource.h"
#include "station/trackingcontrol.h"

#include <QFile>
#include <QTextStream>

#include <cmath>

CalibrationRun::CalibrationRun(TrackingControl &station, LevelSource &source, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_station(station)
    , m_source(&source)
    , m_settings(settings)
    , m_scan(settings.scan)
{
    m_timer.setInterval(tickMs);
    connect(&m_timer, &QTimer::timeout, this, &CalibrationRun::tick);
    connect(&source, &LevelSource::level, this, &CalibrationRun::heard);
    connect(&source, &LevelSource::failed, this, [this](const QString &reason) {
        end(QStringLiteral("the level source stopped: %1").arg(reason));
    });
}

CalibrationRun::~CalibrationRun()
{
    // Closed while it runs: the antenna goes back to the target all the same.
    if (m_running) {
        m_running = false;
        if (m_source)
            m_source->stop();
        m_station.setScanOffset({});
        if (m_station.target() != m_operatorTarget)
            m_station.setTarget(m_operatorTarget);
    }
}

bool CalibrationRun::start()
{
    if (m_running)
        return true;
    const PortSession &rotator = m_station.portSession(StationPort::A);
    if (!rotator.open || !rotator.automatic) {
        m_failure = QStringLiteral("the rotator's port A is not open in Auto");
        return false;
    }
    if (!m_station.isTrackingActive()) {
        m_failure = QStringLiteral("the station is not tracking");
        return false;
    }
    if (const QString refusal = skyRefusal(); !refusal.isEmpty()) {
        m_failure = refusal;
        return false;
    }
    m_failure.clear();
    m_done = false;
    // The antenna is taken to be where tracking sent it; every move from here is timed.
    m_operatorTarget = m_station.target();
    // Its position comes with the next repetition: the last record may be
    // of another target, even where the operator's is the run's, chosen
    // since.
    if (m_operatorTarget != m_settings.target)
        m_station.setTarget(m_settings.target);
    m_recordBefore = m_station.lastRecordTime();
    m_running = true;
    m_phase = Phase::Waiting;
    m_phaseClock.start();
    m_sinceLevel.start();
    const QString kind
        = m_settings.kind == Kind::CrossScan ? QStringLiteral("cross-scan") : QStringLiteral("Sun noise");
    m_station.say(
        QStringLiteral("calibration started: %1 on the %2 with the %3").arg(kind, targetName(), m_source->name()));
    m_source->start();
    m_timer.start();
    emit progressed();
    return true;
}

void CalibrationRun::abort()
{
    end(QStringLiteral("stopped by the operator"));
}

double CalibrationRun::scanDepthDeg(const Settings &settings)
{
    const int half = qMax(1, int(std::lround(settings.scan.halfSpanBeams / settings.scan.stepBeams)));
    return half * settings.scan.stepBeams * settings.scan.beamwidthDeg;
}

double CalibrationRun::estimatedSeconds(const Settings &settings, double repetitionSeconds, double turnDeg,
                                        const Direction &target)
{
    // The sum below falls short: each command waits for its answer, and the
    // machine may be busy (the bench's run at the operator's settings took
    // 316 s where it sums to 296).
    constexpr double margin = 1.15;
    const double speed = qMax(0.01, settings.slewDegPerSecond);
    // Moving, settling and listening each end at a tick.
    const auto point = [&](double moveDeg, double listenSeconds) {
        return moveDeg / speed + settings.settleSeconds + listenSeconds + 3 * tickMs / 1000.0;
    };
    const double scale = crossscan::azimuthScale(target.elevation);
    double seconds = repetitionSeconds + 0.5 + turnDeg / speed;
    if (settings.kind == Kind::SunNoise) {
        const double away = settings.coldSky
            ? qMax(std::abs(wrap180(settings.coldSky->azimuth - target.azimuth)),
                   std::abs(settings.coldSky->elevation - target.elevation))
            : settings.coldSkyBeams * settings.scan.beamwidthDeg * scale;
        return margin * (seconds + 2 * settings.noiseRounds * point(away, settings.noiseSeconds));
    }
    const CrossScan scan(settings.scan);
    const double step = settings.scan.stepBeams * settings.scan.beamwidthDeg * scale;
    const double span = scanDepthDeg(settings) * scale;
    // The first cut starts from the target, each next one from the far end of the last.
    for (int cut = 0; cut < settings.scan.cuts; ++cut)
        seconds += point(cut == 0 ? span : 2 * span, settings.dwellSeconds)
            + (scan.points() - 1) * point(step, settings.dwellSeconds);
    return margin * seconds;
}

// The lowest the antenna is sent, the target's elevation now and until the
// run's end, with the operator's offset and a cross-scan's elevation cut
// below it, against the horizon and the rotator's mask and stops there.
QString CalibrationRun::skyRefusal() const
{
    const QString name = targetName();
    const std::optional<Direction> now = m_station.targetDirection(m_settings.target);
    if (!now)
        return QStringLiteral("the station cannot tell where the %1 is").arg(name);
    const auto lowest = [this](double azimuth) { return qMax(0.0, m_station.planner().lowestElevation(azimuth)); };
    const RotatorGeometry geometry = m_station.rotatorGeometry();
    const auto horizon = [&lowest, &geometry](double azimuth) {
        const double there = lowest(azimuth);
        if (there <= 0)
            return QStringLiteral("the horizon");
        if (geometry.horizonMask.isEmpty() || geometry.maskElevation(azimuth) < there)
            return QStringLiteral("the rotator's elevation stop (%1°)").arg(there, 0, 'f', 1);
        return QStringLiteral("the horizon mask (%1° at azimuth %2°)").arg(there, 0, 'f', 1).arg(azimuth, 0, 'f', 1);
    };
    if (now->elevation < lowest(now->azimuth))
        return QStringLiteral("the %1 is below %2: elevation %3°")
            .arg(name, horizon(now->azimuth))
            .arg(now->elevation, 0, 'f', 2);
    const double depth = m_settings.kind == Kind::CrossScan ? scanDepthDeg(m_settings) : 0.0;
    const double below = depth - m_station.elevationOffset();  // the lowest aim under the target
    if (now->elevation - below < lowest(now->azimuth))
        return QStringLiteral("the %1 is too low for a cross-scan: at %2° up, the elevation cut would go to %3°, "
                              "below %4")
            .arg(name)
            .arg(now->elevation, 0, 'f', 2)
            .arg(now->elevation - below, 0, 'f', 2)
            .arg(horizon(now->azimuth));
    if (m_settings.kind == Kind::SunNoise && m_settings.coldSky
        && m_settings.coldSky->elevation < lowest(m_settings.coldSky->azimuth))
        return QStringLiteral("the cold sky chosen is below %1").arg(horizon(m_settings.coldSky->azimuth));

    // The first turn: from where the antenna was last sent, else nothing known to wait for.
    const Pointing &pointing = m_station.pointing();
    double turn = 0;
    if (pointing.commandedAzimuth && pointing.commandedElevation)
        turn = qMax(std::abs(wrap180(now->azimuth + m_station.azimuthOffset() - *pointing.commandedAzimuth)),
                    std::abs(now->elevation + m_station.elevationOffset() - *pointing.commandedElevation));
    const double seconds = estimatedSeconds(m_settings, m_station.times().repetitionTime, turn, *now);
    const QDateTime start = m_station.now().toUTC();
    const QDateTime end = start.addMSecs(qint64(1000 * seconds));
    const QString takes = QStringLiteral("the run takes about %1 min, to %2 UTC")
                              .arg(std::ceil(seconds / 60))
                              .arg(end.toString(QStringLiteral("HH:mm")));
    if (!m_station.sourceLooksAhead()) {
        const double fall = fastestSettingDegPerSecond * seconds;
        if (now->elevation - below - fall < lowest(now->azimuth))
            return QStringLiteral("the %1 may set before the run can end: %2 is %3° above %4 and %5, in which a "
                                  "setting target sinks up to %6° (the tracking data gives no pass ahead)")
                .arg(name, depth > 0 ? QStringLiteral("the elevation cut's lowest point") : QStringLiteral("it"))
                .arg(now->elevation - below - lowest(now->azimuth), 0, 'f', 2)
                .arg(horizon(now->azimuth), takes)
                .arg(fall, 0, 'f', 2);
        return {};
    }
    // Along the pass ahead, every half minute and at the end.
    constexpr double everySeconds = 30;
    for (double t = everySeconds;; t += everySeconds) {
        const double at = qMin(t, seconds);
        const QDateTime when = start.addMSecs(qint64(1000 * at));
        const std::optional<Direction> then = m_station.targetDirection(m_settings.target, when);
        if (then && then->elevation - below < lowest(then->azimuth))
            return QStringLiteral("the %1 sets before the run can end: %2 below %3 at %4 UTC, and %5")
                .arg(name, depth > 0 ? QStringLiteral("the elevation cut goes") : QStringLiteral("it goes"),
                     horizon(then->azimuth), when.toString(QStringLiteral("HH:mm")), takes);
        if (at >= seconds)
            return {};
    }
}

QString CalibrationRun::targetName() const
{
    return QString::fromLatin1(::targetName(m_settings.target));
}

// ---- levels ------------------------------------------------------------------------

void CalibrationRun::heard(double level)
{
    if (!m_running)
        return;
    m_sinceLevel.start();
    if (!std::isfinite(level) || level <= 0) {
        end(QStringLiteral("the level source gave a level that is not a positive number"));
        return;
    }
    // Noise never repeats to the last digit on a fine meter; a detector at its end does.
    const auto ceiling = m_source->ceiling();
    const bool stuck = ceiling ? level >= *ceiling
                               : !m_source->quantised() && m_previousLevel && *m_previousLevel == level;
    m_sameLevels = stuck ? m_sameLevels + 1 : 1;
    m_previousLevel = level;
    if (m_sameLevels >= saturatedRepeats) {
        end(QStringLiteral("the level source is saturated: at its end %1 times running").arg(saturatedRepeats));
        return;
    }
    if (m_phase != Phase::Measuring)
        return;
    if (m_settings.kind == Kind::SunNoise) {
        (m_point % 2 == 0 ? m_on : m_off).append(level);
        return;
    }
    emit levelHeard(m_scan.add(offsetNow(), m_station.lastRecord().elevation, level), level);
}

// Where the antenna points now, off the target and the operator's offsets:
// from the rotator's readout where it gives one, else from what it was sent.
Direction CalibrationRun::offsetNow() const
{
    const Pointing &pointing = m_station.pointing();
    const TrackingRecord &record = m_station.lastRecord();
    const double azimuth = pointing.actualAzimuth.value_or(pointing.commandedAzimuth.value_or(record.azimuth));
    const double elevation = pointing.actualElevation.value_or(pointing.commandedElevation.value_or(record.elevation));
    return {wrap180(azimuth - record.azimuth - m_station.azimuthOffset()),
            elevation - record.elevation - m_station.elevationOffset()};
}

// ---- the sequence ------------------------------------------------------------------

void CalibrationRun::tick()
{
    if (!m_running)
        return;
    const PortSession &rotator = m_station.portSession(StationPort::A);
    if (!rotator.open || !rotator.automatic) {
        // The operator has the rotator now: the station sends it nothing.
        end(rotator.open ? QStringLiteral("the rotator's port A left Auto: the antenna stays where it is; Auto takes "
                                          "it back to the %1")
                               .arg(QString::fromLatin1(::targetName(m_operatorTarget)))
                         : QStringLiteral("the rotator's port A closed"));
        return;
    }
    if (m_sinceLevel.elapsed() > 1000 * m_settings.silentLevelSeconds) {
        end(QStringLiteral("the level source stopped: no level for %1 s").arg(m_settings.silentLevelSeconds));
        return;
    }
    const TrackingRecord &record = m_station.lastRecord();
    const bool set = record.elevation < qMax(0.0, m_station.planner().lowestElevation(record.azimuth));
    if (m_phase != Phase::Waiting && set) {
        end(QStringLiteral("the %1 set: below the horizon or its mask").arg(targetName()));
        return;
    }
    const qint64 inPhase = m_phaseClock.elapsed();
    switch (m_phase) {
    case Phase::Waiting:
        if (const QDateTime read = m_station.lastRecordTime();
            !read.isValid() || (m_recordBefore.isValid() && read <= m_recordBefore)) {
            if (inPhase > 1000 * qint64(m_settings.pointTimeoutSeconds))
                end(QStringLiteral("no position of the %1 came in %2 s")
                        .arg(targetName())
                        .arg(m_settings.pointTimeoutSeconds));
            return;
        }
        if (set) {
            end(QStringLiteral("the %1 is below the horizon or its mask").arg(targetName()));
            return;
        }
        if (m_settings.kind == Kind::CrossScan && record.elevation > 80) {
            end(QStringLiteral("the %1 is %2° up: too near the zenith for a cut in azimuth")
                    .arg(targetName())
                    .arg(record.elevation, 0, 'f', 1));
            return;
        }
        m_point = 0;
        nextPoint();
        return;
    case Phase::Moving:
        if (arrived()) {
            m_phase = Phase::Settling;
            m_phaseClock.start();
        } else if (inPhase > 1000 * qint64(m_settings.pointTimeoutSeconds)) {
            const QString note = m_station.pointingNote();
            end(QStringLiteral("the antenna did not reach the calibration's point in %1 s%2")
                    .arg(m_settings.pointTimeoutSeconds)
                    .arg(note.isEmpty() ? QString() : QStringLiteral(": ") + note));
        }
        return;
    case Phase::Settling:
        if (inPhase >= 1000 * m_settings.settleSeconds) {
            m_phase = Phase::Measuring;
            m_phaseClock.start();
            emit progressed();
        }
        return;
    case Phase::Measuring: {
        const double seconds = m_settings.kind == Kind::CrossScan ? m_settings.dwellSeconds : m_settings.noiseSeconds;
        if (inPhase >= 1000 * seconds) {
            ++m_point;
            nextPoint();
        }
        return;
    }
    }
}

void CalibrationRun::nextPoint()
{
    const double elevation = m_station.lastRecord().elevation;
    if (m_settings.kind == Kind::SunNoise) {
        if (m_point >= 2 * m_settings.noiseRounds) {
            m_y = sunnoise::measure(m_on, m_off);
            end(m_y ? QString() : QStringLiteral("too few levels on the %1 and on cold sky").arg(targetName()));
            return;
        }
        const TrackingRecord &record = m_station.lastRecord();
        const double away = m_settings.coldSkyBeams * m_settings.scan.beamwidthDeg * crossscan::azimuthScale(elevation);
        const Direction cold = m_settings.coldSky ? Direction {wrap180(m_settings.coldSky->azimuth - record.azimuth),
                                                               m_settings.coldSky->elevation - record.elevation}
                                                  : Direction {away, 0};
        aim(m_point % 2 == 0 ? Direction {} : cold);
        return;
    }
    if (m_point >= m_scan.points()) {
        const CutAxis axis = m_scan.axis();
        QString why;
        if (!m_scan.endCut(&why)) {
            end(QStringLiteral("cut %1 (%2) could not be fitted: %3")
                    .arg(m_scan.cut() + 1)
                    .arg(axis == CutAxis::Azimuth ? QStringLiteral("azimuth") : QStringLiteral("elevation"), why));
            return;
        }
        m_point = 0;
        if (m_scan.finished()) {
            end({});
            return;
        }
    }
    aim(m_scan.aim(m_point, elevation));
}

void CalibrationRun::aim(const Direction &offset)
{
    m_aim = offset;
    m_station.setScanOffset(offset);
    m_phase = Phase::Moving;
    m_phaseClock.start();
    emit progressed();
}

// The station has sent the rotator where this point is, the rotator took
// it, and the antenna is there: by its readout, or by the time the move
// takes at the rotator's speed.
bool CalibrationRun::arrived()
{
    const Pointing &pointing = m_station.pointing();
    if (!pointing.commandedAzimuth || !pointing.commandedElevation || !m_station.steering().pending.isEmpty())
        return false;
    const TrackingRecord &record = m_station.lastRecord();
    // The planner may lead a moving target by its dead band.
    const double slack = 2 * qMax(m_station.azimuthRounding(), m_station.elevationRounding()) + 0.05;
    const double azimuthOff
        = wrap180(*pointing.commandedAzimuth - record.azimuth - m_station.azimuthOffset() - m_aim.azimuth);
    const double elevationOff
        = *pointing.commandedElevation - record.elevation - m_station.elevationOffset() - m_aim.elevation;
    if (std::abs(azimuthOff) > slack || std::abs(elevationOff) > slack)
        return false;
    if (pointing.actualAzimuth && pointing.actualElevation)
        return std::abs(wrap180(*pointing.actualAzimuth - *pointing.commandedAzimuth)) <= 0.3
            && std::abs(*pointing.actualElevation - *pointing.commandedElevation) <= 0.3;
    // A rotator that does not say where it is: each axis is there once its
    // moves, from the parking position on, have had their time at its speed.
    const double speed = m_settings.slewDegPerSecond;
    return Pointing::nowMs()
        >= qMax(Pointing::doneMs(pointing.azimuthMoves, speed), Pointing::doneMs(pointing.elevationMoves, speed));
}

// ---- the end -----------------------------------------------------------------------

void CalibrationRun::end(const QString &failure)
{
    if (!m_running)
        return;
    m_running = false;
    m_done = true;
    m_failure = failure;
    m_timer.stop();
    if (m_source)
        m_source->stop();
    m_station.setScanOffset({});
    if (m_station.target() != m_operatorTarget)
        m_station.setTarget(m_operatorTarget);
    m_endedAt = m_station.now().toUTC();
    if (!failure.isEmpty()) {
        m_station.say(QStringLiteral("calibration ended: %1").arg(failure));
    } else if (m_settings.kind == Kind::CrossScan) {
        const Direction found = m_scan.correction();
        m_station.say(
            QStringLiteral("calibration: the %1 found at azimuth offset %2, elevation offset %3, beam %4° wide")
                .arg(targetName(), crossscan::signedDegrees(found.azimuth), crossscan::signedDegrees(found.elevation))
                .arg(m_scan.fit(CutAxis::Elevation)->halfPowerWidthDeg, 0, 'f', 2));
    } else {
        const auto expected = expectedYDb();
        m_station.say(QStringLiteral("calibration: %1 noise %2 ± %3 dB%4")
                          .arg(targetName())
                          .arg(m_y->db, 0, 'f', 2)
                          .arg(m_y->errorDb, 0, 'f', 2)
                          .arg(expected ? QStringLiteral(", %1 dB expected at %2 MHz")
                                              .arg(*expected, 0, 'f', 1)
                                              .arg(m_settings.station.frequencyMHz, 0, 'f', 3)
                                        : QString()));
    }
    if (failure.isEmpty()) {
        QFile file(defaultPath());
        const bool fresh = !file.exists() || file.size() == 0;
        if (file.open(QIODevice::Append | QIODevice::Text)) {
            QTextStream out(&file);
            if (fresh)
                out << csvHeader() << '\n';
            out << record() << '\n';
        }
        if (file.error() != QFileDevice::NoError)
            m_station.say(QStringLiteral("calibration.csv cannot be written: %1").arg(file.errorString()));
    }
    emit progressed();
    emit finished(failure.isEmpty());
}

std::optional<double> CalibrationRun::expectedYDb() const
{
    const StationNoise &station = m_settings.station;
    switch (m_settings.target) {
    case TrackingTarget::Sun:
        if (m_settings.flux107Sfu <= 0)
            return std::nullopt;
        return sunnoise::expectedSunDb(station, sunnoise::fluxAt(station.frequencyMHz, m_settings.flux107Sfu));
    case TrackingTarget::Moon:
        return sunnoise::expectedMoonDb(station);
    case TrackingTarget::Source:
        if (const auto flux = sunnoise::sourceJansky(m_settings.sourceName, station.frequencyMHz, m_settings.year))
            return sunnoise::expectedPointDb(station, *flux);
        break;
    }
    return std::nullopt;
}

QString CalibrationRun::csvHeader()
{
    return QStringLiteral("time (UTC),target,measurement,frequency (MHz),Y (dB),Y error (dB),Y expected (dB),"
                          "azimuth offset (deg),elevation offset (deg),beam in azimuth (deg),beam in elevation (deg),"
                          "flux at 10.7 cm (SFU),frequency from");
}

QString CalibrationRun::record() const
{
    if (!succeeded())
        return {};
    const auto number = [](std::optional<double> value, int decimals) {
        return value ? QString::number(*value, 'f', decimals) : QString();
    };
    const bool scan = m_settings.kind == Kind::CrossScan;
    const auto azimuthFit = m_scan.fit(CutAxis::Azimuth), elevationFit = m_scan.fit(CutAxis::Elevation);
    std::optional<double> y = m_y ? std::optional<double>(m_y->db) : std::nullopt;
    std::optional<double> yError = m_y ? std::optional<double>(m_y->errorDb) : std::nullopt;
    if (scan && elevationFit) {
        // The peak over the baseline on the last cut is a Y as well.
        y = 10 * std::log10((elevationFit->baseline + elevationFit->peak) / elevationFit->baseline);
        yError.reset();
    }
    return QStringList {m_endedAt.toString(Qt::ISODate),
                        targetName(),
                        scan ? QStringLiteral("cross-scan") : QStringLiteral("Sun noise"),
                        QString::number(m_settings.station.frequencyMHz, 'f', 3),
                        number(y, 2),
                        number(yError, 2),
                        number(expectedYDb(), 2),
                        scan ? number(m_scan.correction().azimuth, 3) : QString(),
                        scan ? number(m_scan.correction().elevation, 3) : QString(),
                        azimuthFit && scan ? number(azimuthFit->halfPowerWidthDeg, 2) : QString(),
                        elevationFit && scan ? number(elevationFit->halfPowerWidthDeg, 2) : QString(),
                        m_settings.flux107Sfu > 0 ? QString::number(m_settings.flux107Sfu, 'f', 0) : QString(),
                        QString(m_settings.frequencyFrom).remove(QLatin1Char(','))}
        .join(',');
}

QString CalibrationRun::status() const
{
    if (m_done)
        return m_failure.isEmpty() ? QStringLiteral("done") : QStringLiteral("ended: ") + m_failure;
    if (!m_running)
        return m_failure.isEmpty() ? QStringLiteral("not started") : QStringLiteral("not started: ") + m_failure;
    if (m_phase == Phase::Waiting)
        return QStringLiteral("waiting for the %1's position").arg(targetName());
    const QString doing = m_phase == Phase::Moving ? QStringLiteral("moving")
        : m_phase == Phase::Settling              ? QStringLiteral("settling")
                                                  : QStringLiteral("listening");
    if (m_settings.kind == Kind::SunNoise)
        return QStringLiteral("round %1 of %2, %3 %4")
            .arg(m_point / 2 + 1)
            .arg(m_settings.noiseRounds)
            .arg(m_point % 2 == 0 ? QStringLiteral("on the ") + targetName() : QStringLiteral("on cold sky"), doing);
    return QStringLiteral("cut %1 of %2 (%3), point %4 of %5, %6")
        .arg(m_scan.cut() + 1)
        .arg(m_settings.scan.cuts)
        .arg(m_scan.axis() == CutAxis::Azimuth ? QStringLiteral("azimuth") : QStringLiteral("elevation"))
        .arg(m_point + 1)
        .arg(m_scan.points())
        .arg(doing);
}

// A run ended early stays where it was stopped.
double CalibrationRun::progress() const
{
    if (succeeded())
        return 1.0;
    if (m_settings.kind == Kind::SunNoise)
        return double(m_point) / double(2 * qMax(1, m_settings.noiseRounds));
    return double(m_scan.cut() * m_scan.points() + m_point) / double(qMax(1, m_settings.scan.cuts * m_scan.points()));
}
