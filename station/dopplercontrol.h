// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/trackingdata.h"

#include <optional>

// Which of the record's two Doppler shifts "Track frequency" follows.
enum class DopplerShift { Home, Dx };

// The Doppler rule, free of ports and widgets: the working frequency taken
// from the radio's readout, and the frequency each repetition writes.
class DopplerControl
{
public:
    // The radio's readout; followed until tracking starts.
    void frequencyRead(double mhz);
    // "Track frequency" ticked: the readout with the last shift taken off
    // becomes the working frequency. Unticked: the readout is followed again.
    void setTracking(bool on);
    // The shift of each repetition's record; the next engagement takes it off.
    void recordShifts(const TrackingRecord &record);
    // The corrected frequency in Hz for this record: the shift added while
    // receiving, and taken off while transmitting with "PTT" ticked.
    std::optional<double> correctedHz(const TrackingRecord &record) const;
    // Port B closed or back to Manual: nothing is known any more.
    void stop();
    // Back after the radio's link was lost: tracking on the same working frequency.
    void resume(double workingMHz, bool pttTicked);
    void resetShifts() { m_lastHome = m_lastDx = 0.0; }
    // A frequency set through the station while tracking: the working
    // frequency it gives.
    void setWorking(double mhz) { m_workingMHz = mhz; }
    // The last record's shift as a write now adds it, in Hz: taken off
    // while transmitting with "PTT" ticked.
    double lastShiftHz() const;

    DopplerShift shift = DopplerShift::Home;
    bool ptt = false;
    bool transmitting = false;
    bool tracking() const { return m_tracking; }
    double workingMHz() const { return m_workingMHz; }
    double engagedFromMHz() const { return m_engagedFrom; }

private:
    bool m_tracking = false;
    double m_workingMHz = 0.0;
    double m_engagedFrom = 0.0;
    double m_lastHome = 0.0;
    double m_lastDx = 0.0;
};
