// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/rotatorlink.h"
#include "station/pointingplanner.h"
#include "station/portsession.h"
#include "station/rotatorsteering.h"
#include "station/stationcontext.h"
#include "station/trackingdata.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>

#include <functional>
#include <optional>
#include <utility>

class QTimer;
class SettingsFile;

// Where the antenna is meant to point and where it does, as far as known.
struct Pointing {
    std::optional<double> commandedAzimuth;
    std::optional<double> commandedElevation;
    std::optional<double> actualAzimuth;  // from a rotator that reports it
    std::optional<double> actualElevation;

    // Each axis's moves as sent, the first from the parking position, where
    // the antenna rests when the program starts: for a rotator that does not
    // say where it is, they tell when it can have got there.
    struct Move {
        double degrees = 0;
        qint64 atMs = 0;  // on nowMs()'s clock
    };
    // The steady clock, in milliseconds.
    static qint64 nowMs();
    static constexpr int keptMoves = 16;
    QList<Move> azimuthMoves;
    QList<Move> elevationMoves;
    // When an axis turning at this speed has done all its moves, on the same
    // clock: each from where the one before left it, after it.
    static qint64 doneMs(const QList<Move> &moves, double degreesPerSecond);
};

// The rotator on port A: each repetition's target through the planner and
// the dead band to at most one command, the wait for its answer, parking,
// the offsets, and the rotator's alarms. Its store.cfg values (offsets,
// rounding, parking) are kept here and written here.
class RotatorControl : public QObject
{
    Q_OBJECT

public:
    RotatorControl(PortSession &port, StationContext &context, SettingsFile &settings, QObject *parent = nullptr);
    // Offsets still waiting to be written go now.
    ~RotatorControl() override;

    // The pass ahead, where the source can compute it (none otherwise).
    using Sky = std::function<std::optional<Direction>(const QDateTime &utc)>;
    void setSky(Sky sky) { m_sky = std::move(sky); }

    // The link while port A is open.
    void attach(RotatorLink *rotator);
    void startPolling();
    void detach();
    RotatorLink *link() const { return m_rotator; }

    // A repetition, before the cycle; then the cycle's record.
    void repetition() { m_steering.repetition(m_context.times.repetitionTime); }
    void steer(const TrackingRecord &record, bool transmitting);
    // A new start for the dead band and the pass ahead.
    void restart();
    // Whatever waits for an answer is no longer meant.
    void forgetPending() { m_steering.pending.clear(); }
    // Another target: its pass ahead is another one.
    void targetChanged()
    {
        m_steering.pending.clear();
        m_planner.restart();
    }

    void park(double azimuth, double elevation);
    // Parking that ends by itself once the rotator has taken the position.
    void parkUntilTaken(double azimuth, double elevation);
    void endParking();
    // Port A back in Auto: a park is over, and both axes go again, the
    // antenna having perhaps been moved meanwhile.
    void automaticAgain();

    // An offset as the operator typed it; a bad one is said, and the old one kept.
    void enterOffset(RotatorAxis axis, const QString &text);
    // store.cfg keeps the offsets in force: written at once, or, within
    // offsetsWriteMs of the last write, once that time is up (a client
    // sending offsets many times a second costs one write a second; a
    // kill -9 loses at most that second, a normal end nothing).
    void saveOffsets();
    static constexpr int offsetsWriteMs = 1000;
    // A calibration's own offsets on top of the operator's while it scans
    // (never saved); and what it found, added to the operator's and saved.
    void setScanOffset(const Direction &offset) { m_scanOffset = offset; }
    Direction scanOffset() const { return m_scanOffset; }
    void addOffsets(double azimuth, double elevation);
    void setRounding(double azimuth, double elevation);
    void setGeometry(const RotatorGeometry &geometry) { m_planner.setGeometry(geometry); }

    // True when an alarm shown changed.
    bool checkHealth();
    QString trouble() const;

    const RotatorSteering &steering() const { return m_steering; }
    const PointingPlanner &planner() const { return m_planner; }
    const Pointing &pointing() const { return m_pointing; }
    QString pointingNote() const { return m_pointingNote; }
    double azimuthOffset() const { return m_azimuthOffset; }
    double elevationOffset() const { return m_elevationOffset; }
    double azimuthRounding() const { return m_azimuthRounding; }
    double elevationRounding() const { return m_elevationRounding; }
    double azimuthParking() const { return m_azimuthParking; }
    double elevationParking() const { return m_elevationParking; }

signals:
    void changed();
    void antennaPosition(double azimuth, double elevation);
    // The rotator's range is known now: the first position can go.
    void limitsLearned();

private:
    PointingPlanner::Command plan(const Direction &target, bool transmitting);
    void command(RotatorAxis axis, double azimuth, double elevation);
    QByteArray commandFor(RotatorAxis axis, double azimuth, double elevation) const;
    void received(const QByteArray &bytes);
    void awaitAnswer(const QByteArray &command);
    void answered();
    qint64 silentMs() const;
    void writeOffsets();

    PortSession &m_port;
    StationContext &m_context;
    SettingsFile &m_settings;
    RotatorLink *m_rotator = nullptr;
    Sky m_sky;
    RotatorSteering m_steering;
    PointingPlanner m_planner;
    Pointing m_pointing;
    QString m_pointingNote;
    double m_azimuthRounding = 0.1;
    double m_elevationRounding = 0.1;
    double m_azimuthParking = 90.0;
    double m_elevationParking = 10.0;
    double m_azimuthOffset = 0.0;
    double m_elevationOffset = 0.0;
    Direction m_scanOffset;
    bool m_parkEndsWhenTaken = false;
    QTimer *m_positionTimer;
    QTimer *m_answerTimer;
    QTimer *m_offsetsTimer;
    QElapsedTimer m_offsetsWritten;
    std::optional<std::pair<float, float>> m_offsetsStored;  // azimuth, elevation as store.cfg has them
    QElapsedTimer m_pendingSince;
    QElapsedTimer m_quietSince;  // since the first thing it has not answered
    QByteArray m_awaited;
    QString m_pendingPosition;  // the waiting command's position, as the log says it
};
