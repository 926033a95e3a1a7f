// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/dopplermethod.h"

#include <QString>

// How the radio is kept on the Doppler-corrected frequency: the method, the
// sked frequency, the transverter and split. Kept in a file of its own beside
// store.cfg; a station that never changes it never gets the file, and keeps
// the specified rule.
struct DopplerSettings {
    DopplerMethod method = DopplerMethod::Specified;
    double skedMHz = 432.065;
    Transverter transverter;
    bool split = false;  // on radios that hold a transmit VFO of their own
    // A radio that cannot retune while transmitting gets one transmit
    // frequency per transmit period, meant for its middle.
    bool holdTransmit = false;
    int transmitPeriodSeconds = 60;
    // A key the station holds (a client's "T 1") is let go after this long:
    // a Q65-120 period with Tune before it fits. 0: never.
    int transmitLimitSeconds = 180;
    static constexpr int longestTransmitLimitSeconds = 3600;
    // "PTT": the shift taken off rather than added while transmitting.
    bool ptt = false;

    bool operator==(const DopplerSettings &other) const;
    bool operator!=(const DopplerSettings &other) const { return !(*this == other); }

    static QString defaultPath() { return QStringLiteral("doppler.cfg"); }
    static DopplerSettings read(const QString &path = defaultPath());
    bool write(const QString &path = defaultPath()) const;
};
