// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

class QApplication;

// `vestrel --demo`: the real main window on a simulated station (DemoStation)
// with the "Station simulator" window beside it; automatic also does the
// operator's first steps (DemoAutopilot). Returns the exit code once the main
// window is closed or the process is asked to terminate; the station is then
// gone with its ptys and scratch directory. rate: --demo-rate, when given
// (see DemoClock).
int runDemo(QApplication &application, bool automatic, std::optional<double> rate = std::nullopt);
