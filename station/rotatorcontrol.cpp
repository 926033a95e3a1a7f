// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/rotatorcontrol.h"

#include "links/seriallinks.h"
#include "links/showntext.h"
#include "settings/numbers.h"
#include "settings/settingsfile.h"

#include <QTimer>

#include <chrono>
#include <cmath>

RotatorControl::RotatorControl(PortSession &port, StationContext &context, SettingsFile &settings, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_context(context)
    , m_settings(settings)
    , m_positionTimer(new QTimer(this))
    , m_answerTimer(new QTimer(this))
    , m_offsetsTimer(new QTimer(this))
{
    m_offsetsTimer->setSingleShot(true);
    connect(m_offsetsTimer, &QTimer::timeout, this, &RotatorControl::writeOffsets);
    m_azimuthRounding = m_settings.readAzimuthRounding();
    m_elevationRounding = m_settings.readElevationRounding();
    m_azimuthParking = m_settings.readAzimuthParking();
    m_elevationParking = m_settings.readElevationParking();
    m_elevationOffset = m_settings.readElevationOffset();
    m_azimuthOffset = m_settings.readAzimutOffset();
    m_planner.setGeometry(RotatorGeometry::read());
    connect(m_positionTimer, &QTimer::timeout, this, [this] {
        if (!m_rotator)
            return;
        m_rotator->requestPosition();
        awaitAnswer(QByteArrayLiteral("p"));
    });
    // A command's answer is waited for to the millisecond, not to the next tick.
    m_answerTimer->setSingleShot(true);
    m_answerTimer->setTimerType(Qt::PreciseTimer);  // a coarse one may fire before the time is up
    connect(m_answerTimer, &QTimer::timeout, this, [this] {
        if (checkHealth())
            emit changed();
    });
}

RotatorControl::~RotatorControl()
{
    if (m_offsetsTimer->isActive())
        writeOffsets();
}

// ---- the link ------------------------------------------------------------------

void RotatorControl::attach(RotatorLink *rotator)
{
    m_rotator = rotator;  // the cycle that follows the open may command it
    // A command held while the port was closed never reached the
    // controller and is not waited for. One that the cycle writes is: its
    // "OK" must not be taken for the next command's.
    m_steering.pending.clear();
    connect(rotator, &DeviceLink::received, this, &RotatorControl::received);
    connect(rotator, &RotatorLink::positionReceived, this, [this](double azimuth, double elevation) {
        answered();
        m_pointing.actualAzimuth = azimuth;
        m_pointing.actualElevation = elevation;
        emit antennaPosition(azimuth, elevation);
    });
    // Given up by the link after the stale time: nothing to wait for.
    connect(rotator, &RotatorLink::commandExpired, this, [this] { m_steering.pending.clear(); });
    connect(rotator, &RotatorLink::limitsLearned, this, &RotatorControl::limitsLearned);
}

void RotatorControl::startPolling()
{
    if (!m_rotator || !m_rotator->reportsPosition())
        return;
    m_positionTimer->start(qMax(1, messageDelayMs(m_context.times.messageDelay)));  // 0 would poll without pause
    m_rotator->requestPosition();
}

void RotatorControl::detach()
{
    if (m_rotator)
        m_rotator->disconnect(this);
    m_rotator = nullptr;
    m_positionTimer->stop();
    m_quietSince.invalidate();
    m_context.health.clear(Alarm::RotatorLimitsUnknown, false);
    m_context.health.clear(Alarm::RotatorSilent, false);
    m_context.health.clear(Alarm::RotatorRefused, false);
    m_pointing.actualAzimuth.reset();
    m_pointing.actualElevation.reset();
}

// ---- steering ------------------------------------------------------------------

// At most one command per cycle.
void RotatorControl::steer(const TrackingRecord &record, bool transmitting)
{
    if (m_port.automatic && m_steering.pending.isEmpty() && m_rotator && !m_rotator->ready()) {
        m_pointingNote = QStringLiteral("waiting for the rotator's limits");
    } else if (m_port.automatic && m_steering.pending.isEmpty()) {
        const double azimuth = record.azimuth + m_azimuthOffset + m_scanOffset.azimuth;
        const double elevation = record.elevation + m_elevationOffset + m_scanOffset.elevation;
        m_context.debug(QStringLiteral("--absolute azimuth = %1").arg(numbers::general(azimuth)));
        m_context.debug(QStringLiteral("--absolute elevation = %1").arg(numbers::general(elevation)));
        const PointingPlanner::Command planned = plan({azimuth, elevation}, transmitting);
        // An azimuth step goes with the elevation the antenna has: where the mask at the new azimuth
        // stands higher than that, the elevation is raised first.
        const bool raiseFirst = m_pointing.commandedElevation
            && *m_pointing.commandedElevation < m_planner.lowestElevation(planned.position.azimuth) - 1e-9
            && planned.position.elevation > *m_pointing.commandedElevation;
        if (planned.move)
            if (const auto axis = m_steering.plan(planned.position.azimuth, planned.position.elevation,
                                                  planned.azimuthBand.value_or(m_azimuthRounding),
                                                  planned.elevationBand.value_or(m_elevationRounding), raiseFirst)) {
                endParking();  // the park position is no longer what the antenna is sent to
                command(*axis, planned.position.azimuth, planned.position.elevation);
            }
    } else if (!m_port.automatic) {
        m_pointingNote.clear();
    }
}

// The target through the rotator's geometry, with the pass ahead where the
// source can compute it.
PointingPlanner::Command RotatorControl::plan(const Direction &target, bool transmitting)
{
    m_planner.setTravel(m_rotator ? m_rotator->travel() : std::nullopt);
    PointingPlanner::Situation situation;
    situation.target = target;
    situation.now = m_context.now();
    situation.repetitionSeconds = qMax<quint32>(1u, m_context.times.repetitionTime);
    situation.azimuthBand = m_azimuthRounding;
    situation.elevationBand = m_elevationRounding;
    situation.transmitting = transmitting;
    situation.sentAzimuth = m_pointing.commandedAzimuth;
    situation.sentElevation = m_pointing.commandedElevation;
    if (m_sky)
        situation.ahead = [sky = m_sky, start = situation.now](double seconds) {
            return sky(start.addMSecs(qint64(seconds * 1000)));
        };
    const PointingPlanner::Command planned = m_planner.plan(situation);
    m_pointingNote = planned.note;
    return planned;
}

void RotatorControl::restart()
{
    m_steering.resetLastValues();
    m_planner.restart();
}

// A positioning command that waits for its answer.
void RotatorControl::command(RotatorAxis axis, double azimuth, double elevation)
{
    m_steering.pending.append(commandFor(axis, azimuth, elevation));
    m_pendingSince.start();
    awaitAnswer(m_steering.pending);
    m_answerTimer->start(int(silentMs() + 1));
    switch (axis) {
    case RotatorAxis::Azimuth:
        m_pendingPosition = QStringLiteral("azimuth %1").arg(azimuth, 0, 'f', 2);
        break;
    case RotatorAxis::Elevation:
        m_pendingPosition = QStringLiteral("elevation %1").arg(elevation, 0, 'f', 2);
        break;
    case RotatorAxis::Both:
        m_pendingPosition = QStringLiteral("az %1, el %2").arg(azimuth, 0, 'f', 2).arg(elevation, 0, 'f', 2);
        break;
    }
    const auto moved = [now = Pointing::nowMs()](QList<Pointing::Move> &moves, double degrees) {
        moves.append({std::abs(degrees), now});
        if (moves.size() > Pointing::keptMoves)
            moves.removeFirst();
    };
    if (axis != RotatorAxis::Elevation) {
        moved(m_pointing.azimuthMoves, azimuth - m_pointing.commandedAzimuth.value_or(m_azimuthParking));
        m_pointing.commandedAzimuth = azimuth;
    }
    if (axis != RotatorAxis::Azimuth) {
        moved(m_pointing.elevationMoves, elevation - m_pointing.commandedElevation.value_or(m_elevationParking));
        m_pointing.commandedElevation = elevation;
    }
    m_port.send(m_steering.pending);
}

qint64 Pointing::nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 Pointing::doneMs(const QList<Move> &moves, double degreesPerSecond)
{
    qint64 done = 0;
    for (const Move &move : moves)
        done = qMax(done, move.atMs) + qint64(1000 * move.degrees / degreesPerSecond);
    return done;
}

QByteArray RotatorControl::commandFor(RotatorAxis axis, double azimuth, double elevation) const
{
    if (m_rotator)
        return m_rotator->positionCommand(axis, azimuth, elevation);
    // Port A closed: the command only waits, in the serial controller's form.
    return SerialRotatorLink::commandFor(axis, azimuth, elevation);
}

// ---- parking and the rotator's answers -----------------------------------------

void RotatorControl::parkUntilTaken(double azimuth, double elevation)
{
    m_parkEndsWhenTaken = true;
    park(azimuth, elevation);
}

void RotatorControl::park(double azimuth, double elevation)
{
    m_azimuthParking = azimuth;
    m_elevationParking = elevation;
    m_settings.writeAzimuthParking(azimuth);
    m_settings.writeElevationParking(elevation);
    command(RotatorAxis::Both, azimuth, elevation);
    m_steering.parkingStarted(m_rotator && m_rotator->movesBothAxes());
    // Tracking goes on from the park, not from where it last sent the antenna.
    m_steering.takeAsSent(azimuth, elevation);
    m_planner.placed({azimuth, elevation});
}

void RotatorControl::endParking()
{
    m_parkEndsWhenTaken = false;
    m_steering.parkingEnded();
}

void RotatorControl::automaticAgain()
{
    endParking();
    m_steering.resetLastValues();
}

void RotatorControl::received(const QByteArray &bytes)
{
    if (m_context.debugMode)  // not even worded outside it: a flood brings many
        m_context.debug(QStringLiteral("--received A: %1").arg(QString::fromLatin1(bytes.toHex())));

    if (!m_port.automatic && !m_steering.parkingActive()) {
        const int zero = bytes.indexOf('\0');
        m_context.log(QStringLiteral("Port A data received (%1 bytes): %2")
                          .arg(QString::number(bytes.size()), shownText(zero < 0 ? bytes : bytes.left(zero))));
        return;
    }
    if (!m_rotator)
        return;
    const RotatorReply reply = m_rotator->interpretReply(bytes, m_steering.replyText);
    if (reply.kind == RotatorReply::Pending)
        return;
    answered();
    // Parking from a client ends once the rotator has taken (or refused) it.
    const auto endParkingTaken = [this] {
        if (m_parkEndsWhenTaken && m_steering.parkingActive())
            endParking();
    };
    if (reply.kind == RotatorReply::Accepted) {
        m_context.health.success(StationHealth::Source::Rotator);
        m_context.health.clear(Alarm::RotatorRefused);
        if (m_pendingSince.isValid())
            m_planner.answered(m_pendingSince.elapsed() / 1000.0);
        if (m_steering.accepted())
            command(RotatorAxis::Elevation, m_azimuthParking, m_elevationParking);
        else
            endParkingTaken();
    } else {
        m_context.health.error(StationHealth::Source::Rotator, QStringLiteral("Rotator error code: %1").arg(reply.text));
        m_context.health.raise(Alarm::RotatorRefused,
                               QStringLiteral("rotator refused %1: %2").arg(m_pendingPosition, reply.text.trimmed()));
        m_steering.refused();
        endParkingTaken();
    }
    emit changed();
}

// ---- offsets and the dead band -------------------------------------------------

void RotatorControl::enterOffset(RotatorAxis axis, const QString &text)
{
    const bool azimuth = axis == RotatorAxis::Azimuth;
    if (const auto value = numbers::toSingle(text))
        (azimuth ? m_azimuthOffset : m_elevationOffset) = *value;
    else
        m_context.log(azimuth ? QStringLiteral("azimuth offset error") : QStringLiteral("elevation offset error"));
}

void RotatorControl::addOffsets(double azimuth, double elevation)
{
    m_azimuthOffset += azimuth;
    m_elevationOffset += elevation;
    // A calibration applied is kept at once, and holds back no save after it
    // (the window's, of the offsets as its fields round them).
    const QElapsedTimer lastSave = m_offsetsWritten;
    writeOffsets();
    m_offsetsWritten = lastSave;
    emit changed();
}

void RotatorControl::saveOffsets()
{
    if (m_offsetsStored == std::pair {float(m_azimuthOffset), float(m_elevationOffset)}) {
        m_offsetsTimer->stop();  // back to what the file has
        return;
    }
    if (m_offsetsTimer->isActive())
        return;
    const qint64 since = m_offsetsWritten.isValid() ? m_offsetsWritten.elapsed() : offsetsWriteMs;
    if (since >= offsetsWriteMs)
        writeOffsets();
    else
        m_offsetsTimer->start(int(offsetsWriteMs - since));
}

void RotatorControl::writeOffsets()
{
    m_offsetsTimer->stop();
    m_offsetsWritten.start();
    m_offsetsStored = {float(m_azimuthOffset), float(m_elevationOffset)};
    m_settings.writeAzimutOffset(m_offsetsStored->first);
    m_settings.writeElevationOffset(m_offsetsStored->second);
}

void RotatorControl::setRounding(double azimuth, double elevation)
{
    m_azimuthRounding = azimuth;
    m_elevationRounding = elevation;
    m_settings.writeAzimuthRounding(azimuth);
    m_settings.writeElevationRounding(elevation);
}

// ---- health --------------------------------------------------------------------

// Something went to the rotator that it answers: its silence starts now,
// unless it has been silent since an earlier one.
void RotatorControl::awaitAnswer(const QByteArray &command)
{
    if (m_quietSince.isValid())
        return;
    m_quietSince.start();
    m_awaited = command;
}

void RotatorControl::answered()
{
    m_quietSince.invalidate();
    if (m_context.health.clear(Alarm::RotatorSilent))
        emit changed();
}

// How long a rotator may leave a command unanswered: 5 s, or two repetitions.
qint64 RotatorControl::silentMs() const
{
    return qMax<qint64>(5000, 2000 * qint64(qMax<quint32>(1u, m_context.times.repetitionTime)));
}

bool RotatorControl::checkHealth()
{
    bool shown = false;
    StationHealth &health = m_context.health;
    if (m_rotator && !m_rotator->limitsProblem().isEmpty())
        shown |= health.raise(Alarm::RotatorLimitsUnknown, m_rotator->limitsProblem());
    else if (m_rotator)
        shown |= health.clear(Alarm::RotatorLimitsUnknown);
    // The silence is timed, not each command: a daemon's link gives a
    // command up after its own time-out, and the next one would start anew.
    if (m_port.open && m_quietSince.isValid() && m_quietSince.elapsed() > silentMs())
        shown |= health.raise(Alarm::RotatorSilent, QStringLiteral("rotator not answering: no answer to %1 for %2 s")
                                                        .arg(QString::fromLatin1(m_awaited.trimmed()))
                                                        .arg(m_quietSince.elapsed() / 1000));
    return shown;
}

QString RotatorControl::trouble() const
{
    if (m_context.health.active(Alarm::RotatorSilent))
        return QStringLiteral(", not answering");
    return m_context.health.active(Alarm::RotatorRefused) ? QStringLiteral(", refused") : QString();
}
