// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/rotatorsteering.h"

void RotatorSteering::resetLastValues()
{
    m_lastAzimuth = -1.0;
    m_lastElevation = -1.0;
    m_azimuthAwaitingAnswer = false;
    m_elevationNext = false;
}

void RotatorSteering::repetition(quint32 repetitionSeconds)
{
    if (!pending.isEmpty()) {
        if (m_staleCount > rotator::staleCommandLimit(repetitionSeconds))
            pending.clear();
        ++m_staleCount;
    } else {
        m_staleCount = 1;
    }
}

std::optional<RotatorAxis> RotatorSteering::plan(double azimuth, double elevation, double azimuthBand,
                                                 double elevationBand, bool elevationFirst)
{
    if (!pending.isEmpty())
        return std::nullopt;
    const bool elevationMoved = rotator::movedBeyond(elevation, m_lastElevation, elevationBand);
    const rotator::Step step
        = rotator::nextStep(rotator::movedBeyond(azimuth, m_lastAzimuth, azimuthBand), elevationMoved,
                            m_elevationNext || (elevationFirst && elevationMoved));
    m_elevationNext = false;
    if (step == rotator::Step::None)
        return std::nullopt;
    m_azimuthAwaitingAnswer = step == rotator::Step::Azimuth;
    if (step == rotator::Step::Azimuth) {
        m_lastAzimuth = azimuth;
        return RotatorAxis::Azimuth;
    }
    m_lastElevation = elevation;
    return RotatorAxis::Elevation;
}

void RotatorSteering::parkingStarted(bool oneCommandMovesBoth)
{
    m_parkingActive = true;
    m_parkingElevationPending = !oneCommandMovesBoth;
}

bool RotatorSteering::accepted()
{
    pending.clear();
    m_elevationNext = m_azimuthAwaitingAnswer;
    m_azimuthAwaitingAnswer = false;
    const bool elevationStep = m_parkingElevationPending;
    m_parkingElevationPending = false;
    return elevationStep;
}

void RotatorSteering::refused()
{
    m_parkingElevationPending = false;
    pending.clear();
}
