// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The whole station tracking with both ports, for tests that disturb it.

#include "faulttesting.h"
#include "windowtesting.h"

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QCheckBox>
#include <QtTest>

namespace faulttesting {

using FaultStation = windowtesting::Station<SimRotator, SimTransceiver>;

constexpr int settleMs = 20000;  // generous: the machine is shared

inline void engageDoppler(FaultStation &s)
{
    auto *doppler = s.w<QCheckBox>("checkDoppler");
    QTRY_VERIFY_WITH_TIMEOUT(doppler->isEnabled(), settleMs);
    doppler->click();
    QVERIFY(doppler->isChecked());
}

// Both ports open in Auto, "Track frequency" on, and a repetition every
// 250 ms (made here, the window's own timer being far away).
inline void startTracking(FaultStation &s, QTimer &cycles)
{
    s.selectData(windowtesting::trackLine(100, 10, 0, 500));
    s.setAutoA(true);
    s.setAutoB(true);
    s.clickOpenA();
    s.clickOpenB();
    QVERIFY(s.window->isTrackingActive());
    engageDoppler(s);
    QObject::connect(&cycles, &QTimer::timeout, s.window.get(), &Qt_Vestrel::timerTimeout);
    cycles.start(250);
}

// The antenna reaches the target and the radio the corrected frequency, and
// nothing but well-formed commands went to the rotator.
inline void converge(FaultStation &s, double azimuth, double elevation, double dopplerHome)
{
    s.writeData(windowtesting::trackLine(azimuth, elevation, 0, dopplerHome));
    const auto there = [&] {
        return s.rotator.azimuth() == azimuth && s.rotator.elevation() == elevation
            && s.radio.frequency() == dopplerRuleHz(s.window->workingFrequency(), dopplerHome);
    };
    QTRY_VERIFY_WITH_TIMEOUT(there(), settleMs);
    for (const QString &line : s.rotator.commands())
        QVERIFY2(wellFormedRotatorCommand(line), qPrintable(line));
}

} // namespace faulttesting
