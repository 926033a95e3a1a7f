// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

class DemoStation;
class QApplication;
class Qt_Vestrel;

// `vestrel --demo`: the real main window on a simulated station (DemoStation)
// with the "Station simulator" window beside it; automatic also does the
// operator's first steps (DemoAutopilot). Returns the exit code once the main
// window is closed or the process is asked to terminate; the station is then
// gone with its ptys and scratch directory. rate: --demo-rate, when given
// (see DemoClock); sun: --demo-sun, the clock where the Sun is up and, when
// automatic, a cross-scan on it applied.
int runDemo(QApplication &application, bool automatic, std::optional<double> rate = std::nullopt, bool sun = false);

// The main window's station on the demo station: its clock, and the
// simulated receiver hearing the target it tracks, offered to "Calibrate...".
// sun: the window tracks the Sun rather than the Moon, which may be down,
// so that the antenna stays on a target that is up after a calibration.
void joinDemo(Qt_Vestrel &window, DemoStation &station, bool sun = false);
