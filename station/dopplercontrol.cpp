// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/dopplercontrol.h"

void DopplerControl::frequencyRead(double mhz)
{
    if (!m_tracking)
        m_workingMHz = mhz;
}

void DopplerControl::setTracking(bool on)
{
    if (on == m_tracking)
        return;
    m_tracking = on;
    if (!on)
        return;
    m_engagedFrom = m_workingMHz;
    m_workingMHz -= (shift == DopplerShift::Dx ? m_lastDx : m_lastHome) / 1000000.0;
}

void DopplerControl::recordShifts(const TrackingRecord &record)
{
    m_lastHome = record.dopplerHome;
    m_lastDx = record.dopplerDx;
}

std::optional<double> DopplerControl::correctedHz(const TrackingRecord &record) const
{
    if (!m_tracking)
        return std::nullopt;
    const double value = shift == DopplerShift::Home ? record.dopplerHome : record.dopplerDx;
    return m_workingMHz * 1000000.0 + (transmitting && ptt ? -value : value);
}

double DopplerControl::lastShiftHz() const
{
    const double value = shift == DopplerShift::Home ? m_lastHome : m_lastDx;
    return transmitting && ptt ? -value : value;
}

void DopplerControl::stop()
{
    m_tracking = false;
    m_workingMHz = 0.0;
    ptt = false;
}

void DopplerControl::resume(double workingMHz, bool pttTicked)
{
    m_tracking = true;
    m_workingMHz = workingMHz;
    m_engagedFrom = workingMHz;
    ptt = pttTicked;
}
