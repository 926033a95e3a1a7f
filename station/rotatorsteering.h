// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/rotatorcommand.h"
#include "links/rotatorlink.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The rotator's side of the tracking cycle, free of ports and timers: which
// command a repetition sends, the one command that waits for its answer, the
// stale rule and the two steps of parking.
class RotatorSteering
{
public:
    // A new start for the dead band and the axis order (port opened, tracking
    // switched on or off).
    void resetLastValues();

    // At each repetition, before the cycle: an answer lost on the line must
    // not stop the antenna for long.
    void repetition(quint32 repetitionSeconds);

    // The axis this cycle commands for the position, if any; the position
    // is taken as sent for that axis. Nothing while a command waits.
    // elevationFirst: the elevation goes before the azimuth this time (an
    // azimuth step would leave the antenna under the horizon mask).
    std::optional<RotatorAxis> plan(double azimuth, double elevation, double azimuthBand, double elevationBand,
                                    bool elevationFirst = false);

    void parkingStarted(bool oneCommandMovesBoth);
    // Its elevation step, if still to go, no longer goes either.
    void parkingEnded()
    {
        m_parkingActive = false;
        m_parkingElevationPending = false;
    }
    // A position sent outside the cycle (a park): the dead band starts from it.
    void takeAsSent(double azimuth, double elevation)
    {
        m_lastAzimuth = azimuth;
        m_lastElevation = elevation;
        m_azimuthAwaitingAnswer = false;
        m_elevationNext = false;
    }

    // The waiting command was answered. True when parking's elevation step
    // is to go now.
    bool accepted();
    void refused();

    QByteArray pending;   // the command sent and not yet answered
    QString replyText;    // an answer gathered so far, across reads
    bool parkingActive() const { return m_parkingActive; }
    quint16 staleCount() const { return m_staleCount; }

private:
    double m_lastAzimuth = -1.0;
    double m_lastElevation = -1.0;
    // After an acknowledged azimuth command the elevation goes next when it
    // has moved too.
    bool m_azimuthAwaitingAnswer = false;
    bool m_elevationNext = false;
    quint16 m_staleCount = 0;
    bool m_parkingActive = false;
    bool m_parkingElevationPending = false;
};
