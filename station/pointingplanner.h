// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/rotatorlink.h"
#include "settings/rotatorgeometry.h"
#include "station/direction.h"
#include "station/minutetrack.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <deque>
#include <vector>
#include <functional>
#include <optional>

// Turns the target of each repetition into the position the rotator is sent:
// within its stops and above the horizon mask, on the cable wrap (and side of
// the zenith, for a rotator that goes over the top) chosen for the whole pass,
// ahead of the target by its motion, and only when moving is allowed. With
// the default geometry and no travel from the rotator the target goes as it
// is. No window, no port: the tracking cycle asks, the benchmark too.
class PointingPlanner
{
public:
    struct Situation {
        Direction target;          // the record's position plus the offsets
        QDateTime now;             // the station's clock: quiet seconds, rates
        double repetitionSeconds = 2;
        double azimuthBand = 0.1;  // the dead bands the commands are sent with
        double elevationBand = 0.1;
        bool transmitting = false;
        // The positions last sent to the rotator, in its terms, where known.
        std::optional<double> sentAzimuth;
        std::optional<double> sentElevation;
        // The target (without offsets) this many seconds from now, where the
        // source can compute it: the pass ahead.
        std::function<std::optional<Direction>(double seconds)> ahead;
    };
    struct Command {
        bool move = false;          // false: send nothing this time
        Direction position;         // in the rotator's own terms (beyond 360, over the top)
        QString note;               // why the antenna is held or not on the target; empty while it is
        // A narrower dead band to send this command with, for an axis held at
        // a stop or the mask: the full band would keep the antenna off it.
        std::optional<double> azimuthBand;
        std::optional<double> elevationBand;
    };

    void setGeometry(const RotatorGeometry &geometry);
    const RotatorGeometry &geometry() const { return m_geometry; }
    // The rotator's own travel, where it reports one: kept to as well as the operator's stops.
    void setTravel(const std::optional<RotatorTravel> &travel) { m_travel = travel; }
    // The stops in force: the operator's, narrowed by the rotator's travel.
    std::optional<std::pair<double, double>> azimuthStops() const;
    std::optional<std::pair<double, double>> elevationStops() const;
    // The lowest elevation allowed toward an azimuth: stop and mask.
    double lowestElevation(double azimuth) const;

    Command plan(const Situation &situation);
    // The antenna sent here other than by a plan (parked): the turn nearest it is taken next.
    void placed(const Direction &position);
    // The rotator answered a command after this long: part of its lag.
    void answered(double seconds);
    // A new target or a new start: the pass and its wrap are chosen again.
    void restart();

    // Times the wrap had to be changed in the middle of a pass.
    int unwinds() const { return m_unwinds; }
    bool flipped() const { return m_flipped; }
    double lagSeconds() const { return m_lagSeconds; }

private:
    struct Candidate {
        double azimuth = 0;  // in the rotator's terms
        bool flipped = false;
    };
    struct Sample {
        QDateTime time;
        Direction target;
    };
    bool passesThrough() const { return m_geometry == RotatorGeometry() && !m_travel; }
    void noteMotion(const Situation &situation);
    Direction rate(const Situation &situation) const;
    Direction led(const Situation &situation, const Direction &target) const;
    void extendPassAhead(const Situation &situation, const QElapsedTimer &planning);
    QList<Candidate> candidates(const Direction &target) const;
    // settled: false when neither the pass ahead nor the target's motion was known.
    std::optional<Candidate> chooseWrap(const Situation &situation, const Direction &target, QString &note,
                                        bool &settled) const;
    double place(const Direction &target, bool flipped) const;

    RotatorGeometry m_geometry;
    std::optional<RotatorTravel> m_travel;
    MinuteTrack m_ahead;
    // The pass ahead for choosing the wrap, at whole multiples of
    // aheadStepSeconds from the first sample after now: the same instants
    // from one repetition to the next, so only the new ones are computed, a
    // few each time, and the event loop is never held for long.
    std::deque<Direction> m_pass;
    QDateTime m_passFrom;     // the time of m_pass.front()
    bool m_passEnds = false;  // the source knows no further
    std::deque<Sample> m_history;  // the last minute of targets, for their motion
    std::optional<Direction> m_last;  // the last position planned, in the rotator's terms
    bool m_chosen = false;  // a wrap is chosen for this pass
    bool m_settled = false; // and it was chosen knowing where the target goes
    QDateTime m_chosenAt;
    bool m_flipped = false;
    QString m_passNote;     // said while following: when the wrap runs out
    double m_lagSeconds = 0;
    int m_unwinds = 0;
};
